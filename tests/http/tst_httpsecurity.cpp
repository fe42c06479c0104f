#include "netutils.h"
#include "password.h"
#include "random.h"
#include "sslkey.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Utils::Password;

namespace {
// "password" salted with "salt", 100000 iterations of PBKDF2-HMAC-SHA512, 64 bytes:
// f5d17022...18bd7581, as Python's hashlib.pbkdf2_hmac and `openssl kdf` both give.
const QByteArray KNOWN_HASH = "c2FsdA==:9dFwIslq9GwKHcSaWLvmVKKOmBBIg+SvTel0zaLHQSLdCC9BBak/"
                              "yAaSyk6xp4TP7agb+qM/UZLMkUPYGL11gQ==";
const quint32 MAX_WORD = 4294967295u;
} // namespace

class TestHttpSecurity : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void knownHashVerifies_data();
    void knownHashVerifies();
    void malformedStoredHashFails_data();
    void malformedStoredHashFails();
    void generatedHashHasSaltColonKey();
    void generatedHashesOfOnePasswordDiffer();
    void generatedHashVerifies_data();
    void generatedHashVerifies();
    void slowEquals_data();
    void slowEquals();
    void randWithEqualBoundsReturnsThem();
    void randCoversTheRangeWithoutItsEnd();
    void randNeverReachesTheLargestWord();
    void keyLoads_data();
    void keyLoads();
    void certificateChainLoadsInFileOrder();
    void damagedCertificateSpoilsTheChain_data();
    void damagedCertificateSpoilsTheChain();

private:
    QByteArray file(const QString& name) const;

    QTemporaryDir dir;
};

// Keys and certificates of every usual form, made by the openssl tool.
void TestHttpSecurity::initTestCase()
{
    for (const char* command : {"ecparam -name prime256v1 -genkey -noout -out ec.pem",
             "pkey -in ec.pem -out ec-pkcs8.pem", "pkey -in ec.pem -outform DER -out ec.der",
             "genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa-pkcs8.pem",
             "pkey -in rsa-pkcs8.pem -traditional -out rsa-pkcs1.pem",
             "pkey -in ec.pem -aes256 -passout pass:secret -out ec-encrypted.pem",
             "req -x509 -key ec.pem -subj /CN=leaf -days 2 -out leaf.pem",
             "req -x509 -key rsa-pkcs8.pem -subj /CN=ca -days 2 -out ca.pem"}) {
        QProcess openssl;
        openssl.setWorkingDirectory(dir.path());
        openssl.start(QStringLiteral("openssl"), QString::fromLatin1(command).split(' '));
        QVERIFY2(openssl.waitForFinished(60000), command);
        QVERIFY2(openssl.exitCode() == 0, command);
    }
}

QByteArray TestHttpSecurity::file(const QString& name) const
{
    QFile f(dir.filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestHttpSecurity::knownHashVerifies_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("verified");

    QTest::newRow("right password") << "password" << true;
    QTest::newRow("other letter case") << "Password" << false;
    QTest::newRow("empty") << "" << false;
}

void TestHttpSecurity::knownHashVerifies()
{
    QFETCH(QString, password);

    QTEST(PBKDF2::verify(KNOWN_HASH, password), "verified");
}

void TestHttpSecurity::malformedStoredHashFails_data()
{
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no colon") << QByteArray(KNOWN_HASH).replace(':', "");
    QTest::newRow("three pieces") << KNOWN_HASH + ":AAAA";
    QTest::newRow("leading colon, empty salt") << KNOWN_HASH.mid(8);
    QTest::newRow("key cut short") << KNOWN_HASH.chopped(4);
    QTest::newRow("other salt") << "c2FsdQ==" + KNOWN_HASH.mid(8);
}

void TestHttpSecurity::malformedStoredHashFails()
{
    QFETCH(QByteArray, stored);

    QVERIFY(!PBKDF2::verify(stored, QByteArray("password")));
}

// A 16-byte salt and a 64-byte key in Base64.
void TestHttpSecurity::generatedHashHasSaltColonKey()
{
    const QByteArray stored = PBKDF2::generate(QStringLiteral("abc"));

    QCOMPARE(stored.size(), 113);
    QCOMPARE(stored.indexOf(':'), 24);
}

void TestHttpSecurity::generatedHashesOfOnePasswordDiffer()
{
    QVERIFY(PBKDF2::generate(QStringLiteral("abc")) != PBKDF2::generate(QStringLiteral("abc")));
}

void TestHttpSecurity::generatedHashVerifies_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("attempt");
    QTest::addColumn<bool>("verified");

    QTest::newRow("abc") << "abc" << QByteArray("abc") << true;
    QTest::newRow("abd") << "abc" << QByteArray("abd") << false;
    QTest::newRow("text hashed as UTF-8")
        << QString::fromUtf8("пароль") << QString::fromUtf8("пароль").toUtf8() << true;
}

void TestHttpSecurity::generatedHashVerifies()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, attempt);

    QTEST(PBKDF2::verify(PBKDF2::generate(password), attempt), "verified");
}

void TestHttpSecurity::slowEquals_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<bool>("equal");

    QTest::newRow("both empty") << QByteArray() << QByteArray() << true;
    QTest::newRow("same") << QByteArray("abc") << QByteArray("abc") << true;
    QTest::newRow("prefix") << QByteArray("ab") << QByteArray("abc") << false;
    QTest::newRow("longer") << QByteArray("abc") << QByteArray("ab") << false;
    QTest::newRow("last byte differs") << QByteArray("abc") << QByteArray("abd") << false;
    QTest::newRow("high bit against zero") << QByteArray("\x80") << QByteArray(1, '\0') << false;
}

void TestHttpSecurity::slowEquals()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);

    QTEST(Utils::Password::slowEquals(a, b), "equal");
}

void TestHttpSecurity::randWithEqualBoundsReturnsThem()
{
    for (int i = 0; i < 100; ++i)
        QCOMPARE(Utils::Random::rand(5, 5), 5u);
}

void TestHttpSecurity::randCoversTheRangeWithoutItsEnd()
{
    QSet<quint32> seen;
    for (int i = 0; i < 2000; ++i)
        seen.insert(Utils::Random::rand(0, 10));

    QCOMPARE(seen, QSet<quint32>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

void TestHttpSecurity::randNeverReachesTheLargestWord()
{
    for (int i = 0; i < 2000; ++i)
        QVERIFY(Utils::Random::rand(MAX_WORD - 9, MAX_WORD) < MAX_WORD);
}

void TestHttpSecurity::keyLoads_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<int>("algorithm");

    QTest::newRow("EC, SEC1 PEM") << "ec.pem" << true << int(QSsl::Ec);
    QTest::newRow("EC, PKCS#8 PEM") << "ec-pkcs8.pem" << true << int(QSsl::Ec);
    QTest::newRow("RSA, PKCS#8 PEM") << "rsa-pkcs8.pem" << true << int(QSsl::Rsa);
    QTest::newRow("RSA, PKCS#1 PEM") << "rsa-pkcs1.pem" << true << int(QSsl::Rsa);
    QTest::newRow("DER") << "ec.der" << false << int(QSsl::Opaque);
    QTest::newRow("encrypted PEM") << "ec-encrypted.pem" << false << int(QSsl::Opaque);
    QTest::newRow("certificate") << "leaf.pem" << false << int(QSsl::Opaque);
}

void TestHttpSecurity::keyLoads()
{
    QFETCH(QString, fileName);
    QFETCH(bool, loaded);

    const QSslKey key = Utils::SSLKey::load(file(fileName));

    QCOMPARE(!key.isNull(), loaded);
    if (loaded)
        QTEST(int(key.algorithm()), "algorithm");
}

void TestHttpSecurity::certificateChainLoadsInFileOrder()
{
    QStringList names;
    for (const QSslCertificate& certificate :
        Utils::Net::loadSSLCertificate(file("leaf.pem") + file("ca.pem")))
        names += certificate.subjectInfo(QSslCertificate::CommonName);

    QCOMPARE(names, QStringList({"leaf", "ca"}));
}

void TestHttpSecurity::damagedCertificateSpoilsTheChain_data()
{
    QTest::addColumn<QByteArray>("pem");

    const QByteArray leaf = file("leaf.pem");
    const QByteArray ca = file("ca.pem");
    const QByteArray damaged = QByteArray(ca).replace(ca.indexOf('\n') + 30, 2, "*!");
    const QByteArray cut = QByteArray(ca).remove(ca.indexOf('\n') + 1, 200);
    QTest::newRow("damaged last") << leaf + damaged;
    QTest::newRow("damaged first") << damaged + leaf;
    QTest::newRow("cut last") << leaf + cut;
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("a key") << file("ec.pem");
}

void TestHttpSecurity::damagedCertificateSpoilsTheChain()
{
    QFETCH(QByteArray, pem);

    QCOMPARE(Utils::Net::loadSSLCertificate(pem).size(), 0);
}

QTEST_GUILESS_MAIN(TestHttpSecurity)
#include "tst_httpsecurity.moc"
