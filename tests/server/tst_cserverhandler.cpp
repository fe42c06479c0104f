#include "cconsolecatcher.h"
#include "cfakenetworkserver.h"
#include "clogfile.h"
#include "cserverhandler.h"
#include "csettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {
const int CONNECT_RETRY_MS = 300;
const int TASK_ANSWER_MS = 1500;
const QString PREFIX = QStringLiteral("[CServerHandler::textMessageReceivedSlot] ");
enum ELoss { LOSS_SILENT, LOSS_DROP, LOSS_DOWN };
const QString PING_TIMEOUT = QStringLiteral("Ping timeout, trying to reconnect server...");
const QString RETRY = QStringLiteral("Server is disconnected, trying to reconnect server...");

// A client, the network server it talks to, and what the client reported.
struct SSession
{
    CFakeNetworkServer server;
    CServerHandler client;
    QSignalSpy connections {&server, &CFakeNetworkServer::clientConnected};
    QStringList statuses;
    QStringList packets; // "device EUI fcnt data"
    QStringList devicesAnswers; // "status:device count"

    // The long intervals shortened so the suite stays fast; the first-ping wait stays 2 s.
    SSession()
    {
        CServerHandler::STimings timings;
        timings.pingPeriod = timings.pingAnswer = 200;
        timings.taskAnswer = TASK_ANSWER_MS;
        timings.taskQueueWait = 3000;
        timings.connectRetry = CONNECT_RETRY_MS;
        client.setTimings(timings);
        server.listen();
        QObject::connect(&client, &CServerHandler::changeServerStatus,
            [this](COMM::EServerStatus status) { statuses << COMM::serverStatusText(status); });
        QObject::connect(
            &client, &CServerHandler::newPacketReceived, [this](const API::SApiDeviceData& p) {
                packets << p.devEui + " " + QString::number(p.fcnt) + " " + p.data.toHex();
            });
        QObject::connect(&client, &CServerHandler::getDevicesListResp,
            [this](bool status, const QList<API::SServerDeviceInfo>& devices) {
                devicesAnswers << QString("%1:%2").arg(status).arg(devices.size());
            });
    }
    QString status() const { return COMM::serverStatusText(client.getCurrentStatus()); }
    void start() { client.connectSlot(server.url().toString(), "user", "secret"); }
    bool loggedIn()
    {
        start();
        return QTest::qWaitFor([this]() { return status() == "ONLINE"; }, 5000);
    }
};
} // namespace

class TestServerHandler : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loginAndLostServer_data();
    void loginAndLostServer();
    void failedLogin_data();
    void failedLogin();
    void firstPingUnanswered();
    void devicesListTasks_data();
    void devicesListTasks();

private:
    // The stored connection as another program reads it from the file.
    QString storedConnection() const
    {
        QSettings file(dir.filePath("settings.conf"), QSettings::IniFormat);
        return file.value("server/address").toString() + " " + file.value("server/login").toString()
            + " " + file.value("server/password").toString();
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
    QVERIFY(CSettings::getInstance(dir.filePath("settings.conf")));
    CLogFile::getInstance(dir.filePath("history.log"), QString());
}

void TestServerHandler::loginAndLostServer_data()
{
    QTest::addColumn<int>("loss");
    QTest::newRow("stops answering") << int(LOSS_SILENT);
    QTest::newRow("drops the connection") << int(LOSS_DROP);
    QTest::newRow("down for a while") << int(LOSS_DOWN);
}

// After a lost server the client logs in again by itself, with the stored connection read anew,
// and uplinks flow again; a server that is down (as at start-up, before it is up) is tried again
// until it is back.
void TestServerHandler::loginAndLostServer()
{
    QFETCH(int, loss);

    SSession session;
    QVERIFY(session.loggedIn());
    QCOMPARE(
        session.statuses, QStringList({"DISCONNECTED", "PING WAITING", "AUTH WAITING", "ONLINE"}));
    QCOMPARE(session.server.received().at(1).message,
        QJsonObject({{"cmd", "auth_req"}, {"login", "user"}, {"password", "secret"}}));
    QCOMPARE(storedConnection(), session.server.url().toString() + " user secret");

    // Pings go out every period while online (on average: Qt's coarse timers may fire up to 5 %
    // early, and a receipt may lag), and answered pings keep the connection.
    QTRY_VERIFY(session.server.received("ping_req").size() >= 5);
    const QList<CFakeNetworkServer::SReceivedMessage> pings = session.server.received("ping_req");
    QVERIFY(pings.last().timeMs - pings.at(1).timeMs >= (pings.size() - 2) * 180);
    QCOMPARE(session.connections.count(), 1);

    CConsoleCatcher console;
    CSettings::writeValue("server/login", "edited-user");
    const quint16 port = session.server.port();
    if (loss == LOSS_SILENT) {
        session.server.muteConnections();
    } else if (loss == LOSS_DROP) {
        session.server.dropConnections();
    } else {
        session.server.close();
        QTRY_VERIFY(console.count(RETRY) >= 2);
        QVERIFY(session.server.listen(port));
    }
    QTRY_COMPARE(session.connections.count(), 2);
    QTRY_COMPARE(session.status(), QString("ONLINE"));
    if (loss != LOSS_DOWN)
        QCOMPARE(console.count(loss == LOSS_DROP ? RETRY : PING_TIMEOUT), 1);
    QCOMPARE(session.server.received("auth_req").last().message.value("login").toString(),
        QString("edited-user"));

    // Then only uplinks are forwarded, whether pushed or asked for.
    session.server.pushRx({{"type", "JOIN_REQ"}, {"devEui", "a1"}, {"data", "01"}});
    session.server.pushRx({{"type", "UNCONF_UP+MAC_LINKCHECK_REQ"}, {"devEui", "00aa11bb22cc33dd"},
        {"fcnt", 42}, {"data", "0aff"}});
    QTRY_COMPARE(session.packets, QStringList({"00AA11BB22CC33DD 42 0aff"}));
    session.server.setDataList({QJsonObject {{"type", "JOIN_REQ"}, {"data", "01"}},
        QJsonObject {{"type", "UNCONF_UP"}, {"fcnt", 7}, {"data", "0102"}}});
    session.client.getDeviceLastPackets("00aa11bb22cc33dd");
    QTRY_COMPARE(session.packets.mid(1), QStringList({"00AA11BB22CC33DD 7 0102"}));
    QCOMPARE(session.server.received("get_data_req").at(0).message,
        QJsonObject({{"cmd", "get_data_req"}, {"devEui", "00AA11BB22CC33DD"},
            {"select", QJsonObject {{"direction", "UPLINK"}, {"limit", 10}}}}));
}

void TestServerHandler::failedLogin_data()
{
    QTest::addColumn<QString>("answer"); // empty: the server refuses by itself
    QTest::addColumn<QString>("console");

    const QString prefix = PREFIX + "State=auth: unknown message";
    QTest::newRow("refused") << QString() << prefix + "[4], err[wrong password]";
    QTest::newRow("uplink before the answer")
        << R"({"cmd":"rx","type":"UNCONF_UP","devEui":"a1","data":"01"})" << prefix + "[2]";
    QTest::newRow("status as text")
        << R"({"cmd":"auth_resp","status":"true","err_string":"x"})" << prefix + "[4], err[x]";
}

// A failed login keeps the stored connection and is not retried.
void TestServerHandler::failedLogin()
{
    QFETCH(QString, answer);
    QFETCH(QString, console);

    SSession session;
    CConsoleCatcher catcher;
    // A retry would come back to this server.
    CSettings::writeValue("server/address", session.server.url().toString());
    CSettings::writeValue("server/login", "stored-user");
    const QString stored = storedConnection();
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

    // A proper answer after that is ignored; the text that follows shows it has been read.
    session.server.sendToAll({{"cmd", "auth_resp"}, {"status", true}});
    session.server.sendTextToAll("not json");
    QTRY_VERIFY(catcher.contains(PREFIX + "Unknown input message format"));
    session.server.dropConnections();
    QTRY_COMPARE(session.status(), QString("DISCONNECTED"));
    QTest::qWait(3 * CONNECT_RETRY_MS);
    QCOMPARE(session.connections.count(), 1);
    QCOMPARE(storedConnection(), stored);
    QVERIFY(session.packets.isEmpty());
}

void TestServerHandler::firstPingUnanswered()
{
    SSession session;
    session.client.setTimings({});
    session.server.setAnswerPings(false);
    session.start();
    QTRY_COMPARE(session.status(), QString("PING WAITING"));
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(session.status(), QString("INVALID PING"), 4000);
    QVERIFY(clock.elapsed() >= 1700);

    // A late ping_resp still continues the login.
    session.server.sendToAll({{"cmd", "ping_resp"}});
    QTRY_COMPARE(session.status(), QString("ONLINE"));
    QCOMPARE(session.statuses,
        QStringList({"DISCONNECTED", "PING WAITING", "INVALID PING", "AUTH WAITING", "ONLINE"}));
}

void TestServerHandler::devicesListTasks_data()
{
    QTest::addColumn<bool>("fromSecondThread");
    QTest::addColumn<bool>("status");
    QTest::addColumn<int>("answerDelayMs");
    QTest::addColumn<QStringList>("answers");
    QTest::newRow("in a row") << false << true << 300 << QStringList {"1:1", "1:1"};
    QTest::newRow("from a second thread") << true << true << 300 << QStringList {"1:1", "1:1"};
    QTest::newRow("refused") << false << false << 300 << QStringList {"0:0", "0:0"};
    // The first times out and is answered locally with nothing; its late answer is taken for the
    // second, and the late answer to that one finds no request and is dropped.
    QTest::newRow("late") << false << true << 2000 << QStringList {"0:0", "1:1"};
}

// The second request goes out only once the first is answered (which frees the queue at once)
// or has timed out; a caller in another thread (the web thread) waits for that.
void TestServerHandler::devicesListTasks()
{
    QFETCH(bool, fromSecondThread);
    QFETCH(bool, status);
    QFETCH(int, answerDelayMs);
    QFETCH(QStringList, answers);

    SSession session;
    QVERIFY(session.loggedIn());
    const QJsonObject device {
        {"devEui", "b1"}, {"devName", "M"}, {"OTAA", QJsonObject {{"appEui", "a1"}}}};
    session.server.setDevicesList({device}, status, answerDelayMs);
    const QString unscheduled = PREFIX + "State=verified: unsheduled packet from server";
    const int unscheduledBefore = logCount(unscheduled);
    QVERIFY(session.client.getDevicesListReq({"a1"}));
    if (fromSecondThread) {
        QTRY_COMPARE(session.server.received("get_devices_req").size(), 1);
        QScopedPointer<QThread> web(
            QThread::create([&]() { session.client.getDevicesListReq({"a1"}); }));
        web->start();
        QTRY_VERIFY(web->isFinished());
    } else {
        QVERIFY(session.client.getDevicesListReq({"a1"}));
    }

    QTRY_COMPARE(session.devicesAnswers, answers);
    const auto requests = session.server.received("get_devices_req");
    QCOMPARE(requests.size(), 2);
    const qint64 gap = requests.at(1).timeMs - requests.at(0).timeMs;
    const int expectedGap = qMin(answerDelayMs, TASK_ANSWER_MS);
    QVERIFY(gap >= expectedGap * 9 / 10 && gap < expectedGap + 1000);
    QTRY_COMPARE(logCount(unscheduled), unscheduledBefore + int(answerDelayMs > TASK_ANSWER_MS));
    QCOMPARE(session.devicesAnswers, answers);
}

QTEST_GUILESS_MAIN(TestServerHandler)
#include "tst_cserverhandler.moc"
