#include "apicontroller.h"
#include "apierror.h"
#include "authcontroller.h"
#include "curlclient.h"
#include "password.h"
#include "server.h"
#include "webapplication.h"

#include <QFile>
#include <QJsonObject>
#include <QtTest>

namespace {
const QString LOGIN = QStringLiteral("operator");
const QString PASSWORD = QStringLiteral("s3cret");
const QString LOGIN_PATH = QStringLiteral("/api/v1/auth/login");
const QString BAN_MESSAGE = QStringLiteral(
    "Your IP address has been banned after too many failed authentication attempts.");
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

// A scope whose actions show what the dispatcher hands a controller and how it answers.
class ProbeController : public APIController
{
    Q_OBJECT
public:
    explicit ProbeController(WebApplication* application)
        : APIController(application), application(application)
    {
    }

private slots:
    void paramsAction()
    {
        QJsonObject object;
        for (auto it = params().cbegin(); it != params().cend(); ++it)
            object[it.key()] = it.value();
        setResult(object);
    }
    void requireAction()
    {
        requireParams({QStringLiteral("a"), QStringLiteral("b")});
        setResult(QStringLiteral("passed"));
    }
    void conflictAction() { throw APIError(APIErrorType::Conflicting); }
    void clientAction() { setResult(application->clientId()); }

private:
    WebApplication* application;
};

class TestWebApplication : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void servedFiles_data();
    void servedFiles();
    void securityHeaders_data();
    void securityHeaders();
    void refused_data();
    void refused();
    void requestParameters_data();
    void requestParameters();
    void requiredParameters_data();
    void requiredParameters();
    void forwardedForIgnored();

    void sessionCookieAttributes();
    void logoutEndsSession();
    void cookieHeader_data();
    void cookieHeader();
    void sessionExpiry_data();
    void sessionExpiry();

    void loginAnswers_data();
    void loginAnswers();
    void loginWithSessionIgnoresCredentials();
    void successForgetsFailures();
    void banAfterFifthFailure();
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
    // Logged in once for the whole run.
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
    application.registerAPIController(QStringLiteral("probe"), new ProbeController(&application));
    for (const char* action : {"params", "require", "conflict", "client"})
        application.declarePublicAPI(QStringLiteral("probe/") + action);
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
        {"api result", "/api/v1/probe/params?a=1"},
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
    // An error without a message of its own answers with the text of its status.
    QTest::newRow("error without message")
        << post << "/api/v1/probe/conflict" << 409 << QByteArray("Conflict");
    QTest::newRow("non-slot method")
        << post << "/api/v1/probe/deleteLater" << 403 << QByteArray("Forbidden");
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

void TestWebApplication::requestParameters_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("query as UTF-8")
        << QStringList() << "/api/v1/probe/params?a=%C3%A9" << QByteArray(R"({"a":"é"})");
    QTest::newRow("form without query") << QStringList {"--data-raw", "f=1"}
                                        << "/api/v1/probe/params?q=2" << QByteArray(R"({"f":"1"})");
}

void TestWebApplication::requestParameters()
{
    QFETCH(QStringList, options);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);

    QCOMPARE(freshClient().send(options, path).body, body);
}

void TestWebApplication::requiredParameters_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    const QString json = "Content-Type: application/json";
    const QByteArray missing = "Required params not found!";
    QTest::newRow("form has both")
        << QStringList {"--data-raw", "a=1&b=2"} << 200 << QByteArray("passed");
    QTest::newRow("json has both") << QStringList {"-H", json, "--data-raw", R"({"a":1,"b":2})"}
                                   << 200 << QByteArray("passed");
    QTest::newRow("json has one") << QStringList {"-H", json, "--data-raw", R"({"b":2})"} << 400
                                  << missing;
}

void TestWebApplication::requiredParameters()
{
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    const HttpAnswer answer = freshClient().send(options, "/api/v1/probe/require");

    QCOMPARE(answer.status, status);
    QCOMPARE(answer.body, body);
}

void TestWebApplication::forwardedForIgnored()
{
    const QString address = freshAddress();
    CurlClient client(baseUrl(server));
    client.setSourceAddress(address);

    const HttpAnswer answer
        = client.send({"-H", "X-Forwarded-For: 10.1.2.3"}, "/api/v1/probe/client");

    QCOMPARE(QString::fromLatin1(answer.body), address);
}

void TestWebApplication::sessionCookieAttributes()
{
    const HttpAnswer answer = freshClient().postForm(LOGIN_PATH, credentials(LOGIN, PASSWORD));

    const QString cookie = answer.headers.value("set-cookie");
    const QRegularExpression expected("^SID=[A-Za-z0-9+/]{32}; HttpOnly; path=/; SameSite=Strict$");
    QVERIFY2(expected.match(cookie).hasMatch(), qPrintable(cookie));
}

void TestWebApplication::logoutEndsSession()
{
    CurlClient client = freshClient();
    QVERIFY(client.login(LOGIN, PASSWORD));
    QCOMPARE(client.post("/api/v1/auth/logout").status, 200);

    QCOMPARE(client.get("/").body, resource(":/www/public/index.html"));
}

void TestWebApplication::cookieHeader_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<bool>("loggedIn");

    QTest::newRow("later one wins") << "SID=stale; SID=%1" << true;
    QTest::newRow("later stale one wins") << "SID=%1; SID=stale" << false;
    QTest::newRow("other name") << "sid=%1" << false;
}

void TestWebApplication::cookieHeader()
{
    QFETCH(QString, header);
    QFETCH(bool, loggedIn);
    const QString sid = sessionClient.sessionCookie().section('=', 1);
    CurlClient client = freshClient();
    client.setCookie(header.arg(sid));

    const QByteArray page = client.get("/").body;

    QCOMPARE(page, resource(loggedIn ? ":/www/private/index.html" : ":/www/public/index.html"));
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

void TestWebApplication::loginAnswers_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("wrong password") << credentials(LOGIN, "s3creT") << QByteArray("Fails.");
    QTest::newRow("wrong user name") << credentials("Operator", PASSWORD) << QByteArray("Fails.");
    QTest::newRow("fields missing") << "x=1" << QByteArray("Fails.");
}

void TestWebApplication::loginAnswers()
{
    QFETCH(QString, form);
    QFETCH(QByteArray, body);

    const HttpAnswer answer = freshClient().postForm(LOGIN_PATH, form);

    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, body);
}

void TestWebApplication::loginWithSessionIgnoresCredentials()
{
    const HttpAnswer answer = sessionClient.postForm(LOGIN_PATH, credentials("x", "y"));

    QCOMPARE(answer.body, QByteArray("Ok."));
}

void TestWebApplication::successForgetsFailures()
{
    CurlClient client = freshClient();
    QVERIFY(failLogins(client, MAX_FAILED_LOGINS - 1));
    QVERIFY(client.login(LOGIN, PASSWORD));
    client.setCookie(QString());

    // Had the earlier failures counted, this one would be the fifth and start a ban.
    QVERIFY(failLogins(client, 1));
    QCOMPARE(client.postForm(LOGIN_PATH, credentials(LOGIN, PASSWORD)).body, "Ok.");
}

void TestWebApplication::banAfterFifthFailure()
{
    CurlClient client = freshClient();
    QVERIFY(failLogins(client, MAX_FAILED_LOGINS));

    const HttpAnswer answer = client.postForm(LOGIN_PATH, credentials(LOGIN, PASSWORD));

    QCOMPARE(answer.status, 403);
    QCOMPARE(QString::fromUtf8(answer.body), BAN_MESSAGE);
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
