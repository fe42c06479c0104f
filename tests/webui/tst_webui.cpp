#include "csettings.h"
#include "curlclient.h"
#include "freeport.h"
#include "webui.h"

#include <QProcess>
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
    void secureCookieOverHttps();

private:
    void useLoopbackPort();
    void useHttps(const QString& certificate, const QString& key);

    QTemporaryDir dir;
    QString certificateFile;
    QString keyFile;
    quint16 port = 0;
};

void TestWebUI::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(CSettings::getInstance(dir.filePath("settings.conf")));

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

QTEST_GUILESS_MAIN(TestWebUI)
#include "tst_webui.moc"
