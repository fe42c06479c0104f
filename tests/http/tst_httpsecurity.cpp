#include "netutils.h"
#include "password.h"
#include "random.h"
#include "sslkey.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestHttpSecurity : public QObject
{
    Q_OBJECT
private slots:
    void passwordsAndRandom();
    void keysAndCertificates();
};

void TestHttpSecurity::passwordsAndRandom()
{
    using namespace Utils::Password;
    // "password" salted with "salt", 100000 iterations of PBKDF2-HMAC-SHA512, 64 bytes:
    // f5d17022...18bd7581, as Python's hashlib.pbkdf2_hmac and `openssl kdf` both give.
    const QByteArray known = "c2FsdA==:9dFwIslq9GwKHcSaWLvmVKKOmBBIg+SvTel0zaLHQSLdCC9BBak/"
                             "yAaSyk6xp4TP7agb+qM/UZLMkUPYGL11gQ==";
    QVERIFY(PBKDF2::verify(known, QStringLiteral("password")));
    QVERIFY(!PBKDF2::verify(known, QStringLiteral("Password")));
    for (const QByteArray& stored : {QByteArray(), QByteArray(known).replace(':', ""),
             known + ":AAAA", known.mid(8), known.chopped(4), "c2FsdQ==" + known.mid(8)})
        QVERIFY2(!PBKDF2::verify(stored, QByteArray("password")), stored.constData());

    // A fresh salt every time; text passwords are hashed as UTF-8.
    const QString text = QString::fromUtf8("пароль");
    const QByteArray stored = PBKDF2::generate(text);
    QVERIFY(stored.size() == 113 && stored.indexOf(':') == 24);
    QVERIFY(stored != PBKDF2::generate(text));
    QVERIFY(PBKDF2::verify(stored, text.toUtf8()) && !PBKDF2::verify(stored, text.chopped(1)));

    QVERIFY(slowEquals({}, {}) && slowEquals("abc", "abc") && !slowEquals("ab", "abc"));
    QVERIFY(!slowEquals("abc", "ab") && !slowEquals("abc", "abd")
        && !slowEquals("\x80", QByteArray(1, 0)));

    QSet<quint32> seen;
    for (int i = 0; i < 2000; ++i) {
        seen.insert(Utils::Random::rand(0, 10));
        QVERIFY(Utils::Random::rand(5, 5) == 5 && Utils::Random::rand(~0u - 9, ~0u) < ~0u);
    }
    QCOMPARE(seen, QSet<quint32>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

void TestHttpSecurity::keysAndCertificates()
{
    QTemporaryDir dir;
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
        QVERIFY2(openssl.waitForFinished(60000) && openssl.exitCode() == 0, command);
    }
    const auto file = [&](const char* name) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };

    // PEM keys in every usual form load; DER, encrypted keys and certificates do not.
    const QList<QPair<const char*, int>> keys = {{"ec.pem", QSsl::Ec}, {"ec-pkcs8.pem", QSsl::Ec},
        {"rsa-pkcs8.pem", QSsl::Rsa}, {"rsa-pkcs1.pem", QSsl::Rsa}, {"ec.der", -1},
        {"ec-encrypted.pem", -1}, {"leaf.pem", -1}};
    for (const auto& [name, algorithm] : keys) {
        const QSslKey key = Utils::SSLKey::load(file(name));
        QVERIFY2((key.isNull() ? -1 : int(key.algorithm())) == algorithm, name);
    }

    const QByteArray leaf = file("leaf.pem");
    const QByteArray ca = file("ca.pem");
    QStringList names;
    for (const QSslCertificate& certificate : Utils::Net::loadSSLCertificate(leaf + ca))
        names += certificate.subjectInfo(QSslCertificate::CommonName);
    QCOMPARE(names, QStringList({"leaf", "ca"}));
    // One damaged block spoils the whole chain, wherever it is.
    const QByteArray damaged = QByteArray(ca).replace(ca.indexOf('\n') + 30, 2, "*!");
    const QByteArray cut = QByteArray(ca).remove(ca.indexOf('\n') + 1, 200);
    for (const QByteArray& pem : {leaf + damaged, damaged + leaf, leaf + cut, {}, file("ec.pem")})
        QVERIFY(Utils::Net::loadSSLCertificate(pem).isEmpty());
}

QTEST_GUILESS_MAIN(TestHttpSecurity)
#include "tst_httpsecurity.moc"
