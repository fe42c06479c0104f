#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "cdevicehandler.h"
#include "cfakenetworkserver.h"
#include "cserverhandler.h"
#include "freeport.h"
#include "servercontroller.h"
#include "webapplication.h"
#include "webthreadfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QString REGISTERED = QStringLiteral("00000000000000AA");
const QString STATE_PATH = QStringLiteral("/api/v1/server/reqServerState");
const QString LIST_PATH = QStringLiteral("/api/v1/server/getDeviceList");
const int LOGIN_WAIT_MS = 10000;
const QVector<quint16> WORDS {0x1234, 0xABCD};

// A device of the network server's list, as the network server sends it.
QJsonObject serverDevice(const QString& devEui, const QString& appEui)
{
    return {{"devEui", devEui}, {"devName", "Meter " + devEui},
        {"OTAA", QJsonObject {{"appEui", appEui}}}};
}

// The same device as the web API lists it.
QJsonObject listed(const QString& devEui, const QString& appEui)
{
    return {{"devEui", devEui}, {"name", "Meter " + devEui}, {"appEui", appEui}};
}

QJsonObject jsonOf(const HttpAnswer& answer)
{
    return QJsonDocument::fromJson(answer.body).object();
}

// A Modbus TCP read of every word of WORDS from register 0, unit 1.
QByteArray readRequest(quint16 transaction)
{
    QByteArray frame;
    QDataStream out(&frame, QIODevice::WriteOnly);
    out << transaction << quint16(0) << quint16(6) << quint8(1) << quint8(3) << quint16(0)
        << quint16(WORDS.size());
    return frame;
}

// The listener's answer to readRequest(transaction).
QByteArray readAnswer(quint16 transaction)
{
    const int byteCount = 2 * WORDS.size();
    QByteArray frame;
    QDataStream out(&frame, QIODevice::WriteOnly);
    out << transaction << quint16(0) << quint16(3 + byteCount) << quint8(1) << quint8(3)
        << quint8(byteCount);
    for (quint16 word : WORDS)
        out << word;
    return frame;
}
} // namespace

// A network-server client in the test's thread and the fake network server it talks to.
struct NetworkServerSession
{
    CFakeNetworkServer server;
    CServerHandler client;

    NetworkServerSession() { server.listen(); }
    bool logIn()
    {
        client.connectSlot(server.url().toString(), "user", "secret");
        return QTest::qWaitFor(
            [this]() { return client.getCurrentStatus() == COMM::ONLINE; }, LOGIN_WAIT_MS);
    }
};

// The server scope served from a web thread, its client in the test's thread as in the service.
class TestServerController : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void addableDevicesListed_data();
    void addableDevicesListed();
    void requestDuringTheWaitIsServedAfterIt();
    void waitForTheListLeavesTheMainThreadFree();

private:
    QTemporaryDir dir;
    std::unique_ptr<WebThreadFixture> web;
    std::unique_ptr<NetworkServerSession> session;
    CurlClient api {QString()};
};

void TestServerController::initTestCase()
{
    QVERIFY(startStorage(dir, REGISTERED));
    web = std::make_unique<WebThreadFixture>();
    api = web->loggedInClient();
}

// Every test gets a client of its own, logged in to nothing yet.
void TestServerController::init()
{
    session = std::make_unique<NetworkServerSession>();
    CServerHandler* client = &session->client;
    web->replaceController("server", [client](WebApplication* application) {
        return new ServerController(
            client, CAllDeviceHandler::getInstance(), CDataBaseHandler::getInstance(), application);
    });
}

void TestServerController::cleanupTestCase()
{
    web.reset();
    session.reset();
}

// The web thread serves one request at a time: a request that comes in while the device list
// is awaited must wait, neither be served inside the wait nor be lost.
void TestServerController::addableDevicesListed_data()
{
    QTest::addColumn<QJsonArray>("serverList");
    QTest::addColumn<QJsonArray>("expected");

    const QString fits = QStringLiteral("00000000000000BB");
    QTest::newRow("registered, without template, fitting") << QJsonArray {
        serverDevice(REGISTERED, METER_APP_EUI), serverDevice("00000000000000CC", "0BAD"),
        serverDevice(fits, METER_APP_EUI)} << QJsonArray {listed(fits, METER_APP_EUI)};
    QTest::newRow("application EUI in lower case")
        << QJsonArray {serverDevice(fits, METER_APP_EUI.toLower())} << QJsonArray {};
    QTest::newRow("registered EUI in lower case")
        << QJsonArray {serverDevice(REGISTERED.toLower(), METER_APP_EUI)}
        << QJsonArray {listed(REGISTERED.toLower(), METER_APP_EUI)};
}

void TestServerController::addableDevicesListed()
{
    QFETCH(QJsonArray, serverList);
    QFETCH(QJsonArray, expected);
    QVERIFY(session->logIn());
    session->server.setDevicesList(serverList);

    const QJsonObject answer = jsonOf(api.post(LIST_PATH));

    QCOMPARE(answer, QJsonObject({{"devices", expected}, {"result", "success"}}));
}

void TestServerController::requestDuringTheWaitIsServedAfterIt()
{
    QVERIFY(session->logIn());
    session->server.setDevicesList({serverDevice("00000000000000BB", METER_APP_EUI)}, true, -1);
    HttpAnswer listAnswer;
    std::unique_ptr<QThread> listCaller(
        QThread::create([this, &listAnswer]() { listAnswer = api.post(LIST_PATH); }));
    listCaller->start();
    QTRY_COMPARE_WITH_TIMEOUT(session->server.received("get_devices_req").size(), 1, 10000);

    const HttpAnswer stateAnswer = api.post(STATE_PATH);

    QCOMPARE(jsonOf(stateAnswer).value("status").toString(), QString("ONLINE"));
    QTRY_VERIFY_WITH_TIMEOUT(listCaller->isFinished(), 10000);
    QCOMPARE(jsonOf(listAnswer), QJsonObject({{"result", "error"}}));
}

// The device list is awaited in the web thread: meanwhile the test's thread, where the client and
// the Modbus listeners live, keeps answering Modbus reads and taking uplinks.
void TestServerController::waitForTheListLeavesTheMainThreadFree()
{
    QVERIFY(session->logIn());
    const QString fits = QStringLiteral("00000000000000BB");
    session->server.setDevicesList({serverDevice(fits, METER_APP_EUI)}, true, 1500);
    CDeviceHandler listener(freePort(), [](quint16, int, int) { return WORDS; });
    QVERIFY2(listener.portListens(), qPrintable(listener.bindError()));
    QTcpSocket master;
    master.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    QVERIFY(master.waitForConnected(5000));
    QSignalSpy uplinks(&session->client, &CServerHandler::newPacketReceived);
    QTimer uplinkTimer;
    connect(&uplinkTimer, &QTimer::timeout, [this]() {
        session->server.pushRx(
            {{"devEui", REGISTERED.toLower()}, {"type", "UNCONF_UP"}, {"data", "010005"}});
    });
    uplinkTimer.start(100);

    HttpAnswer listAnswer;
    std::unique_ptr<QThread> listCaller(
        QThread::create([this, &listAnswer]() { listAnswer = api.post(LIST_PATH); }));
    listCaller->start();
    QTRY_COMPARE_WITH_TIMEOUT(session->server.received("get_devices_req").size(), 1, 10000);
    const int uplinksBefore = uplinks.count();
    int readsDuringTheWait = 0;
    for (quint16 transaction = 1; !listCaller->isFinished(); ++transaction) {
        master.write(readRequest(transaction));
        QTRY_COMPARE_WITH_TIMEOUT(
            master.bytesAvailable(), qint64(readAnswer(transaction).size()), 500);
        QCOMPARE(master.readAll(), readAnswer(transaction));
        ++readsDuringTheWait;
    }

    QVERIFY2(readsDuringTheWait > 3, qPrintable(QString::number(readsDuringTheWait)));
    QVERIFY(uplinks.count() > uplinksBefore);
    const QJsonArray expected {listed(fits, METER_APP_EUI)};
    QCOMPARE(jsonOf(listAnswer), QJsonObject({{"devices", expected}, {"result", "success"}}));
}

QTEST_GUILESS_MAIN(TestServerController)
#include "tst_servercontroller.moc"
