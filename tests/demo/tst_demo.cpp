#include "freeport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {
// The script checks the packages and the build before it starts anything.
const int START_MS = 180000;
const int WAIT_MS = 15000;
// From adding the device to a second, different value read over Modbus.
const int CHANGE_WITHIN_MS = 30000;
const int STOP_MS = 20000;
const QString DEVICE_NAME = QStringLiteral("Hall climate sensor");

// The registers the add-device page lists for a template's packet fields, unscaled.
QJsonArray pageRegisters(const QJsonObject& deviceTemplate)
{
    QJsonArray registers;
    for (const QJsonValue& packet : deviceTemplate.value("device_packets").toArray()) {
        for (const QJsonValue& value : packet.toObject().value("packet_fields").toArray()) {
            const QJsonObject field = value.toObject();
            registers.append(QJsonObject {{"source", 1}, {"data_name", field.value("data_name")},
                {"reg_map_bias", field.value("reg_map_bias")},
                {"reg_bit_size", field.value("reg_bit_size")},
                {"data_type", field.value("data_type")}, {"addition", 0}, {"multiplication", 1},
                {"units", ""}});
        }
    }
    return registers;
}

QString capture(const QString& text, const QString& pattern, int group = 1)
{
    return QRegularExpression(pattern, QRegularExpression::MultilineOption)
        .match(text)
        .captured(group);
}
} // namespace

// The README's run command, scripts/run.sh, started as a terminal starts it (in a process group
// of its own) with the ports moved to free ones, and used as its instructions say.
class TestDemo : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void operatorReadsAChangingValueOverModbus();
    void ctrlCLeavesNoProcessAndTheNextRunStarts();

private:
    bool startDemo();
    bool interruptDemo();
    bool groupIsGone() const;
    QJsonObject call(const QString& path, const QJsonObject& body);
    QByteArray post(const QString& path, const QByteArray& body, const QByteArray& contentType);
    bool logIn();
    int readModbus(const QString& mbpollLine);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QProcess> script;
    std::unique_ptr<QNetworkAccessManager> browser;
    QString console;
    pid_t group = 0;
    quint16 webPort = 0;
    quint16 nsPort = 0;
    quint16 modbusPort = 0;
};

void TestDemo::init()
{
    dir = std::make_unique<QTemporaryDir>();
    webPort = freePort();
    nsPort = freePort();
    modbusPort = freePort();
    browser = std::make_unique<QNetworkAccessManager>();
    browser->setProxy(QNetworkProxy::NoProxy);
}

void TestDemo::cleanup()
{
    if (group > 0 && !groupIsGone())
        ::kill(-group, SIGKILL);
    if (script)
        script->waitForFinished(STOP_MS);
    script.reset();
    browser.reset();
    group = 0;
    dir.reset();
}

// Starts the script in a new session (its own process group, like a terminal's job); true once
// it prints what to open.
bool TestDemo::startDemo()
{
    console.clear();
    script = std::make_unique<QProcess>();
    script->setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TARVEX_BUILD_DIR", TARVEX_BUILD_DIR);
    environment.insert("TARVEX_RUN_DIR", dir->filePath("run"));
    environment.insert("TARVEX_WEB_PORT", QString::number(webPort));
    environment.insert("TARVEX_NS_PORT", QString::number(nsPort));
    environment.insert("TARVEX_MODBUS_PORT", QString::number(modbusPort));
    script->setProcessEnvironment(environment);
    connect(script.get(), &QProcess::readyRead, this,
        [this] { console += QString::fromUtf8(script->readAll()); });
    script->start("setsid", {TARVEX_SOURCE_DIR "/scripts/run.sh"});
    if (!script->waitForStarted(WAIT_MS))
        return false;
    group = pid_t(script->processId());
    return QTest::qWaitFor([this] { return console.contains("open http://"); }, START_MS)
        && ::getpgid(group) == group;
}

// Ctrl+C in a terminal: SIGINT to every process of the foreground group.
bool TestDemo::interruptDemo()
{
    ::kill(-group, SIGINT);
    return script->waitForFinished(STOP_MS);
}

bool TestDemo::groupIsGone() const
{
    return ::kill(-group, 0) == -1 && errno == ESRCH;
}

QByteArray TestDemo::post(
    const QString& path, const QByteArray& body, const QByteArray& contentType)
{
    QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1/api/v1/%2").arg(webPort).arg(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setTransferTimeout(WAIT_MS);
    std::unique_ptr<QNetworkReply> reply(browser->post(request, body));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(WAIT_MS);
    return reply->readAll();
}

QJsonObject TestDemo::call(const QString& path, const QJsonObject& body)
{
    return QJsonDocument::fromJson(post(path, QJsonDocument(body).toJson(), "application/json"))
        .object();
}

// Logs in with the login and password the script printed.
bool TestDemo::logIn()
{
    const QString pattern = QStringLiteral("log in as (\\S+), password (\\S+)");
    const QByteArray form = QString("username=%1&password=%2")
                                .arg(capture(console, pattern, 1), capture(console, pattern, 2))
                                .toUtf8();
    return post("auth/login", form, "application/x-www-form-urlencoded") == "Ok.";
}

// The printed mbpoll line, polling once: the register's value, or -1 when the read fails.
int TestDemo::readModbus(const QString& mbpollLine)
{
    QStringList arguments = mbpollLine.split(' ', Qt::SkipEmptyParts);
    const QString program = arguments.takeFirst();
    arguments.prepend("-1");
    QProcess mbpoll;
    mbpoll.start(program, arguments);
    if (!mbpoll.waitForFinished(WAIT_MS) || mbpoll.exitCode() != 0)
        return -1;
    const QString value
        = capture(QString::fromUtf8(mbpoll.readAllStandardOutput()), "^\\[\\d+\\]:\\s+(-?\\d+)");
    return value.isEmpty() ? -1 : value.toInt();
}

void TestDemo::operatorReadsAChangingValueOverModbus()
{
    QVERIFY2(startDemo(), qPrintable(console));
    QTRY_VERIFY_WITH_TIMEOUT(logIn(), WAIT_MS);

    const QString simulator = "simulator at (\\S+) \\(login (\\S+), password ([^)]+)\\)";
    const QJsonObject credentials {{"addr", capture(console, simulator, 1)},
        {"login", capture(console, simulator, 2)}, {"pw", capture(console, simulator, 3)}};
    QCOMPARE(
        post("server/auth", QJsonDocument(credentials).toJson(), "application/json"), QByteArray());
    QTRY_COMPARE_WITH_TIMEOUT(
        call("server/reqServerState", {}).value("status").toString(), QString("ONLINE"), WAIT_MS);

    QJsonObject device;
    for (const QJsonValue& offered : call("server/getDeviceList", {}).value("devices").toArray()) {
        if (offered.toObject().value("name").toString() == DEVICE_NAME)
            device = offered.toObject();
    }
    QVERIFY2(!device.isEmpty(), "the network server offers the sample sensor");
    QJsonObject deviceTemplate;
    for (const QJsonValue& value : call("app/getTemplates", {}).value("templates").toArray()) {
        if (value.toObject().value("app_eui") == device.value("appEui"))
            deviceTemplate = value.toObject();
    }
    QVERIFY2(!deviceTemplate.isEmpty(), "a sample template describes the sensor");

    const QString portText = capture(console, "TCP port (\\d+)");
    QCOMPARE(portText.toInt(), int(modbusPort));
    const int startAddr
        = call("app/getLastFreeRegister", {{"port", modbusPort}}).value("register").toInt(-1);
    QCOMPARE(startAddr, 0); // the start register the instructions name
    const QJsonObject added = call("app/addDevice",
        {{"port", modbusPort}, {"startAddr", startAddr}, {"devEui", device.value("devEui")},
            {"app_eui", device.value("appEui")}, {"dev_type", device.value("name")},
            {"devRegisters", pageRegisters(deviceTemplate)}});
    QVERIFY2(added.value("result").toBool(), qPrintable(added.value("error").toString()));
    QElapsedTimer sinceAdded;
    sinceAdded.start();

    const QString mbpollLine = capture(console, "^\\s*(mbpoll .+)$");
    // 0 until the first uplink is stored.
    QTRY_VERIFY_WITH_TIMEOUT(readModbus(mbpollLine) > 0, CHANGE_WITHIN_MS);
    const int first = readModbus(mbpollLine);
    QVERIFY2(first > 0, "mbpoll reads the sensor's temperature");
    QTRY_VERIFY_WITH_TIMEOUT(readModbus(mbpollLine) != first, CHANGE_WITHIN_MS);
    QVERIFY2(sinceAdded.elapsed() <= CHANGE_WITHIN_MS,
        qPrintable(QString::number(sinceAdded.elapsed())));
    const int second = readModbus(mbpollLine);
    QVERIFY(second > 0);

    QFile history(dir->filePath("run/history.log"));
    QVERIFY(history.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(history.readAll());
    QVERIFY2(!log.contains("WARNING") && !log.contains("ERROR"), qPrintable(log));
}

// The run directory of a stopped demo, its database and settings included, starts again.
void TestDemo::ctrlCLeavesNoProcessAndTheNextRunStarts()
{
    QVERIFY2(startDemo(), qPrintable(console));
    QVERIFY(interruptDemo());
    QVERIFY2(groupIsGone(), "no process of the demo is left");
    QVERIFY2(startDemo(), qPrintable(console));
    QTRY_VERIFY_WITH_TIMEOUT(logIn(), WAIT_MS);
    QVERIFY(interruptDemo());
}

QTEST_GUILESS_MAIN(TestDemo)
#include "tst_demo.moc"
