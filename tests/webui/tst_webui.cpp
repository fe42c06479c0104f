#include "csettings.h"
#include "curlclient.h"
#include "freeport.h"
#include "webui.h"

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString LOGIN_PATH = QStringLiteral("/api/v1/auth/login");

QString credentials(const QString& username, const QString& password)
{
    return QStringLiteral("username=%1&password=%2").arg(username, password);
}

void setWebSetting(const QString& name, const QVariant& value)
{
    QVERIFY(CSettings::writeValue(QStringLiteral("webui/") + name, value));
}
} // namespace

class TestWebUI : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void secureCookieOverHttps();
    void httpsFallback_data();
    void httpsFallback();
    void bindFailureSetsErrored();

private:
    void useLoopbackPort();
    void useHttps(const QString& certificate, const QString& key);

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

void TestWebUI::useHttps(const QString& certificate, const QString& key)
{
    setWebSetting("useHttps", true);
    setWebSetting("certFileName", certificate);
    setWebSetting("keyFileName", key);
}

void TestWebUI::secureCookieOverHttps()
{
    useLoopbackPort();
    useHttps(certificateFile, keyFile);
    QTest::ignoreMessage(QtDebugMsg, "\"Web UI: HTTPS setup successful\"");
    WebUI webUI;
    CurlClient client(QStringLiteral("https://127.0.0.1:%1").arg(port));
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

    QTest::newRow("key file missing") << "cert.pem"
                                      << "nosuch.pem";
    QTest::newRow("key is the certificate") << "cert.pem"
                                            << "cert.pem";
}

void TestWebUI::httpsFallback()
{
    QFETCH(QString, certificate);
    QFETCH(QString, key);
    useLoopbackPort();
    useHttps(dir.filePath(certificate), dir.filePath(key));

    QTest::ignoreMessage(QtDebugMsg, "No valid certificate files has been found!");
    QTest::ignoreMessage(QtDebugMsg, "\"Web UI: HTTPS setup failed, fallback to HTTP\"");
    WebUI webUI;

    QCOMPARE(CurlClient(QStringLiteral("http://127.0.0.1:%1").arg(port)).get("/").status, 200);
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

QTEST_GUILESS_MAIN(TestWebUI)
#include "tst_webui.moc"
