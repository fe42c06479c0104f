#include "cconsolecatcher.h"
#include "cfakenetworkserver.h"
#include "clogfile.h"
#include "cserverhandler.h"
#include "csettings.h"
#include "servertexts.h"

#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>

namespace {
const int PING_PERIOD_MS = 200;
const int CONNECT_RETRY_MS = 200;
const int TASK_ANSWER_MS = 800;
const int TASK_QUEUE_WAIT_MS = 3000;
// How long the web API waits for a device list.
const int WEB_WAIT_MS = 2000;

const QJsonObject UPLINK {{"type", "UNCONF_UP"}, {"devEui", "00aa11bb22cc33dd"}, {"data", "0aff"}};

QJsonObject device(const QString& devEui)
{
    return {{"devEui", devEui}, {"devName", "Meter"}, {"OTAA", QJsonObject {{"appEui", "A1"}}}};
}

QStringList devEuisOf(const QList<API::SServerDeviceInfo>& devices)
{
    QStringList devEuis;
    for (const API::SServerDeviceInfo& device : devices)
        devEuis << device.devEui;
    return devEuis;
}

// One getDevicesListResp as a listener received it.
struct SDevicesAnswer
{
    bool status = false;
    QStringList devEuis;
};

// A client, the network server it talks to, and what the client reported.
struct SSession
{
    CFakeNetworkServer server;
    CServerHandler client;
    QSignalSpy connections {&server, &CFakeNetworkServer::clientConnected};
    QStringList statuses;
    QList<API::SApiDeviceData> packets;
    QList<SDevicesAnswer> devicesAnswers;

    // The long intervals shortened so the suite stays fast.
    static CServerHandler::STimings timings()
    {
        CServerHandler::STimings timings;
        timings.pingPeriod = timings.pingAnswer = PING_PERIOD_MS;
        timings.taskAnswer = TASK_ANSWER_MS;
        timings.taskQueueWait = TASK_QUEUE_WAIT_MS;
        timings.connectRetry = CONNECT_RETRY_MS;
        return timings;
    }
    SSession()
    {
        client.setTimings(timings());
        server.listen();
        QObject::connect(&client, &CServerHandler::changeServerStatus,
            [this](COMM::EServerStatus status) { statuses << COMM::serverStatusText(status); });
        QObject::connect(&client, &CServerHandler::newPacketReceived,
            [this](const API::SApiDeviceData& packet) { packets << packet; });
        QObject::connect(&client, &CServerHandler::getDevicesListResp,
            [this](bool status, const QList<API::SServerDeviceInfo>& devices) {
                devicesAnswers << SDevicesAnswer {status, devEuisOf(devices)};
            });
    }
    QString status() const { return COMM::serverStatusText(client.getCurrentStatus()); }
    void start() { client.connectSlot(server.url().toString(), "user", "secret"); }
    // Waits on the status signal rather than polling, which keeps the suite fast.
    bool loggedIn()
    {
        QSignalSpy changes(&client, &CServerHandler::changeServerStatus);
        start();
        while (status() != "ONLINE") {
            if (!changes.wait(5000))
                return false;
        }
        return true;
    }
    QList<bool> answerStatuses() const
    {
        QList<bool> result;
        for (const SDevicesAnswer& answer : devicesAnswers)
            result << answer.status;
        return result;
    }
    // Milliseconds between the first two get_devices_req the server received.
    qint64 requestGap() const
    {
        const auto requests = server.received("get_devices_req");
        return requests.at(1).timeMs - requests.at(0).timeMs;
    }
};

// Asks for the device list from a thread of its own and waits for the answer in that thread's
// event loop, as the web API does.
class CWebThreadCaller
{
public:
    explicit CWebThreadCaller(CServerHandler& client)
        : thread(QThread::create([this, &client]() { ask(client); }))
    {
        thread->start();
    }
    ~CWebThreadCaller() { thread->wait(); }
    bool finished() const { return thread->isFinished(); }

    std::atomic<qint64> callMs {-1}; // how long getDevicesListReq kept the caller
    bool answered = false;
    QStringList devEuis;

private:
    void ask(CServerHandler& client)
    {
        QElapsedTimer clock;
        clock.start();
        client.getDevicesListReq({"A1"});
        callMs = clock.elapsed();
        QEventLoop loop;
        QObject receiver; // lives in this thread, so the answer is queued to it
        QObject::connect(&client, &CServerHandler::getDevicesListResp, &receiver,
            [this, &loop](bool, const QList<API::SServerDeviceInfo>& devices) {
                answered = true;
                devEuis = devEuisOf(devices);
                loop.quit();
            });
        QTimer::singleShot(WEB_WAIT_MS, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QScopedPointer<QThread> thread;
};
} // namespace

class TestServerHandler : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loginSequence();
    void loginStoresConnection();
    void pingsWhileOnline();
    void reconnectsAfterLostServer_data();
    void reconnectsAfterLostServer();
    void failedLogin_data();
    void failedLogin();
    void failedLoginIsNotRetried();
    void loginAnswerAfterFailureIgnored();
    void latePingAnswerContinuesLogin();
    void invalidUrl();
    void notAJsonObjectIgnored_data();
    void notAJsonObjectIgnored();
    void onlyUplinksWithDataForwarded_data();
    void onlyUplinksWithDataForwarded();
    void recentUplinkForwarded();
    void refusedRequest_data();
    void refusedRequest();
    void twoRequestsInARow_data();
    void twoRequestsInARow();
    void lateAnswerWithoutRequestLogged();
    void recentUplinksRequestBlocksQueue();
    void webThreadCallerGetsItsOwnAnswer_data();
    void webThreadCallerGetsItsOwnAnswer();
    void webThreadCallerWaitIsBounded();

private:
    QString storedValue(const QString& key) const
    {
        return QSettings(dir.filePath("settings.conf"), QSettings::IniFormat).value(key).toString();
    }
    int logCount(const QString& text) const
    {
        QFile file(dir.filePath("history.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).count(text) : 0;
    }

    QTemporaryDir dir;
};

void TestServerHandler::initTestCase()
{
    // The types that travel queued, registered as the service does at start-up.
    qRegisterMetaType<COMM::EServerStatus>("COMM::EServerStatus");
    qRegisterMetaType<QList<API::SServerDeviceInfo>>("QList<API::SServerDeviceInfo>");
    QVERIFY(CSettings::getInstance(dir.filePath("settings.conf")));
    CLogFile::getInstance(dir.filePath("history.log"), QString());
}

void TestServerHandler::loginSequence()
{
    SSession session;
    QVERIFY(session.loggedIn());
    QCOMPARE(
        session.statuses, QStringList({"DISCONNECTED", "PING WAITING", "AUTH WAITING", "ONLINE"}));
    QCOMPARE(session.server.received().at(1).message,
        QJsonObject({{"cmd", "auth_req"}, {"login", "user"}, {"password", "secret"}}));
}

void TestServerHandler::loginStoresConnection()
{
    CSettings::writeValue("server/address", "ws://127.0.0.1:1");
    SSession session;
    QVERIFY(session.loggedIn());
    QCOMPARE(storedValue("server/address"), session.server.url().toString());
    QCOMPARE(storedValue("server/login"), QString("user"));
    QCOMPARE(storedValue("server/password"), QString("secret"));
}

// On average one ping per period: Qt's coarse timers may fire up to 5 % early, and a receipt
// may lag. Answered pings keep the connection.
void TestServerHandler::pingsWhileOnline()
{
    SSession session;
    QVERIFY(session.loggedIn());
    QTRY_VERIFY(session.server.received("ping_req").size() >= 5);
    const auto pings = session.server.received("ping_req");
    const qint64 span = pings.last().timeMs - pings.at(1).timeMs;
    QVERIFY2(
        span >= (pings.size() - 2) * PING_PERIOD_MS * 9 / 10, qPrintable(QString::number(span)));
    QCOMPARE(session.connections.count(), 1);
}

enum ELoss { LOSS_SILENT, LOSS_DROP, LOSS_DOWN };

void TestServerHandler::reconnectsAfterLostServer_data()
{
    QTest::addColumn<int>("loss");
    QTest::addColumn<QString>("console");
    QTest::newRow("stops answering") << int(LOSS_SILENT) << ServerTexts::PING_TIMEOUT;
    QTest::newRow("drops the connection") << int(LOSS_DROP) << ServerTexts::DISCONNECTED_RETRY;
    QTest::newRow("down for a while") << int(LOSS_DOWN) << ServerTexts::DISCONNECTED_RETRY;
}

// The client logs in again by itself, with the stored connection read anew; a server that is
// down (as at start-up, before it is up) is tried again until it is back.
void TestServerHandler::reconnectsAfterLostServer()
{
    QFETCH(int, loss);
    QFETCH(QString, console);

    SSession session;
    QVERIFY(session.loggedIn());
    CConsoleCatcher catcher;
    CSettings::writeValue("server/login", "edited-user");
    const quint16 port = session.server.port();
    if (loss == LOSS_SILENT) {
        session.server.muteConnections();
    } else if (loss == LOSS_DROP) {
        session.server.dropConnections();
    } else {
        session.server.close();
        QTRY_VERIFY(catcher.count(console) >= 2);
        QVERIFY(session.server.listen(port));
    }
    QTRY_COMPARE(session.connections.count(), 2);
    QTRY_COMPARE(session.status(), QString("ONLINE"));
    QVERIFY(catcher.contains(console));
    QCOMPARE(session.server.received("auth_req").last().message.value("login").toString(),
        QString("edited-user"));
}

void TestServerHandler::failedLogin_data()
{
    QTest::addColumn<QString>("answer"); // empty: the server refuses by itself
    QTest::addColumn<QString>("console");

    QTest::newRow("refused") << QString() << ServerTexts::AUTH_REFUSED.arg("wrong password");
    QTest::newRow("status as text") << R"({"cmd":"auth_resp","status":"true","err_string":"x"})"
                                    << ServerTexts::AUTH_REFUSED.arg("x");
    QTest::newRow("no status") << R"({"cmd":"auth_resp"})" << ServerTexts::AUTH_PHASE_NO_STATUS;
    QTest::newRow("uplink before the answer")
        << R"({"cmd":"rx","type":"UNCONF_UP","devEui":"a1","data":"01"})"
        << ServerTexts::AUTH_PHASE_UNKNOWN_COMMAND;
    QTest::newRow("no command") << R"({"status":true})" << ServerTexts::AUTH_PHASE_NO_COMMAND;
}

// A failed login is reported and keeps the stored connection.
void TestServerHandler::failedLogin()
{
    QFETCH(QString, answer);
    QFETCH(QString, console);

    SSession session;
    CConsoleCatcher catcher;
    CSettings::writeValue("server/login", "stored-user");
    session.server.setAuthMode(
        answer.isEmpty() ? CFakeNetworkServer::AUTH_REFUSE : CFakeNetworkServer::AUTH_SILENT,
        "wrong password");
    session.start();
    if (!answer.isEmpty()) {
        QTRY_COMPARE(session.status(), QString("AUTH WAITING"));
        session.server.sendTextToAll(answer);
    }
    QTRY_COMPARE(session.status(), QString("INVALID AUTH"));
    QCOMPARE(catcher.count(console), 1);
    QCOMPARE(session.statuses,
        QStringList({"DISCONNECTED", "PING WAITING", "AUTH WAITING", "INVALID AUTH"}));
    QCOMPARE(storedValue("server/login"), QString("stored-user"));
    QVERIFY(session.packets.isEmpty());
}

// The same credentials would be refused again.
void TestServerHandler::failedLoginIsNotRetried()
{
    SSession session;
    // A retry would come back to this server.
    CSettings::writeValue("server/address", session.server.url().toString());
    session.server.setAuthMode(CFakeNetworkServer::AUTH_REFUSE);
    session.start();
    QTRY_COMPARE(session.status(), QString("INVALID AUTH"));
    session.server.dropConnections();
    QTRY_COMPARE(session.status(), QString("DISCONNECTED"));
    QTest::qWait(3 * CONNECT_RETRY_MS);
    QCOMPARE(session.connections.count(), 1);
}

void TestServerHandler::loginAnswerAfterFailureIgnored()
{
    SSession session;
    CConsoleCatcher catcher;
    session.server.setAuthMode(CFakeNetworkServer::AUTH_REFUSE);
    session.start();
    QTRY_COMPARE(session.status(), QString("INVALID AUTH"));
    session.server.sendToAll({{"cmd", "auth_resp"}, {"status", true}});
    // The text that follows shows the answer has been read.
    session.server.sendTextToAll("not json");
    QTRY_VERIFY(catcher.contains(ServerTexts::NOT_A_JSON_OBJECT));
    QCOMPARE(session.status(), QString("INVALID AUTH"));
}

void TestServerHandler::latePingAnswerContinuesLogin()
{
    SSession session;
    CServerHandler::STimings timings = SSession::timings();
    timings.firstPingAnswer = 100;
    session.client.setTimings(timings);
    session.server.setAnswerPings(false);
    session.start();
    QTRY_COMPARE(session.status(), QString("INVALID PING"));
    session.server.sendToAll({{"cmd", "ping_resp"}});
    QTRY_COMPARE(session.status(), QString("ONLINE"));
    QCOMPARE(session.statuses,
        QStringList({"DISCONNECTED", "PING WAITING", "INVALID PING", "AUTH WAITING", "ONLINE"}));
}

// The stored address stays; the client reports that it is not connected.
void TestServerHandler::invalidUrl()
{
    SSession session;
    QVERIFY(session.loggedIn());
    const int logged = logCount(ServerTexts::INVALID_URL.arg("http://[x"));
    session.client.connectSlot("http://[x", "other", "pw");
    QCOMPARE(session.status(), QString("DISCONNECTED"));
    QCOMPARE(session.client.getLastAddr(), session.server.url().toString());
    QCOMPARE(session.client.getLastLogin(), QString("user"));
    QTRY_COMPARE(logCount(ServerTexts::INVALID_URL.arg("http://[x")), logged + 1);
}

enum EPhase { PHASE_PING, PHASE_AUTH, PHASE_VERIFIED };

void TestServerHandler::notAJsonObjectIgnored_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");

    QTest::newRow("plain text, first ping") << int(PHASE_PING) << "ping_resp"
                                            << "PING WAITING";
    QTest::newRow("array, login") << int(PHASE_AUTH) << R"([{"cmd":"auth_resp"}])"
                                  << "AUTH WAITING";
    QTest::newRow("plain text, online") << int(PHASE_VERIFIED) << "rx"
                                        << "ONLINE";
}

// Such a message is dropped with a console line, whatever the phase, and changes nothing.
void TestServerHandler::notAJsonObjectIgnored()
{
    QFETCH(int, phase);
    QFETCH(QString, text);
    QFETCH(QString, status);

    SSession session;
    CConsoleCatcher catcher;
    session.server.setAnswerPings(phase != PHASE_PING);
    session.server.setAuthMode(phase == PHASE_VERIFIED ? CFakeNetworkServer::AUTH_ACCEPT
                                                       : CFakeNetworkServer::AUTH_SILENT);
    session.start();
    QTRY_COMPARE(session.status(), status);
    session.server.sendTextToAll(text);
    QTRY_COMPARE(catcher.count(ServerTexts::NOT_A_JSON_OBJECT), 1);
    QCOMPARE(catcher.messages().size(), 1);
    QCOMPARE(session.status(), status);
}

void TestServerHandler::onlyUplinksWithDataForwarded_data()
{
    QTest::addColumn<QJsonObject>("message");
    QTest::addColumn<bool>("forwarded");

    QTest::newRow("uplink") << QJsonObject {{"cmd", "rx"}, {"type", "CONF_UP"}, {"devEui", "b1"},
        {"data", "01"}} << true;
    QTest::newRow("join request") << QJsonObject {{"cmd", "rx"}, {"type", "JOIN_REQ"},
        {"devEui", "b1"}, {"data", "01"}}
                                  << false;
    QTest::newRow("uplink without command")
        << QJsonObject {{"type", "UNCONF_UP"}, {"devEui", "b1"}, {"data", "01"}} << false;
}

void TestServerHandler::onlyUplinksWithDataForwarded()
{
    QFETCH(QJsonObject, message);
    QFETCH(bool, forwarded);

    SSession session;
    QVERIFY(session.loggedIn());
    session.server.sendToAll(message);
    // An uplink that is forwarded in any case shows when the message before it has been read.
    session.server.pushRx(UPLINK);
    QTRY_COMPARE(session.packets.size(), forwarded ? 2 : 1);
    QCOMPARE(session.packets.last().devEui, QString("00AA11BB22CC33DD"));
}

// An uplink asked for goes the way of the pushed ones.
void TestServerHandler::recentUplinkForwarded()
{
    SSession session;
    QVERIFY(session.loggedIn());
    session.server.setDataList({QJsonObject {{"type", "JOIN_REQ"}, {"data", "01"}},
        QJsonObject {{"type", "UNCONF_UP"}, {"fcnt", 7}, {"data", "0102"}}});
    session.client.getDeviceLastPackets("00aa11bb22cc33dd");
    QTRY_COMPARE(session.packets.size(), 1);
    QCOMPARE(session.packets.at(0).devEui, QString("00AA11BB22CC33DD"));
    QCOMPARE(session.packets.at(0).fcnt, quint32(7));
    QCOMPARE(session.server.received("get_data_req").at(0).message.value("devEui").toString(),
        QString("00AA11BB22CC33DD"));
}

enum ERequest { REQUEST_DEVICES_LIST, REQUEST_RECENT_UPLINKS };

void TestServerHandler::refusedRequest_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QString>("log");

    QTest::newRow("devices list, no application EUI")
        << int(REQUEST_DEVICES_LIST) << "" << true << ServerTexts::DEVICES_LIST_EMPTY_APPEUI_LIST;
    QTest::newRow("devices list, not logged in")
        << int(REQUEST_DEVICES_LIST) << "A1" << false << ServerTexts::DEVICES_LIST_NOT_CONNECTED;
    QTest::newRow("recent uplinks, no device EUI")
        << int(REQUEST_RECENT_UPLINKS) << "" << true << ServerTexts::LAST_PACKETS_EMPTY_DEVEUI;
    QTest::newRow("recent uplinks, not logged in")
        << int(REQUEST_RECENT_UPLINKS) << "B1" << false << ServerTexts::LAST_PACKETS_NOT_CONNECTED;
}

// A refused request is logged and queues nothing: the request that follows goes out at once.
void TestServerHandler::refusedRequest()
{
    QFETCH(int, request);
    QFETCH(QString, argument);
    QFETCH(bool, loggedIn);
    QFETCH(QString, log);

    SSession session;
    session.server.setAuthMode(
        loggedIn ? CFakeNetworkServer::AUTH_ACCEPT : CFakeNetworkServer::AUTH_SILENT);
    session.start();
    QTRY_COMPARE(session.status(), QString(loggedIn ? "ONLINE" : "AUTH WAITING"));
    const int logged = logCount(log);
    if (request == REQUEST_DEVICES_LIST) {
        const QStringList appEuis = argument.isEmpty() ? QStringList() : QStringList(argument);
        QCOMPARE(session.client.getDevicesListReq(appEuis), false);
    } else {
        session.client.getDeviceLastPackets(argument);
    }
    QTRY_COMPARE(logCount(log), logged + 1);
    session.server.sendToAll({{"cmd", "auth_resp"}, {"status", true}});
    QTRY_COMPARE(session.status(), QString("ONLINE"));
    QVERIFY(session.client.getDevicesListReq({"A1"}));
    QTRY_COMPARE(session.devicesAnswers.size(), 1);
    QCOMPARE(session.server.received("get_data_req").size(), 0);
}

void TestServerHandler::twoRequestsInARow_data()
{
    QTest::addColumn<bool>("status");
    QTest::addColumn<int>("answerDelayMs"); // negative: never answered
    QTest::addColumn<QList<bool>>("answerStatuses");
    QTest::addColumn<QStringList>("lastDevEuis");
    QTest::addColumn<int>("minGapMs");
    QTest::addColumn<int>("maxGapMs");

    // An answer, refusals included, frees the queue at once.
    QTest::newRow("answered") << true << 100 << QList<bool> {true, true} << QStringList {"B1"} << 90
                              << TASK_ANSWER_MS * 3 / 4;
    QTest::newRow("refused") << false << 100 << QList<bool> {false, false} << QStringList() << 90
                             << TASK_ANSWER_MS * 3 / 4;
    // A request without an answer in time is answered with nothing, and frees the queue.
    QTest::newRow("unanswered") << true << -1 << QList<bool> {false, false} << QStringList()
                                << TASK_ANSWER_MS * 9 / 10 << TASK_ANSWER_MS * 2;
    // The late answer to the first is taken for the second, then in flight.
    QTest::newRow("answered late")
        << true << TASK_ANSWER_MS * 6 / 5 << QList<bool> {false, true} << QStringList {"B1"}
        << TASK_ANSWER_MS * 9 / 10 << TASK_ANSWER_MS * 2;
}

// One request is in flight at a time; the second goes out once the first is answered or has
// timed out, and the answers come in the order of the requests.
void TestServerHandler::twoRequestsInARow()
{
    QFETCH(bool, status);
    QFETCH(int, answerDelayMs);
    QFETCH(QStringList, lastDevEuis);
    QFETCH(int, minGapMs);
    QFETCH(int, maxGapMs);

    SSession session;
    QVERIFY(session.loggedIn());
    session.server.setDevicesList({device("B1")}, status, answerDelayMs);
    QVERIFY(session.client.getDevicesListReq({"A1"}));
    QVERIFY(session.client.getDevicesListReq({"A1"}));

    QTRY_COMPARE(session.devicesAnswers.size(), 2);
    QTEST(session.answerStatuses(), "answerStatuses");
    QCOMPARE(session.devicesAnswers.at(1).devEuis, lastDevEuis);
    const qint64 gap = session.requestGap();
    QVERIFY2(gap >= minGapMs, qPrintable(QString::number(gap)));
    QVERIFY2(gap < maxGapMs, qPrintable(QString::number(gap)));
}

// With no request in flight a late answer is logged and dropped.
void TestServerHandler::lateAnswerWithoutRequestLogged()
{
    SSession session;
    QVERIFY(session.loggedIn());
    session.server.setDevicesList({device("B1")}, true, TASK_ANSWER_MS * 6 / 5);
    const int logged = logCount(ServerTexts::UNSCHEDULED_PACKET);
    QVERIFY(session.client.getDevicesListReq({"A1"}));

    QTRY_COMPARE(logCount(ServerTexts::UNSCHEDULED_PACKET), logged + 1);
    QCOMPARE(session.answerStatuses(), QList<bool>({false}));
}

// Its answer does not free the queue: the next request waits for the answer time to pass.
void TestServerHandler::recentUplinksRequestBlocksQueue()
{
    SSession session;
    QVERIFY(session.loggedIn());
    session.client.getDeviceLastPackets("b1");
    QVERIFY(session.client.getDevicesListReq({"A1"}));

    QTRY_COMPARE(session.server.received("get_devices_req").size(), 1);
    const qint64 gap = session.server.received("get_devices_req").at(0).timeMs
        - session.server.received("get_data_req").at(0).timeMs;
    QVERIFY2(gap >= TASK_ANSWER_MS * 9 / 10, qPrintable(QString::number(gap)));
}

void TestServerHandler::webThreadCallerGetsItsOwnAnswer_data()
{
    QTest::addColumn<bool>("requestInFlight");
    QTest::addColumn<int>("inFlightAnswerDelayMs"); // negative: never answered

    QTest::newRow("queue idle") << false << 0;
    QTest::newRow("another request in flight, answered") << true << TASK_ANSWER_MS / 2;
    QTest::newRow("another request in flight, timing out") << true << -1;
}

// The web thread queues a request and then listens for an answer for a while. While another
// request is in flight, the answer to that one must not reach it: its call returns only once the
// request in flight has been answered or has timed out, and not long after.
void TestServerHandler::webThreadCallerGetsItsOwnAnswer()
{
    QFETCH(bool, requestInFlight);
    QFETCH(int, inFlightAnswerDelayMs);

    SSession session;
    QVERIFY(session.loggedIn());
    if (requestInFlight) {
        session.server.setDevicesList({device("B1")}, true, inFlightAnswerDelayMs);
        QVERIFY(session.client.getDevicesListReq({"A1"}));
        QTRY_COMPARE(session.server.received("get_devices_req").size(), 1);
    }
    session.server.setDevicesList({device("B2")}, true, TASK_ANSWER_MS / 2);
    CWebThreadCaller web(session.client);
    QTRY_VERIFY_WITH_TIMEOUT(web.finished(), TASK_QUEUE_WAIT_MS + 2 * WEB_WAIT_MS);
    QVERIFY2(web.callMs < TASK_QUEUE_WAIT_MS / 2, qPrintable(QString::number(web.callMs)));
    QVERIFY(web.answered);
    QCOMPARE(web.devEuis, QStringList({"B2"}));
}

// A caller whose wait runs out returns; its request goes out once the one in flight has timed
// out.
void TestServerHandler::webThreadCallerWaitIsBounded()
{
    SSession session;
    CServerHandler::STimings timings = SSession::timings();
    timings.taskQueueWait = TASK_ANSWER_MS / 4;
    session.client.setTimings(timings);
    QVERIFY(session.loggedIn());
    session.server.setDevicesList({device("B1")}, true, -1);
    QVERIFY(session.client.getDevicesListReq({"A1"}));
    QTRY_COMPARE(session.server.received("get_devices_req").size(), 1);

    CWebThreadCaller web(session.client);
    QTRY_VERIFY(web.callMs >= 0);
    QVERIFY2(web.callMs < TASK_ANSWER_MS * 3 / 4, qPrintable(QString::number(web.callMs)));
    QTRY_COMPARE(session.server.received("get_devices_req").size(), 2);
    QVERIFY2(session.requestGap() >= TASK_ANSWER_MS * 9 / 10,
        qPrintable(QString::number(session.requestGap())));
}

QTEST_GUILESS_MAIN(TestServerHandler)
#include "tst_cserverhandler.moc"
