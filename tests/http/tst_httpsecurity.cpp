#include "http/netutils.h"
#include "http/password.h"
#include "http/random.h"
#include "http/sslkey.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestHttpSecurity : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pbkdf2KnownHash();
    void pbkdf2RoundTrip();
    void pbkdf2Rejects_data();
    void pbkdf2Rejects();
    void slowEquals();
    void randomBounds();
    void privateKeys_data();
    void privateKeys();
    void certificates();

private:
    QByteArray file(const QString& name) const;
    void openssl(const QStringList& arguments);

    QTemporaryDir m_dir;
};

QByteArray TestHttpSecurity::file(const QString& name) const
{
    QFile f(m_dir.filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestHttpSecurity::openssl(const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(QStringLiteral("openssl"), arguments);
    QVERIFY2(process.waitForFinished(60000), qPrintable(arguments.join(' ')));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
}

void TestHttpSecurity::initTestCase()
{
    QVERIFY(m_dir.isValid());
    openssl({"ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", "ec-sec1.pem"});
    openssl({"pkey", "-in", "ec-sec1.pem", "-out", "ec-pkcs8.pem"});
    openssl({"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out",
        "rsa-pkcs8.pem"});
    openssl({"pkey", "-in", "rsa-pkcs8.pem", "-traditional", "-out", "rsa-pkcs1.pem"});
    openssl({"pkey", "-in", "ec-sec1.pem", "-outform", "DER", "-out", "ec.der"});
    openssl({"pkey", "-in", "ec-sec1.pem", "-aes256", "-passout", "pass:secret", "-out",
        "ec-encrypted.pem"});
    openssl({"req", "-x509", "-key", "ec-sec1.pem", "-subj", "/CN=leaf", "-days", "2", "-out",
        "leaf.pem"});
    openssl({"req", "-x509", "-key", "rsa-pkcs8.pem", "-subj", "/CN=ca", "-days", "2", "-out",
        "ca.pem"});
}

void TestHttpSecurity::pbkdf2KnownHash()
{
    // Password "password" and salt "salt" with 100000 iterations of PBKDF2-HMAC-SHA512, 64
    // bytes: f5d17022...18bd7581, as Python's hashlib.pbkdf2_hmac and `openssl kdf` both give.
    const QByteArray stored = "c2FsdA==:9dFwIslq9GwKHcSaWLvmVKKOmBBIg+SvTel0zaLHQSLdCC9BBak/"
                              "yAaSyk6xp4TP7agb+qM/UZLMkUPYGL11gQ==";
    QVERIFY(Utils::Password::PBKDF2::verify(stored, QStringLiteral("password")));
    QVERIFY(Utils::Password::PBKDF2::verify(stored, QByteArray("password")));
    QVERIFY(!Utils::Password::PBKDF2::verify(stored, QStringLiteral("Password")));
}

void TestHttpSecurity::pbkdf2RoundTrip()
{
    using namespace Utils::Password::PBKDF2;
    const QByteArray first = generate(QStringLiteral("abc"));
    const QByteArray second = generate(QStringLiteral("abc"));
    QCOMPARE(first.size(), 113);
    QCOMPARE(first.indexOf(':'), 24);
    QVERIFY(first != second);
    QVERIFY(verify(first, QStringLiteral("abc")));
    QVERIFY(verify(second, QByteArray("abc")));
    QVERIFY(!verify(first, QStringLiteral("abd")));

    // Text passwords are hashed as UTF-8.
    const QByteArray unicode = generate(QStringLiteral("\u043f\u0430\u0440\u043e\u043b\u044c"));
    QVERIFY(verify(unicode, QString::fromUtf8("пароль").toUtf8()));
}

void TestHttpSecurity::pbkdf2Rejects_data()
{
    QTest::addColumn<QByteArray>("stored");
    const QByteArray good = "c2FsdA==:9dFwIslq9GwKHcSaWLvmVKKOmBBIg+SvTel0zaLHQSLdCC9BBak/"
                            "yAaSyk6xp4TP7agb+qM/UZLMkUPYGL11gQ==";
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no colon") << QByteArray(good).replace(':', "");
    QTest::newRow("three pieces") << good + ":AAAA";
    QTest::newRow("leading colon") << ":" + good.mid(good.indexOf(':') + 1);
    QTest::newRow("key cut short") << good.left(good.size() - 4);
    QTest::newRow("other salt") << "c2FsdQ==" + good.mid(good.indexOf(':'));
}

void TestHttpSecurity::pbkdf2Rejects()
{
    QFETCH(QByteArray, stored);
    QVERIFY(!Utils::Password::PBKDF2::verify(stored, QStringLiteral("password")));
}

void TestHttpSecurity::slowEquals()
{
    using Utils::Password::slowEquals;
    QVERIFY(slowEquals(QByteArray(), QByteArray()));
    QVERIFY(slowEquals("abc", "abc"));
    QVERIFY(!slowEquals("ab", "abc"));
    QVERIFY(!slowEquals("abc", "ab"));
    QVERIFY(!slowEquals("abc", "abd"));
    QVERIFY(!slowEquals(QByteArray("\x80", 1), QByteArray("\x00", 1)));
}

void TestHttpSecurity::randomBounds()
{
    using Utils::Random::rand;
    QSet<quint32> seen;
    for (int i = 0; i < 2000; ++i) {
        QCOMPARE(rand(5, 5), 5u);
        const quint32 value = rand(0, 10);
        QVERIFY(value < 10);
        seen.insert(value);
        QVERIFY(rand(0xFFFFFFF0, 0xFFFFFFFF) < 0xFFFFFFFF);
    }
    QCOMPARE(seen.size(), 10);
}

void TestHttpSecurity::privateKeys_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("algorithm");

    QTest::newRow("EC, SEC1 PEM") << "ec-sec1.pem" << true << int(QSsl::Ec);
    QTest::newRow("EC, PKCS#8 PEM") << "ec-pkcs8.pem" << true << int(QSsl::Ec);
    QTest::newRow("RSA, PKCS#8 PEM") << "rsa-pkcs8.pem" << true << int(QSsl::Rsa);
    QTest::newRow("RSA, PKCS#1 PEM") << "rsa-pkcs1.pem" << true << int(QSsl::Rsa);
    QTest::newRow("DER") << "ec.der" << false << 0;
    QTest::newRow("encrypted PEM") << "ec-encrypted.pem" << false << 0;
    QTest::newRow("certificate, not a key") << "leaf.pem" << false << 0;
    QTest::newRow("missing file") << "none.pem" << false << 0;
}

void TestHttpSecurity::privateKeys()
{
    QFETCH(QString, fileName);
    QFETCH(bool, valid);
    QFETCH(int, algorithm);

    const QSslKey key = Utils::SSLKey::load(file(fileName));
    QCOMPARE(!key.isNull(), valid);
    if (valid) {
        QCOMPARE(int(key.algorithm()), algorithm);
        QCOMPARE(key.type(), QSsl::PrivateKey);
    }
}

void TestHttpSecurity::certificates()
{
    using Utils::Net::loadSSLCertificate;
    const QByteArray leaf = file("leaf.pem");
    const QByteArray ca = file("ca.pem");

    const QList<QSslCertificate> chain = loadSSLCertificate(leaf + ca);
    QCOMPARE(chain.size(), 2);
    QCOMPARE(chain.at(0).subjectInfo(QSslCertificate::CommonName), QStringList("leaf"));
    QCOMPARE(chain.at(1).subjectInfo(QSslCertificate::CommonName), QStringList("ca"));

    // One damaged block spoils the whole chain, wherever it is.
    QByteArray damaged = ca;
    damaged[damaged.indexOf('\n') + 30] = '*';
    damaged[damaged.indexOf('\n') + 31] = '!';
    QVERIFY(loadSSLCertificate(leaf + damaged).isEmpty());
    QVERIFY(loadSSLCertificate(damaged + leaf).isEmpty());
    QByteArray cut = ca;
    cut.remove(ca.indexOf('\n') + 1, 200);
    QVERIFY(loadSSLCertificate(leaf + cut).isEmpty());

    QVERIFY(loadSSLCertificate(QByteArray()).isEmpty());
    QVERIFY(loadSSLCertificate(file("ec-sec1.pem")).isEmpty());
}

QTEST_GUILESS_MAIN(TestHttpSecurity)
#include "tst_httpsecurity.moc"
