#include "app/clogfile.h"
#include "app/csettings.h"
#include "server/cserverhandler.h"
#include "tests/support/cconsolecatcher.h"
#include "tests/support/cfakenetworkserver.h"

#include <QJsonArray>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {
// The production intervals shortened so the suite stays fast; the first-ping wait stays 2 s.
CServerHandler::STimings fastTimings()
{
    CServerHandler::STimings timings;
    timings.pingPeriod = 200;
    timings.pingAnswer = 200;
    timings.taskAnswer = 600;
    timings.taskQueueWait = 3000;
    timings.connectRetry = 300;
    return timings;
}

// Qt's coarse timers may fire up to 5 % early.
int earliest(int intervalMs)
{
    return intervalMs * 9 / 10;
}

QString statusText(const CServerHandler& client)
{
    return COMM::serverStatusText(client.getCurrentStatus());
}

QStringList statusTexts(const QSignalSpy& spy)
{
    QStringList texts;
    for (const QList<QVariant>& arguments : spy)
        texts << COMM::serverStatusText(arguments.at(0).value<COMM::EServerStatus>());
    return texts;
}

const QString PING_TIMEOUT = QStringLiteral("Ping timeout, trying to reconnect server...");
const QString DISCONNECTED_RETRY
    = QStringLiteral("Server is disconnected, trying to reconnect server...");
const QString NOT_AN_OBJECT
    = QStringLiteral("[CServerHandler::textMessageReceivedSlot] Unknown input message format");
const QString UNSCHEDULED = QStringLiteral(
    "[CServerHandler::textMessageReceivedSlot] State=verified: unsheduled packet from server");

const QJsonArray SERVER_DEVICES {
    QJsonObject {{"devEui", "00aa000000000001"}, {"devName", "Meter"},
        {"OTAA", QJsonObject {{"appEui", "70b3d50000000001"}}}},
    QJsonObject {{"devEui", "00aa000000000002"}, {"devName", "ABP device"}},
};

// A client and the network server it talks to.
struct SSession
{
    CFakeNetworkServer server;
    CServerHandler client;
    QSignalSpy statuses {&client, &CServerHandler::changeServerStatus};
    QSignalSpy connections {&server, &CFakeNetworkServer::clientConnected};

    SSession(const CServerHandler::STimings& timings = fastTimings())
    {
        client.setTimings(timings);
    }
    bool start() { return server.listen(); }
    void connectAs(const QString& login, const QString& password)
    {
        client.connectSlot(server.url().toString(), login, password);
    }
};
} // namespace

class TestServerHandler : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void loginAndPings();
    void refusedLoginKeepsSettings();
    void wrongAuthAnswers_data();
    void wrongAuthAnswers();
    void firstPingUnanswered();
    void uplinksWhileOnline();
    void silentServerIsReconnected();
    void droppedConnectionIsReconnected();
    void storedAddressAtStartUp();
    void devicesListTasksInARow_data();
    void devicesListTasksInARow();
    void lateDevicesListAnswer();
    void devicesListRefusedOrRejected();
    void deviceDataTaskBlocksQueue();

private:
    bool loggedIn(SSession& session);
    QString storedSetting(const QString& name) const;
    int logCount(const QString& text) const;

    QTemporaryDir dir;
};

void TestServerHandler::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(CSettings::getInstance(dir.filePath("settings.conf")));
    CLogFile::getInstance(dir.filePath("history.log"), QString());
    qRegisterMetaType<COMM::EServerStatus>("COMM::EServerStatus");
    qRegisterMetaType<QList<API::SServerDeviceInfo>>("QList<API::SServerDeviceInfo>");
    qRegisterMetaType<API::SApiDeviceData>("API::SApiDeviceData");
}

// Every test starts from the same stored connection, which points nowhere.
void TestServerHandler::init()
{
    CSettings::writeValue("server/address", "ws://127.0.0.1:1/stored");
    CSettings::writeValue("server/login", "stored-user");
    CSettings::writeValue("server/password", "stored-secret");
}

bool TestServerHandler::loggedIn(SSession& session)
{
    if (!session.start())
        return false;
    session.connectAs("user", "secret");
    return QTest::qWaitFor([&]() { return statusText(session.client) == "ONLINE"; }, 5000);
}

// Read from the file as another program would see it.
QString TestServerHandler::storedSetting(const QString& name) const
{
    QSettings file(dir.filePath("settings.conf"), QSettings::IniFormat);
    return file.value("server/" + name).toString();
}

int TestServerHandler::logCount(const QString& text) const
{
    QFile file(dir.filePath("history.log"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return QString::fromUtf8(file.readAll()).count(text);
}

void TestServerHandler::loginAndPings()
{
    SSession session;
    QVERIFY(loggedIn(session));

    QCOMPARE(statusTexts(session.statuses),
        QStringList({"DISCONNECTED", "PING WAITING", "AUTH WAITING", "ONLINE"}));
    QCOMPARE(session.client.getCurrentPhase(), CServerHandler::PHASE_VERIFIED);
    const QList<CFakeNetworkServer::SReceivedMessage> received = session.server.received();
    QVERIFY(received.size() >= 2);
    QCOMPARE(received.at(0).message, QJsonObject({{"cmd", "ping_req"}}));
    QCOMPARE(received.at(1).message,
        QJsonObject({{"cmd", "auth_req"}, {"login", "user"}, {"password", "secret"}}));

    const QString address = session.server.url().toString();
    QCOMPARE(storedSetting("address"), address);
    QCOMPARE(storedSetting("login"), QString("user"));
    QCOMPARE(storedSetting("password"), QString("secret"));
    QCOMPARE(session.client.getLastAddr(), address);
    QCOMPARE(session.client.getLastLogin(), QString("user"));

    // Pings go out every period while online, and answered pings keep the connection.
    QTRY_VERIFY(session.server.received("ping_req").size() >= 5);
    const QList<CFakeNetworkServer::SReceivedMessage> pings = session.server.received("ping_req");
    for (int i = 2; i < pings.size(); ++i)
        QVERIFY2(pings.at(i).timeMs - pings.at(i - 1).timeMs >= earliest(200),
            qPrintable(QString::number(pings.at(i).timeMs - pings.at(i - 1).timeMs)));
    QCOMPARE(session.connections.count(), 1);
    QCOMPARE(statusText(session.client), QString("ONLINE"));
}

void TestServerHandler::refusedLoginKeepsSettings()
{
    SSession session;
    QVERIFY(loggedIn(session));
    const QString address = session.server.url().toString();

    CConsoleCatcher console;
    session.statuses.clear();
    session.server.setAuthMode(CFakeNetworkServer::AUTH_REFUSE, "wrong password");
    session.client.connectSlot(address, "intruder", "guess");
    QTRY_COMPARE(statusText(session.client), QString("INVALID AUTH"));

    QCOMPARE(statusTexts(session.statuses).first(), QString("DISCONNECTED"));
    QCOMPARE(statusTexts(session.statuses).mid(statusTexts(session.statuses).size() - 3),
        QStringList({"PING WAITING", "AUTH WAITING", "INVALID AUTH"}));
    QVERIFY(console.contains("[CServerHandler::textMessageReceivedSlot] State=auth: unknown "
                             "message[4], err[wrong password]"));
    QCOMPARE(session.client.getCurrentPhase(), CServerHandler::PHASE_IDLE);
    QCOMPARE(session.client.getLastLogin(), QString("intruder"));
    QCOMPARE(storedSetting("login"), QString("user"));
    QCOMPARE(storedSetting("password"), QString("secret"));

    // A refused login is not retried, not even when the server then closes the connection.
    session.server.dropConnections();
    QTRY_COMPARE(statusText(session.client), QString("DISCONNECTED"));
    QTest::qWait(3 * fastTimings().connectRetry);
    QCOMPARE(session.connections.count(), 2);
    QCOMPARE(session.server.received("auth_req").size(), 2);
}

void TestServerHandler::wrongAuthAnswers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("console");

    const QString prefix = "[CServerHandler::textMessageReceivedSlot] State=auth: unknown ";
    QTest::newRow("no command") << R"({"status":true})" << prefix + "message[1]";
    QTest::newRow("uplink before the answer")
        << R"({"cmd":"rx","type":"UNCONF_UP","devEui":"a1","data":"01"})" << prefix + "message[2]";
    QTest::newRow("no status") << R"({"cmd":"auth_resp"})" << prefix + "message[3]";
    QTest::newRow("refused without reason")
        << R"({"cmd":"auth_resp","status":false})" << prefix + "message[4], err[]";
    QTest::newRow("status as text") << R"({"cmd":"auth_resp","status":"true","err_string":"x"})"
                                    << prefix + "message[4], err[x]";
}

void TestServerHandler::wrongAuthAnswers()
{
    QFETCH(QString, answer);
    QFETCH(QString, console);

    SSession session;
    QVERIFY(session.start());
    session.server.setAuthMode(CFakeNetworkServer::AUTH_SILENT);
    QSignalSpy packets(&session.client, &CServerHandler::newPacketReceived);
    CConsoleCatcher catcher;
    session.connectAs("user", "secret");
    QTRY_COMPARE(statusText(session.client), QString("AUTH WAITING"));

    session.server.sendTextToAll(answer);
    QTRY_COMPARE(statusText(session.client), QString("INVALID AUTH"));
    QCOMPARE(catcher.count(console), 1);
    QCOMPARE(session.client.getCurrentPhase(), CServerHandler::PHASE_IDLE);

    // A proper answer coming after that is ignored; the text that follows it shows that the
    // client has read it.
    session.server.sendToAll({{"cmd", "auth_resp"}, {"status", true}});
    session.server.sendTextToAll("not json");
    QTRY_VERIFY(catcher.contains(NOT_AN_OBJECT));
    QCOMPARE(statusText(session.client), QString("INVALID AUTH"));
    QCOMPARE(session.client.getCurrentPhase(), CServerHandler::PHASE_IDLE);
    QCOMPARE(storedSetting("login"), QString("stored-user"));
    QCOMPARE(packets.count(), 0);
}

void TestServerHandler::firstPingUnanswered()
{
    SSession session(CServerHandler::STimings {});
    QVERIFY(session.start());
    session.server.setAnswerPings(false);
    QElapsedTimer clock;
    qint64 pingWaitingAt = -1;
    qint64 invalidPingAt = -1;
    connect(&session.client, &CServerHandler::changeServerStatus, this,
        [&](COMM::EServerStatus status) {
            if (status == COMM::PING_WAITING)
                pingWaitingAt = clock.elapsed();
            if (status == COMM::INVALID_PING && invalidPingAt < 0)
                invalidPingAt = clock.elapsed();
        });
    CConsoleCatcher console;
    clock.start();
    session.connectAs("user", "secret");
    QTRY_COMPARE(statusText(session.client), QString("PING WAITING"));

    // Texts that are not JSON objects change nothing.
    session.server.sendTextToAll("plain text");
    session.server.sendTextToAll("[1,2]");
    QTRY_COMPARE(console.count(NOT_AN_OBJECT), 2);
    QCOMPARE(statusText(session.client), QString("PING WAITING"));

    QTRY_COMPARE_WITH_TIMEOUT(statusText(session.client), QString("INVALID PING"), 4000);
    QVERIFY2(invalidPingAt - pingWaitingAt >= earliest(2000),
        qPrintable(QString::number(invalidPingAt - pingWaitingAt)));
    QCOMPARE(session.client.getCurrentPhase(), CServerHandler::PHASE_PING);

    // Another message in its place is reported, and a late ping_resp still continues the login.
    session.server.sendToAll({{"cmd", "get_devices_resp"}});
    QTRY_VERIFY(console.contains("[CServerHandler::textMessageReceivedSlot] State=ping: unknown "
                                 "message[2]"));
    QCOMPARE(session.client.getCurrentPhase(), CServerHandler::PHASE_PING);
    session.server.sendToAll({{"cmd", "ping_resp"}});
    QTRY_COMPARE(statusText(session.client), QString("ONLINE"));
    QCOMPARE(statusTexts(session.statuses),
        QStringList({"DISCONNECTED", "PING WAITING", "INVALID PING", "INVALID PING", "AUTH WAITING",
            "ONLINE"}));
}

void TestServerHandler::uplinksWhileOnline()
{
    SSession session;
    QVERIFY(loggedIn(session));
    QSignalSpy packets(&session.client, &CServerHandler::newPacketReceived);
    CConsoleCatcher console;
    const int unscheduledBefore = logCount(UNSCHEDULED);

    session.server.pushRx({{"type", "JOIN_REQ"}, {"devEui", "a1"}, {"data", "01"}});
    session.server.pushRx({{"type", "UNCONF_DOWN"}, {"devEui", "a1"}, {"data", "01"}});
    session.server.sendToAll({{"type", "UNCONF_UP"}, {"devEui", "a1"}, {"data", "01"}});
    session.server.sendTextToAll("[]");
    session.server.sendToAll({{"cmd", "get_devices_resp"}, {"status", true}});
    session.server.pushRx({{"type", "UNCONF_UP+MAC_LINKCHECK_REQ"}, {"devEui", "00aa11bb22cc33dd"},
        {"fcnt", 42}, {"data", "0aff"}});
    QTRY_COMPARE(packets.count(), 1);

    const auto packet = packets.at(0).at(0).value<API::SApiDeviceData>();
    QCOMPARE(packet.devEui, QString("00AA11BB22CC33DD"));
    QCOMPARE(packet.fcnt, 42u);
    QCOMPARE(packet.data, QByteArray::fromHex("0aff"));
    QVERIFY(console.contains(
        "[CServerHandler::textMessageReceivedSlot] State=verified: unknown message[1]"));
    QVERIFY(console.contains(NOT_AN_OBJECT));
    QTRY_COMPARE(logCount(UNSCHEDULED), unscheduledBefore + 1);
    QCOMPARE(statusText(session.client), QString("ONLINE"));
}

void TestServerHandler::silentServerIsReconnected()
{
    SSession session;
    QVERIFY(loggedIn(session));
    CConsoleCatcher console;
    session.statuses.clear();

    // The link stays open but nothing comes back, as with a hung server or a lost route.
    session.server.muteConnections();
    QTRY_COMPARE(session.connections.count(), 2);
    QTRY_COMPARE(statusText(session.client), QString("ONLINE"));
    QCOMPARE(console.count(PING_TIMEOUT), 1);
    QCOMPARE(statusTexts(session.statuses),
        QStringList({"DISCONNECTED", "DISCONNECTED", "PING WAITING", "AUTH WAITING", "ONLINE"}));
}

void TestServerHandler::droppedConnectionIsReconnected()
{
    SSession session;
    QVERIFY(loggedIn(session));
    CConsoleCatcher console;
    session.statuses.clear();

    // The reconnection reads the stored connection anew.
    CSettings::writeValue("server/login", "edited-user");
    session.server.dropConnections();
    QTRY_COMPARE(statusText(session.client), QString("DISCONNECTED"));
    QTRY_COMPARE(session.connections.count(), 2);
    QTRY_COMPARE(statusText(session.client), QString("ONLINE"));
    QVERIFY(console.contains(DISCONNECTED_RETRY));
    QCOMPARE(session.server.received("auth_req").last().message.value("login").toString(),
        QString("edited-user"));
    QCOMPARE(session.client.getLastLogin(), QString("edited-user"));
    QCOMPARE(statusTexts(session.statuses).mid(statusTexts(session.statuses).size() - 3),
        QStringList({"PING WAITING", "AUTH WAITING", "ONLINE"}));
}

// As at start-up: the stored address is tried first.
void TestServerHandler::storedAddressAtStartUp()
{
    SSession session;
    CConsoleCatcher console;

    // An empty address is not a URL: logged once, never retried.
    const QString invalidUrl = "[CServerHandler::connectSlot] Invalid input URL []";
    const int invalidBefore = logCount(invalidUrl);
    CSettings::writeValue("server/address", QString());
    session.client.reconnect();
    QTRY_COMPARE(logCount(invalidUrl), invalidBefore + 1);
    QTest::qWait(3 * fastTimings().connectRetry);
    QCOMPARE(logCount(invalidUrl), invalidBefore + 1);
    QVERIFY(!console.contains(DISCONNECTED_RETRY));
    QCOMPARE(statusText(session.client), QString("DISCONNECTED"));

    // A network server that is not up yet is tried again until it is.
    QVERIFY(session.start());
    const quint16 port = session.server.port();
    CSettings::writeValue("server/address", session.server.url().toString());
    session.server.close();
    session.client.reconnect();
    QTRY_VERIFY(console.count(DISCONNECTED_RETRY) >= 2);
    QCOMPARE(statusText(session.client), QString("DISCONNECTED"));
    QVERIFY(session.server.listen(port));
    QTRY_COMPARE(statusText(session.client), QString("ONLINE"));
    QCOMPARE(session.server.received("auth_req").first().message.value("login").toString(),
        QString("stored-user"));
}

void TestServerHandler::devicesListTasksInARow_data()
{
    QTest::addColumn<bool>("fromSecondThread");
    QTest::newRow("main thread") << false;
    QTest::newRow("second thread") << true;
}

void TestServerHandler::devicesListTasksInARow()
{
    QFETCH(bool, fromSecondThread);

    SSession session;
    QVERIFY(loggedIn(session));
    const int answerDelay = 300;
    session.server.setDevicesList(SERVER_DEVICES);
    session.server.setDevicesListDelay(answerDelay);
    QSignalSpy answers(&session.client, &CServerHandler::getDevicesListResp);
    CConsoleCatcher console;

    QVERIFY(session.client.getDevicesListReq({"70B3D50000000001"}));
    if (fromSecondThread) {
        // As the web thread does: it waits until the task in flight is answered.
        QTRY_COMPARE(session.server.received("get_devices_req").size(), 1);
        bool queued = false;
        qint64 waitedMs = 0;
        std::unique_ptr<QThread> web(QThread::create([&]() {
            QElapsedTimer clock;
            clock.start();
            queued = session.client.getDevicesListReq({"70B3D50000000001"});
            waitedMs = clock.elapsed();
        }));
        web->start();
        QTRY_VERIFY(web->isFinished());
        QVERIFY(queued);
        QVERIFY2(waitedMs >= earliest(answerDelay) / 2, qPrintable(QString::number(waitedMs)));
    } else {
        QVERIFY(session.client.getDevicesListReq({"70B3D50000000001"}));
    }

    QTRY_COMPARE(answers.count(), 2);
    const QList<CFakeNetworkServer::SReceivedMessage> requests
        = session.server.received("get_devices_req");
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).message, QJsonObject({{"cmd", "get_devices_req"}}));
    QVERIFY2(requests.at(1).timeMs - requests.at(0).timeMs >= earliest(answerDelay),
        qPrintable(QString::number(requests.at(1).timeMs - requests.at(0).timeMs)));
    for (const QList<QVariant>& answer : answers) {
        QCOMPARE(answer.at(0).toBool(), true);
        const auto devices = answer.at(1).value<QList<API::SServerDeviceInfo>>();
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices.at(0).devEui, QString("00aa000000000001"));
        QCOMPARE(devices.at(0).appEui, QString("70b3d50000000001"));
        QCOMPARE(devices.at(0).devName, QString("Meter"));
    }
    if (!fromSecondThread)
        QVERIFY(console.contains("[CServerHandler::newTaskSlot] Waiting mutex is locked! Return"));
}

void TestServerHandler::lateDevicesListAnswer()
{
    CServerHandler::STimings timings = fastTimings();
    timings.taskAnswer = 1000;
    SSession session(timings);
    QVERIFY(loggedIn(session));
    session.server.setDevicesList(SERVER_DEVICES);
    session.server.setDevicesListDelay(timings.taskAnswer * 3 / 2);
    QSignalSpy answers(&session.client, &CServerHandler::getDevicesListResp);
    const int unscheduledBefore = logCount(UNSCHEDULED);

    // The first request times out and is answered locally with nothing.
    QVERIFY(session.client.getDevicesListReq({"70B3D50000000001"}));
    QTRY_COMPARE(answers.count(), 1);
    QCOMPARE(answers.at(0).at(0).toBool(), false);
    QVERIFY(answers.at(0).at(1).value<QList<API::SServerDeviceInfo>>().isEmpty());

    // Its late answer is taken for the request in flight by then; the late answer to that one
    // finds no request and is dropped.
    QVERIFY(session.client.getDevicesListReq({"70B3D50000000001"}));
    QTRY_COMPARE(answers.count(), 2);
    QCOMPARE(answers.at(1).at(0).toBool(), true);
    QCOMPARE(answers.at(1).at(1).value<QList<API::SServerDeviceInfo>>().size(), 1);
    QTRY_COMPARE(logCount(UNSCHEDULED), unscheduledBefore + 1);
    QCOMPARE(answers.count(), 2);
}

void TestServerHandler::devicesListRefusedOrRejected()
{
    CServerHandler::STimings timings = fastTimings();
    timings.taskAnswer = 5000;
    SSession session(timings);
    const QString notConnected
        = "[CServerHandler::getDevicesList] Invalid connection to server! Return";
    const QString emptyList = "[CServerHandler::getDevicesList] Empty input AppEUI list! Return";
    const int notConnectedBefore = logCount(notConnected);
    const int emptyListBefore = logCount(emptyList);

    QVERIFY(!session.client.getDevicesListReq({"70B3D50000000001"}));
    QVERIFY(loggedIn(session));
    QVERIFY(!session.client.getDevicesListReq({}));
    QTRY_COMPARE(logCount(notConnected), notConnectedBefore + 1);
    QTRY_COMPARE(logCount(emptyList), emptyListBefore + 1);

    // A refusal answers at once and frees the queue at once, long before the waiting time.
    session.server.setDevicesList(SERVER_DEVICES, false);
    QSignalSpy answers(&session.client, &CServerHandler::getDevicesListResp);
    QVERIFY(session.client.getDevicesListReq({"70B3D50000000001"}));
    QVERIFY(session.client.getDevicesListReq({"70B3D50000000001"}));
    QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 2, 2000);
    for (const QList<QVariant>& answer : answers) {
        QCOMPARE(answer.at(0).toBool(), false);
        QVERIFY(answer.at(1).value<QList<API::SServerDeviceInfo>>().isEmpty());
    }
    QCOMPARE(session.server.received("get_devices_req").size(), 2);
}

void TestServerHandler::deviceDataTaskBlocksQueue()
{
    SSession session;
    QVERIFY(loggedIn(session));
    session.server.setDataList(QJsonArray {
        QJsonObject {{"type", "JOIN_REQ"}, {"data", "01"}},
        QJsonObject {{"type", "UNCONF_UP"}, {"fcnt", 7}, {"data", "0102"}},
    });
    QSignalSpy packets(&session.client, &CServerHandler::newPacketReceived);
    QSignalSpy answers(&session.client, &CServerHandler::getDevicesListResp);

    session.client.getDeviceLastPackets("00aa11bb22cc33dd");
    QTRY_COMPARE(packets.count(), 1);
    const auto packet = packets.at(0).at(0).value<API::SApiDeviceData>();
    QCOMPARE(packet.devEui, QString("00AA11BB22CC33DD"));
    QCOMPARE(packet.fcnt, 7u);
    const QList<CFakeNetworkServer::SReceivedMessage> dataRequests
        = session.server.received("get_data_req");
    QCOMPARE(dataRequests.size(), 1);
    QCOMPARE(dataRequests.at(0).message,
        QJsonObject({{"cmd", "get_data_req"}, {"devEui", "00AA11BB22CC33DD"},
            {"select", QJsonObject {{"direction", "UPLINK"}, {"limit", 10}}}}));

    // The answer does not end the task: the next one waits for the waiting time.
    QVERIFY(session.client.getDevicesListReq({"70B3D50000000001"}));
    QTRY_COMPARE(answers.count(), 1);
    const qint64 gap
        = session.server.received("get_devices_req").at(0).timeMs - dataRequests.at(0).timeMs;
    QVERIFY2(gap >= earliest(fastTimings().taskAnswer), qPrintable(QString::number(gap)));
}

QTEST_GUILESS_MAIN(TestServerHandler)
#include "tst_cserverhandler.moc"
