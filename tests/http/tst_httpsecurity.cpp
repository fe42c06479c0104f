#include "password.h"
#include "random.h"

#include <QtTest>

using namespace Utils::Password;

namespace {
// "password" salted with "salt", 100000 iterations of PBKDF2-HMAC-SHA512, 64 bytes, as Python's
// hashlib.pbkdf2_hmac and `openssl kdf` both give.
const QByteArray KNOWN_HASH = "c2FsdA==:9dFwIslq9GwKHcSaWLvmVKKOmBBIg+SvTel0zaLHQSLdCC9BBak/"
                              "yAaSyk6xp4TP7agb+qM/UZLMkUPYGL11gQ==";
} // namespace

class TestHttpSecurity : public QObject
{
    Q_OBJECT
private slots:
    void verify_data();
    void verify();
    void generatedHashesOfOnePasswordDiffer();
    void randCoversTheRangeWithoutItsEnd();
};

void TestHttpSecurity::verify_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("verified");

    QTest::newRow("known hash") << KNOWN_HASH << "password" << true;
    QTest::newRow("known hash, other case") << KNOWN_HASH << "Password" << false;
    QTest::newRow("generated") << PBKDF2::generate(QStringLiteral("abc")) << "abc" << true;
    QTest::newRow("generated, other") << PBKDF2::generate(QStringLiteral("abc")) << "abd" << false;
    QTest::newRow("no colon") << QByteArray(KNOWN_HASH).replace(':', "") << "password" << false;
    QTest::newRow("three pieces") << KNOWN_HASH + ":AAAA"
                                  << "password" << false;
    // The derived key is compared whole, not only as far as the stored one goes.
    QTest::newRow("key cut short") << KNOWN_HASH.chopped(4) << "password" << false;
    QTest::newRow("empty salt") << KNOWN_HASH.mid(8) << "password" << false;
}

void TestHttpSecurity::verify()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, password);

    QTEST(PBKDF2::verify(stored, password), "verified");
}

void TestHttpSecurity::generatedHashesOfOnePasswordDiffer()
{
    QVERIFY(PBKDF2::generate(QStringLiteral("abc")) != PBKDF2::generate(QStringLiteral("abc")));
}

void TestHttpSecurity::randCoversTheRangeWithoutItsEnd()
{
    QSet<quint32> seen;
    for (int i = 0; i < 2000; ++i)
        seen.insert(Utils::Random::rand(0, 10));

    QCOMPARE(seen, QSet<quint32>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

QTEST_GUILESS_MAIN(TestHttpSecurity)
#include "tst_httpsecurity.moc"
