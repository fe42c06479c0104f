#include "csettings.h"
#include "curlclient.h"
#include "freeport.h"
#include "webui.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {
const QString LOGIN_PATH = QStringLiteral("/api/v1/auth/login");

QString httpUrl(quint16 port)
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

QString httpsUrl(quint16 port)
{
    return QStringLiteral("https://127.0.0.1:%1").arg(port);
}

QString credentials(const QString& username, const QString& password)
{
    return QStringLiteral("username=%1&password=%2").arg(username, password);
}

void setWebSetting(const QString& name, const QVariant& value)
{
    QVERIFY(CSettings::writeValue(QStringLiteral("webui/") + name, value));
}

// The console line of the web host: each message is written as one quoted text.
QString quoted(const QString& message)
{
    return QLatin1Char('"') + message + QLatin1Char('"');
}
} // namespace

class TestWebUI : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void listeningMessage_data();
    void listeningMessage();
    void credentials_data();
    void credentials();
    void reconfigureMovesPort();

    void httpsServesTls();
    void plainClientOnHttpsPort();
    void secureCookieOverHttps();
    void httpsFallback_data();
    void httpsFallback();

    void bindFailureSetsErrored();
    void bindFailureEmitsFatalError();

    void servesFromWebThread();
    void deletedWhenWebThreadEnds();

private:
    void useLoopbackPort();

    QTemporaryDir dir;
    CSettings* settings = nullptr;
    QString certificateFile;
    QString keyFile;
    quint16 port = 0;
};

void TestWebUI::initTestCase()
{
    QVERIFY(dir.isValid());
    settings = CSettings::getInstance(dir.filePath("settings.conf"));
    QVERIFY(settings);

    certificateFile = dir.filePath("cert.pem");
    keyFile = dir.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj",
            "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1", "-days", "2", "-keyout",
            keyFile, "-out", certificateFile});
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);
}

// Every test starts from a settings file without web settings.
void TestWebUI::init()
{
    settings->remove("webui");
    settings->sync();
}

void TestWebUI::useLoopbackPort()
{
    port = freePort();
    setWebSetting("ip", "127.0.0.1");
    setWebSetting("port", port);
}

void TestWebUI::listeningMessage_data()
{
    QTest::addColumn<QVariant>("ip");
    QTest::addColumn<QString>("shownAddress");

    QTest::newRow("address not set") << QVariant() << "*";
    QTest::newRow("every address") << QVariant("*") << "*";
    QTest::newRow("loopback") << QVariant("127.0.0.1") << "127.0.0.1";
}

void TestWebUI::listeningMessage()
{
    QFETCH(QVariant, ip);
    QFETCH(QString, shownAddress);
    port = freePort();
    setWebSetting("port", port);
    if (ip.isValid())
        setWebSetting("ip", ip);

    QTest::ignoreMessage(QtDebugMsg,
        qPrintable(quoted(QStringLiteral("Web UI: Now listening on IP: %1, port: %2")
                              .arg(shownAddress)
                              .arg(port))));
    WebUI webUI;

    QVERIFY(!webUI.isErrored());
}

void TestWebUI::credentials_data()
{
    QTest::addColumn<QVariant>("configuredLogin");
    QTest::addColumn<QVariant>("configuredPassword");
    QTest::addColumn<QString>("form");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("defaults") << QVariant() << QVariant() << ::credentials("admin", "6273")
                              << QByteArray("Ok.");
    QTest::newRow("configured") << QVariant("op") << QVariant("pw") << ::credentials("op", "pw")
                                << QByteArray("Ok.");
    QTest::newRow("defaults when configured")
        << QVariant("op") << QVariant("pw") << ::credentials("admin", "6273")
        << QByteArray("Fails.");
}

void TestWebUI::credentials()
{
    QFETCH(QVariant, configuredLogin);
    QFETCH(QVariant, configuredPassword);
    QFETCH(QString, form);
    QFETCH(QByteArray, body);
    useLoopbackPort();
    if (configuredLogin.isValid())
        setWebSetting("login", configuredLogin);
    if (configuredPassword.isValid())
        setWebSetting("password", configuredPassword);
    WebUI webUI;

    const HttpAnswer answer = CurlClient(httpUrl(port)).postForm(LOGIN_PATH, form);

    QCOMPARE(answer.body, body);
}

void TestWebUI::reconfigureMovesPort()
{
    useLoopbackPort();
    WebUI webUI;
    const quint16 newPort = freePort();
    setWebSetting("port", newPort);

    webUI.configure();

    QCOMPARE(CurlClient(httpUrl(newPort)).get("/").status, 200);
    QCOMPARE(CurlClient(httpUrl(port)).get("/").status, 0);
}

void TestWebUI::httpsServesTls()
{
    useLoopbackPort();
    setWebSetting("useHttps", true);
    setWebSetting("certFileName", certificateFile);
    setWebSetting("keyFileName", keyFile);

    QTest::ignoreMessage(QtDebugMsg, "\"Web UI: HTTPS setup successful\"");
    WebUI webUI;
    CurlClient client(httpsUrl(port));
    client.addOptions({"--cacert", certificateFile});

    QCOMPARE(client.get("/").status, 200);
}

void TestWebUI::plainClientOnHttpsPort()
{
    useLoopbackPort();
    setWebSetting("useHttps", true);
    setWebSetting("certFileName", certificateFile);
    setWebSetting("keyFileName", keyFile);
    WebUI webUI;
    QTcpSocket client;
    QByteArray received;
    connect(&client, &QTcpSocket::readyRead, [&] { received += client.readAll(); });

    client.connectToHost(QHostAddress::LocalHost, port);
    client.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");

    // The server gives up on the handshake, or at the latest drops the idle connection.
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 30000);
    QVERIFY2(!received.contains("HTTP/"), received.constData());
}

void TestWebUI::secureCookieOverHttps()
{
    useLoopbackPort();
    setWebSetting("useHttps", true);
    setWebSetting("certFileName", certificateFile);
    setWebSetting("keyFileName", keyFile);
    WebUI webUI;
    CurlClient client(httpsUrl(port));
    client.addOptions({"--cacert", certificateFile});

    const HttpAnswer answer = client.postForm(LOGIN_PATH, ::credentials("admin", "6273"));

    const QString cookie = answer.headers.value("set-cookie");
    const QRegularExpression expected(
        "^SID=[A-Za-z0-9+/]{32}; secure; HttpOnly; path=/; SameSite=Strict$");
    QVERIFY2(expected.match(cookie).hasMatch(), qPrintable(cookie));
}

void TestWebUI::httpsFallback_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QString>("key");

    QTest::newRow("no files set") << QString() << QString();
    QTest::newRow("key file missing") << "cert.pem"
                                      << "nosuch.pem";
    QTest::newRow("certificate is the key") << "key.pem"
                                            << "key.pem";
    QTest::newRow("key is the certificate") << "cert.pem"
                                            << "cert.pem";
}

void TestWebUI::httpsFallback()
{
    QFETCH(QString, certificate);
    QFETCH(QString, key);
    useLoopbackPort();
    setWebSetting("useHttps", true);
    setWebSetting("certFileName", certificate.isEmpty() ? QString() : dir.filePath(certificate));
    setWebSetting("keyFileName", key.isEmpty() ? QString() : dir.filePath(key));

    QTest::ignoreMessage(QtDebugMsg, "No valid certificate files has been found!");
    QTest::ignoreMessage(QtDebugMsg, "\"Web UI: HTTPS setup failed, fallback to HTTP\"");
    WebUI webUI;

    QCOMPARE(CurlClient(httpUrl(port)).get("/").status, 200);
}

void TestWebUI::bindFailureSetsErrored()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    setWebSetting("ip", "127.0.0.1");
    setWebSetting("port", occupant.serverPort());
    const QRegularExpression message(
        QStringLiteral("^\"Web UI: Unable to bind to IP: 127.0.0.1, port: %1. Reason: .+\"$")
            .arg(occupant.serverPort()));

    QTest::ignoreMessage(QtDebugMsg, message);
    QTest::ignoreMessage(QtCriticalMsg, message);
    WebUI webUI;

    QVERIFY(webUI.isErrored());
}

void TestWebUI::bindFailureEmitsFatalError()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    setWebSetting("ip", "127.0.0.1");
    setWebSetting("port", occupant.serverPort());
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^\"Web UI: Unable to bind"));
    WebUI webUI;
    QSignalSpy fatalError(&webUI, &WebUI::fatalError);

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^\"Web UI: Unable to bind"));
    webUI.configure();

    QCOMPARE(fatalError.count(), 1);
}

void TestWebUI::servesFromWebThread()
{
    useLoopbackPort();
    auto* webUI = new WebUI();
    QThread webThread;
    webUI->moveToThread(&webThread);
    connect(&webThread, &QThread::finished, webUI, &QObject::deleteLater);
    webThread.start();

    // Nothing runs in this thread's event loop while curl waits: the web thread answers.
    QProcess curl;
    curl.start("curl", {"-sS", "-o", "/dev/null", "-w", "%{http_code}", httpUrl(port) + "/"});
    QVERIFY(curl.waitForFinished(60000));

    QCOMPARE(curl.readAllStandardOutput(), QByteArray("200"));
    webThread.quit();
    QVERIFY(webThread.wait(60000));
}

void TestWebUI::deletedWhenWebThreadEnds()
{
    useLoopbackPort();
    QPointer<WebUI> webUI = new WebUI();
    QThread webThread;
    webUI->moveToThread(&webThread);
    connect(&webThread, &QThread::finished, webUI, &QObject::deleteLater);
    webThread.start();

    webThread.quit();
    QVERIFY(webThread.wait(60000));

    QVERIFY(webUI.isNull());
}

QTEST_GUILESS_MAIN(TestWebUI)
#include "tst_webui.moc"
