#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "freeport.h"
#include "webthreadfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
// Registered at the start, on a port of its own, and kept.
const QString REGISTERED = QStringLiteral("00000000000000AA");

QJsonObject countRegister()
{
    return {{"data_name", "Count"}, {"source", 1}, {"reg_map_bias", 2}, {"reg_bit_size", 16},
        {"data_type", "uinteger"}, {"addition", 5}, {"multiplication", 0.5}, {"units", "m3"}};
}

// An addDevice body as the add-device page sends it.
QJsonObject newDevice(const QString& devEui, int port)
{
    return {{"port", port}, {"startAddr", 10}, {"devEui", devEui}, {"app_eui", METER_APP_EUI},
        {"dev_type", "Meter"}, {"devRegisters", QJsonArray {countRegister()}}};
}

const QJsonObject SUCCESS {{"result", true}};
} // namespace

// The app scope served from a web thread, on a real database file and the real registry.
class TestAppController : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void takenPortLeavesNothingBehind();
    void registerValuesAnswerBytes();
    void removalByGetRefused();

private:
    QJsonObject call(const QString& action, const QJsonObject& body) const;

    QTemporaryDir dir;
    std::unique_ptr<WebThreadFixture> web;
    CurlClient api {QString()};
};

void TestAppController::initTestCase()
{
    QVERIFY(startStorage(dir, REGISTERED));
    web = std::make_unique<WebThreadFixture>();
    api = web->loggedInClient();
}

// Takes out every device a test added; their listeners close in the web thread.
void TestAppController::cleanup()
{
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    for (const DB::SDeviceRegMapDescription& device : database->getDevices(QString())) {
        if (device.devEui == REGISTERED)
            continue;
        CAllDeviceHandler::getInstance()->removeDevice(device.devEui);
        database->deleteDevice(device.id);
    }
}

void TestAppController::cleanupTestCase()
{
    web.reset();
}

QJsonObject TestAppController::call(const QString& action, const QJsonObject& body) const
{
    const HttpAnswer answer
        = api.postJson("/api/v1/app/" + action, QJsonDocument(body).toJson(QJsonDocument::Compact));
    return QJsonDocument::fromJson(answer.body).object();
}

// Neither the database nor the registry keeps the device: once the port is free it can be added
// again at once.
void TestAppController::takenPortLeavesNothingBehind()
{
    auto holder = std::make_unique<QTcpServer>();
    QVERIFY(holder->listen(QHostAddress::Any, freePort()));
    const quint16 port = holder->serverPort();
    call("addDevice", newDevice("00000000000000B5", port));
    holder.reset();

    QCOMPARE(call("addDevice", newDevice("00000000000000B5", port)), SUCCESS);
}

// The page and scripts read this answer; its bytes stay those QJsonDocument always wrote.
void TestAppController::registerValuesAnswerBytes()
{
    call("addDevice", newDevice("00000000000000B8", freePort()));

    const HttpAnswer answer
        = api.postJson("/api/v1/app/getRegisterValues", R"({"devEui":"00000000000000B8"})");

    QCOMPARE(answer.headers.value("content-type"), "application/json");
    QCOMPARE(answer.body,
        QByteArray(R"({"registers":[{"addition":5,"data_name":"Count","data_type":"uinteger",)"
                   R"("multiplication":0.5,"reg_bit_size":16,"reg_map_bias":12,"source":1,)"
                   R"("time":"никогда","units":"m3","value":"-"}],"result":true})"));
}

// Any page the operator's browser shows could make a GET request.
void TestAppController::removalByGetRefused()
{
    const HttpAnswer answer = api.get("/api/v1/app/removeDevice?devEui=" + REGISTERED);

    QCOMPARE(answer.status, 405);
}

QTEST_GUILESS_MAIN(TestAppController)
#include "tst_appcontroller.moc"
