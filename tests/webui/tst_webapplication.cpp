#include "authcontroller.h"
#include "curlclient.h"
#include "password.h"
#include "server.h"
#include "webapplication.h"
#include "weblimits.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <chrono>

namespace {
const QString LOGIN = QStringLiteral("operator");
const QString PASSWORD = QStringLiteral("s3cret");
const QString LOGIN_PATH = QStringLiteral("/api/v1/auth/login");
const QString CSP = QStringLiteral(
    "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; script-src "
    "'self' 'unsafe-inline'; object-src 'none'; form-action 'self'; frame-ancestors 'self';");

QByteArray resource(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing resource>");
}

QString credentials(const QString& username, const QString& password)
{
    return QStringLiteral("username=%1&password=%2").arg(username, password);
}

// True when each of `times` logins with a wrong password was answered "Fails.".
bool failLogins(const CurlClient& client, int times)
{
    for (int attempt = 1; attempt <= times; ++attempt) {
        if (client.postForm(LOGIN_PATH, credentials(LOGIN, "wrong")).body != "Fails.")
            return false;
    }
    return true;
}
} // namespace

class TestWebApplication : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void servedFiles_data();
    void servedFiles();
    void gzipOnlyForLargeText_data();
    void gzipOnlyForLargeText();
    void securityHeaders_data();
    void securityHeaders();
    void refused_data();
    void refused();

    void sessionCookieAttributes();
    void sessionExpiry_data();
    void sessionExpiry();

    void banExpires();
    void expiredBansForgotten();

private:
    QString baseUrl(const Http::Server& server) const;
    // A loopback address no other request of the run comes from, so failed logins do not mix.
    QString freshAddress();
    CurlClient freshClient();

    WebApplication application {LOGIN, PASSWORD};
    Http::Server server {&application};
    int usedAddresses = 0;
    CurlClient sessionClient {QString()};
};

QString TestWebApplication::baseUrl(const Http::Server& server) const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
}

QString TestWebApplication::freshAddress()
{
    ++usedAddresses;
    return QStringLiteral("127.0.%1.%2").arg(usedAddresses / 250).arg(usedAddresses % 250 + 2);
}

CurlClient TestWebApplication::freshClient()
{
    CurlClient client(baseUrl(server));
    client.setSourceAddress(freshAddress());
    return client;
}

void TestWebApplication::initTestCase()
{
    // Every missing file is reported on the console; that is not what these tests look at.
    QLoggingCategory::setFilterRules("default.debug=false");
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    sessionClient = freshClient();
    QVERIFY(sessionClient.login(LOGIN, PASSWORD));
}

void TestWebApplication::servedFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QString>("cacheControl");

    const QString page = QStringLiteral("no-store");
    const QString styles = QStringLiteral("private, max-age=43200");
    const QString images = QStringLiteral("private, max-age=604800");
    QTest::newRow("login page") << "/" << false << ":/www/public/index.html"
                                << "text/html" << page;
    QTest::newRow("main page") << "/" << true << ":/www/private/index.html"
                               << "text/html" << page;
    QTest::newRow("private logo") << "/images/Tarvex.png" << true
                                  << ":/www/private/images/Tarvex.png"
                                  << "image/png" << images;
    QTest::newRow("public style for a session")
        << "/css/login.css" << true << ":/www/public/css/login.css"
        << "text/css" << styles;
}

void TestWebApplication::servedFiles()
{
    QFETCH(QString, path);
    QFETCH(bool, loggedIn);
    QFETCH(QString, resource);
    QFETCH(QString, contentType);
    QFETCH(QString, cacheControl);

    const HttpAnswer answer = loggedIn ? sessionClient.get(path) : freshClient().get(path);

    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, ::resource(resource));
    QCOMPARE(answer.headers.value("content-type"), contentType);
    QCOMPARE(answer.headers.value("cache-control"), cacheControl);
}

void TestWebApplication::gzipOnlyForLargeText_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("contentEncoding");

    QTest::newRow("large page") << "/"
                                << "gzip";
    QTest::newRow("small style sheet") << "/css/noscript.css" << QString();
}

// Asked for gzip, a logged-in browser gets it for text above the size where it pays off.
void TestWebApplication::gzipOnlyForLargeText()
{
    QFETCH(QString, path);
    QFETCH(QString, contentEncoding);

    const HttpAnswer answer = sessionClient.send({"-H", "Accept-Encoding: gzip"}, path);

    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.headers.value("content-encoding"), contentEncoding);
}

void TestWebApplication::securityHeaders_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("value");

    const QList<QPair<QString, QString>> headers = {
        {"x-xss-protection", "1; mode=block"},
        {"x-content-type-options", "nosniff"},
        {"referrer-policy", "same-origin"},
        {"x-frame-options", "SAMEORIGIN"},
        {"content-security-policy", CSP},
    };
    const QList<QPair<const char*, QString>> answers = {
        {"file", "/"},
        {"missing file", "/nosuch.png"},
        {"api refusal", "/api/v1/app/getDevices"},
    };
    for (const auto& answer : answers) {
        for (const auto& header : headers) {
            QTest::addRow("%s %s", answer.first, qPrintable(header.first))
                << answer.second << header.first << header.second;
        }
    }
}

void TestWebApplication::securityHeaders()
{
    QFETCH(QString, path);
    QFETCH(QString, header);
    QFETCH(QString, value);

    const HttpAnswer answer = freshClient().get(path);

    QCOMPARE(answer.headers.value(header), value);
}

// Requests refused, all made without a session.
void TestWebApplication::refused_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    const QString get = QStringLiteral("GET");
    const QString post = QStringLiteral("POST");
    const QByteArray notFound = "Not Found";
    const QByteArray internal = "Internal Server Error";
    QTest::newRow("private file anonymous") << get << "/scripts/init.js" << 404 << notFound;
    QTest::newRow("missing file") << get << "/nosuch.html" << 404 << notFound;
    QTest::newRow("dot dot") << get << "/../private/index.html" << 500 << internal;
    QTest::newRow("encoded dot dot") << get << "/%2e%2e/private/index.html" << 500 << internal;
    QTest::newRow("unknown scope") << post << "/api/v1/nosuch/x" << 404 << notFound;
    QTest::newRow("session needed")
        << post << "/api/v1/auth/logout" << 403 << QByteArray("Forbidden");
    QTest::newRow("login by GET") << get << "/api/v1/auth/login" << 405
                                  << QByteArray("Method Not Allowed");
}

void TestWebApplication::refused()
{
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    const HttpAnswer answer = freshClient().send({"-X", method}, path);

    QCOMPARE(answer.status, status);
    QCOMPARE(answer.body, body);
}

void TestWebApplication::sessionCookieAttributes()
{
    const HttpAnswer answer = freshClient().postForm(LOGIN_PATH, credentials(LOGIN, PASSWORD));

    const QString cookie = answer.headers.value("set-cookie");
    const QRegularExpression expected("^SID=[A-Za-z0-9+/]{32}; HttpOnly; path=/; SameSite=Strict$");
    QVERIFY2(expected.match(cookie).hasMatch(), qPrintable(cookie));
}

void TestWebApplication::sessionExpiry_data()
{
    // Milliseconds the clock moves before each request after the login; negative turns it back.
    QTest::addColumn<QList<qint64>>("idleMsecs");
    QTest::addColumn<bool>("loggedIn");

    const qint64 timeout = 10000 * 1000;
    QTest::newRow("used at the time-out") << QList<qint64> {timeout} << true;
    QTest::newRow("idle beyond the time-out") << QList<qint64> {timeout + 1} << false;
    QTest::newRow("each use restarts the wait") << QList<qint64> {timeout, timeout} << true;
    QTest::newRow("refused id with time turned back")
        << QList<qint64> {timeout + 1, -(timeout + 1)} << false;
}

// The last request of the row shows whether the session survived the idle times before it.
void TestWebApplication::sessionExpiry()
{
    QFETCH(QList<qint64>, idleMsecs);
    QFETCH(bool, loggedIn);
    qint64 now = 0;
    WebApplication timed(LOGIN, PASSWORD, nullptr, [&now] { return now; });
    Http::Server timedServer(&timed);
    QVERIFY(timedServer.listen(QHostAddress::LocalHost, 0));
    CurlClient client(baseUrl(timedServer));
    client.setSourceAddress(freshAddress());
    QVERIFY(client.login(LOGIN, PASSWORD));

    QByteArray page;
    for (const qint64 idle : idleMsecs) {
        now += idle;
        page = client.get("/").body;
    }

    QCOMPARE(page, resource(loggedIn ? ":/www/private/index.html" : ":/www/public/index.html"));
}

void TestWebApplication::banExpires()
{
    CurlClient client = freshClient();
    QVERIFY(failLogins(client, MAX_FAILED_LOGINS - 1));
    QElapsedTimer sinceBan;
    sinceBan.start();
    QVERIFY(failLogins(client, 1));

    QTRY_VERIFY_WITH_TIMEOUT(
        client.postForm(LOGIN_PATH, credentials(LOGIN, PASSWORD)).status == 200, 60000);
    QVERIFY2(sinceBan.elapsed() >= LOGIN_BAN_DURATION.count(),
        qPrintable(QString::number(sinceBan.elapsed())));
}

void TestWebApplication::expiredBansForgotten()
{
    // An application of its own, whose bans are short enough to run out during the test.
    WebApplication shortBans(LOGIN, PASSWORD);
    Http::Server shortBanServer(&shortBans);
    QVERIFY(shortBanServer.listen(QHostAddress::LocalHost, 0));
    const std::chrono::milliseconds banDuration(200);
    auto* auth = new AuthController(&shortBans, &shortBans, banDuration);
    auth->setUsername(LOGIN);
    auth->setPasswordHash(Utils::Password::PBKDF2::generate(PASSWORD));
    shortBans.registerAPIController("auth", auth);
    CurlClient banned(baseUrl(shortBanServer));
    banned.setSourceAddress(freshAddress());
    QVERIFY(failLogins(banned, MAX_FAILED_LOGINS));
    QElapsedTimer sinceBan;
    sinceBan.start();
    QTRY_VERIFY(sinceBan.hasExpired(2 * banDuration.count()));

    // The banned address never comes back; another address fails once.
    CurlClient other(baseUrl(shortBanServer));
    other.setSourceAddress(freshAddress());
    QVERIFY(failLogins(other, 1));

    QCOMPARE(auth->trackedClientCount(), 1);
}

QTEST_GUILESS_MAIN(TestWebApplication)
#include "tst_webapplication.moc"
