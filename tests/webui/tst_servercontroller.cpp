#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "cfakenetworkserver.h"
#include "cserverhandler.h"
#include "servercontroller.h"
#include "webapplication.h"
#include "webthreadfixture.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QString REGISTERED = QStringLiteral("00000000000000AA");
const QString STATE_PATH = QStringLiteral("/api/v1/server/reqServerState");
const QString LIST_PATH = QStringLiteral("/api/v1/server/getDeviceList");
const int LOGIN_WAIT_MS = 10000;

// A device of the network server's list, as the network server sends it.
QJsonObject serverDevice(const QString& devEui, const QString& appEui)
{
    return {{"devEui", devEui}, {"devName", "Meter " + devEui},
        {"OTAA", QJsonObject {{"appEui", appEui}}}};
}

QJsonObject jsonOf(const HttpAnswer& answer)
{
    return QJsonDocument::fromJson(answer.body).object();
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
    void requestDuringTheWaitIsServedAfterIt();

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

QTEST_GUILESS_MAIN(TestServerController)
#include "tst_servercontroller.moc"
