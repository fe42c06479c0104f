#include "cconsolecatcher.h"
#include "cfakenetworkserver.h"
#include "clogfile.h"
#include "cserverhandler.h"
#include "csettings.h"
#include "servertexts.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <memory>

namespace {
const int PING_PERIOD_MS = 200;
const int CONNECT_RETRY_MS = 200;
const int TASK_ANSWER_MS = 1500;
const int TASK_QUEUE_WAIT_MS = 5000;
// How long the web API waits for a device list.
const int WEB_WAIT_MS = 2000;
// How long the web thread takes to start listening once its request may go out.
const int SLOW_LISTENER_MS = 300;
const int LARGE_LIST_DEVICES = 20000;

QJsonObject device(const QString& devEui)
{
    return {{"devEui", devEui}, {"devName", "Meter"}, {"OTAA", QJsonObject {{"appEui", "A1"}}}};
}

// The long intervals shortened so the suite stays fast.
CServerHandler::STimings shortTimings()
{
    CServerHandler::STimings timings;
    timings.pingPeriod = timings.pingAnswer = PING_PERIOD_MS;
    timings.taskAnswer = TASK_ANSWER_MS;
    timings.taskQueueWait = TASK_QUEUE_WAIT_MS;
    timings.connectRetry = CONNECT_RETRY_MS;
    return timings;
}

// Asks for the device list from a thread of its own and waits for the answer in that thread's
// event loop, as the web API does. It starts listening in the call's hook, and only after a
// pause, as a thread the system put aside just then would.
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
    QString firstDevEui; // of the answer; empty when none came

private:
    void ask(CServerHandler& client)
    {
        QEventLoop loop;
        QObject receiver; // lives in this thread, so the answer is queued to it
        const auto listen = [&]() {
            QThread::msleep(SLOW_LISTENER_MS);
            QObject::connect(&client, &CServerHandler::getDevicesListResp, &receiver,
                [this, &loop](bool, const QList<API::SServerDeviceInfo>& devices) {
                    firstDevEui = devices.value(0).devEui;
                    loop.quit();
                });
        };
        QElapsedTimer clock;
        clock.start();
        client.getDevicesListReq({"A1"}, listen);
        callMs = clock.elapsed();
        QTimer::singleShot(WEB_WAIT_MS, &loop, &QEventLoop::quit);
        loop.exec();
    }

    std::unique_ptr<QThread> thread;
};
} // namespace

// Each test gets a client of its own and a fake network server that accepts its login.
class TestServerHandler : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void reconnectsAfterLostServer_data();
    void reconnectsAfterLostServer();
    void webThreadCallerGetsItsOwnAnswer_data();
    void webThreadCallerGetsItsOwnAnswer();
    void largeDevicesListArrives();
    void pingAnswerDuringSlowLoginIsNoRefusal();
    void uplinksKeepTheConnectionAlive();
    void messageRepeatingAKeyIsDropped();

private:
    void start() { client->connectSlot(server->url().toString(), "user", "secret"); }
    bool logIn()
    {
        start();
        return QTest::qWaitFor([this]() { return status() == "ONLINE"; }, 5000);
    }
    QString status() const { return COMM::serverStatusText(client->getCurrentStatus()); }

    QTemporaryDir dir;
    std::unique_ptr<CFakeNetworkServer> server;
    std::unique_ptr<CServerHandler> client;
    std::unique_ptr<QSignalSpy> connections;
};

void TestServerHandler::initTestCase()
{
    // The types that travel queued, registered as the service does at start-up.
    qRegisterMetaType<COMM::EServerStatus>("COMM::EServerStatus");
    qRegisterMetaType<QList<API::SServerDeviceInfo>>("QList<API::SServerDeviceInfo>");
    qRegisterMetaType<API::SApiDeviceData>("API::SApiDeviceData");
    QVERIFY(CSettings::getInstance(dir.filePath("settings.conf")));
    CLogFile::getInstance(dir.filePath("history.log"), QString());
}

void TestServerHandler::init()
{
    server = std::make_unique<CFakeNetworkServer>();
    QVERIFY(server->listen());
    client = std::make_unique<CServerHandler>();
    client->setTimings(shortTimings());
    connections = std::make_unique<QSignalSpy>(server.get(), &CFakeNetworkServer::clientConnected);
}

void TestServerHandler::cleanup()
{
    client.reset();
    server.reset();
}

void TestServerHandler::reconnectsAfterLostServer_data()
{
    QTest::addColumn<bool>("silent"); // false: the server drops the connection
    QTest::addColumn<QString>("console");
    QTest::newRow("stops answering") << true << ServerTexts::PING_TIMEOUT;
    QTest::newRow("drops the connection") << false << ServerTexts::DISCONNECTED_RETRY;
}

// The client logs in again by itself, with the stored connection read anew.
void TestServerHandler::reconnectsAfterLostServer()
{
    QFETCH(bool, silent);
    QFETCH(QString, console);

    QVERIFY(logIn());
    CConsoleCatcher catcher;
    CSettings::writeValue("server/login", "edited-user");
    if (silent)
        server->muteConnections();
    else
        server->dropConnections();
    QTRY_COMPARE(connections->count(), 2);
    QTRY_COMPARE(status(), QString("ONLINE"));
    QVERIFY(catcher.contains(console));
    QCOMPARE(server->received("auth_req").last().message.value("login").toString(),
        QString("edited-user"));
}

void TestServerHandler::webThreadCallerGetsItsOwnAnswer_data()
{
    QTest::addColumn<int>("inFlightAnswerDelayMs"); // negative: never answered

    QTest::newRow("request in flight answered") << TASK_ANSWER_MS / 2;
    QTest::newRow("request in flight timing out") << -1;
}

// The web thread asks for the list while another request is in flight. The answer to that one
// must not reach it: its call returns only once that request has been answered or has timed
// out, and not long after. Its own answer, sent at once, must not be missed while it is slow to
// start listening: the request goes out only after the call's hook.
void TestServerHandler::webThreadCallerGetsItsOwnAnswer()
{
    QFETCH(int, inFlightAnswerDelayMs);

    QVERIFY(logIn());
    server->setDevicesList({device("B1")}, true, inFlightAnswerDelayMs);
    QVERIFY(client->getDevicesListReq({"A1"}));
    QTRY_COMPARE(server->received("get_devices_req").size(), 1);
    server->setDevicesList({device("B2")}, true, 0);
    CWebThreadCaller web(*client);
    QTRY_VERIFY_WITH_TIMEOUT(web.finished(), TASK_QUEUE_WAIT_MS + 2 * WEB_WAIT_MS);
    QVERIFY2(web.callMs < TASK_QUEUE_WAIT_MS / 2, qPrintable(QString::number(web.callMs)));
    QCOMPARE(web.firstDevEui, QString("B2"));
}

// A device list far larger than a real one (about 1.4 MB of JSON) still arrives whole: the
// limits on the server's messages leave room for it.
void TestServerHandler::largeDevicesListArrives()
{
    QJsonArray devices;
    for (int i = 0; i < LARGE_LIST_DEVICES; ++i)
        devices.append(device(QString("%1").arg(i, 16, 16, QChar('0'))));
    server->setDevicesList(devices);
    QVERIFY(logIn());
    QSignalSpy answers(client.get(), &CServerHandler::getDevicesListResp);

    QVERIFY(client->getDevicesListReq({"A1"}));
    QTRY_COMPARE(answers.count(), 1);
    QCOMPARE(answers.first().at(0).toBool(), true);
    QCOMPARE(
        answers.first().at(1).value<QList<API::SServerDeviceInfo>>().size(), LARGE_LIST_DEVICES);
}

// The ping timer keeps running from the connection before while a new login waits for its
// answer; a ping answered meanwhile would read as a refusal of the login.
void TestServerHandler::pingAnswerDuringSlowLoginIsNoRefusal()
{
    QVERIFY(logIn());
    server->setLoginDelay(5 * PING_PERIOD_MS);
    server->dropConnections();

    QTRY_COMPARE(server->received("auth_req").size(), 2);
    QTRY_COMPARE(status(), QString("ONLINE"));
}

// Behind a long burst of uplinks a ping answer comes late: the uplinks themselves show that the
// server is there.
void TestServerHandler::uplinksKeepTheConnectionAlive()
{
    QVERIFY(logIn());
    server->setPingsAnswered(false);
    QSignalSpy uplinks(client.get(), &CServerHandler::newPacketReceived);

    QTimer pusher;
    connect(&pusher, &QTimer::timeout, server.get(), [this] {
        server->pushRx({{"devEui", "A1"}, {"type", "UNCONF_UP"}, {"data", "0101"}});
    });
    pusher.start(PING_PERIOD_MS / 4);
    QTRY_VERIFY_WITH_TIMEOUT(uplinks.count() >= 40, 10 * PING_PERIOD_MS * 4);

    QCOMPARE(connections->count(), 1);
}

// Qt's JSON parser loses the memory of a value whose key comes again, so a server could fill the
// memory with such messages; they are dropped unparsed. The uplink after it still arrives.
void TestServerHandler::messageRepeatingAKeyIsDropped()
{
    QVERIFY(logIn());
    QSignalSpy uplinks(client.get(), &CServerHandler::newPacketReceived);

    server->pushText(
        R"({"cmd":"rx","type":"UNCONF_UP","devEui":"00AA","data":["01"],"data":"02"})");
    server->pushRx({{"type", "UNCONF_UP"}, {"devEui", "00BB"}, {"data", "03"}});

    QTRY_COMPARE(uplinks.count(), 1);
    QCOMPARE(uplinks.first().at(0).value<API::SApiDeviceData>().devEui, QString("00BB"));
}

QTEST_GUILESS_MAIN(TestServerHandler)
#include "tst_cserverhandler.moc"
