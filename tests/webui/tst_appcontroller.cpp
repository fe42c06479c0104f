#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "freeport.h"
#include "webthreadfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
// Registered at the start, on a port of its own, and kept.
const QString REGISTERED = QStringLiteral("00000000000000AA");
const int WAIT_MS = 10000;

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

QJsonObject failure(const QString& error)
{
    return {{"result", false}, {"error", error}};
}

const QJsonObject SUCCESS {{"result", true}};

bool listens(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(WAIT_MS);
}
} // namespace

// The app scope served from a web thread, on a real database file and the real registry.
class TestAppController : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void refusedDevice_data();
    void refusedDevice();
    void addedDeviceListens();
    void takenPortRefused();
    void takenPortLeavesNothingBehind();
    void newRegistersNeverWritten();
    void registerValuesAnswerBytes();
    void storedValueShownAtOnce();
    void removedDeviceValuesNotFound();
    void removedDeviceClosesItsPort();
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

void TestAppController::refusedDevice_data()
{
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<QString>("error");

    const QJsonObject valid = newDevice("00000000000000B1", freePort());
    const auto with = [&valid](const QString& key, const QJsonValue& value) {
        QJsonObject body = valid;
        body[key] = value;
        return body;
    };
    QJsonArray tooMany;
    for (int i = 0; i < 51; ++i)
        tooMany.append(countRegister());

    QTest::newRow("51 registers") << with("devRegisters", tooMany) << "слишком много регистров";
    QTest::newRow("DevEUI registered")
        << with("devEui", REGISTERED) << "устройство 00000000000000AA уже зарегистрировано";
}

void TestAppController::refusedDevice()
{
    QFETCH(QJsonObject, body);
    QFETCH(QString, error);

    QCOMPARE(call("addDevice", body), failure(error));
}

void TestAppController::addedDeviceListens()
{
    const quint16 port = freePort();

    QCOMPARE(call("addDevice", newDevice("00000000000000B2", port)), SUCCESS);
    QVERIFY(listens(port));
}

void TestAppController::takenPortRefused()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, freePort()));

    const QJsonObject answer
        = call("addDevice", newDevice("00000000000000B4", holder.serverPort()));

    QCOMPARE(answer, failure(QString("не удалось открыть TCP порт %1").arg(holder.serverPort())));
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

void TestAppController::newRegistersNeverWritten()
{
    call("addDevice", newDevice("00000000000000B6", freePort()));

    const QJsonObject answer = call("getRegisterValues", {{"devEui", "00000000000000B6"}});

    const QJsonObject row {{"reg_map_bias", 12}, {"reg_bit_size", 16}, {"data_type", "uinteger"},
        {"value", "-"}, {"time", "никогда"}, {"data_name", "Count"}, {"units", "m3"},
        {"addition", 5}, {"multiplication", 0.5}, {"source", 1}};
    QCOMPARE(answer, QJsonObject({{"result", true}, {"registers", QJsonArray {row}}}));
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

// The values are read again after every write, however often they were read before it.
void TestAppController::storedValueShownAtOnce()
{
    call("addDevice", newDevice("00000000000000BA", freePort()));
    call("getRegisterValues", {{"devEui", "00000000000000BA"}});
    DB::SDbDeviceRegDataSet dataSet;
    dataSet.devEui = "00000000000000BA";
    dataSet.startAddr = 10;
    dataSet.appendRewriteData("42", 2, "002A");
    CDataBaseHandler::getInstance()->saveRegisterData(dataSet);

    const QJsonObject answer = call("getRegisterValues", {{"devEui", "00000000000000BA"}});

    const QJsonObject row = answer.value("registers").toArray().first().toObject();
    QCOMPARE(row.value("value").toString(), "42");
}

// A device that was read before its removal is not found after it.
void TestAppController::removedDeviceValuesNotFound()
{
    call("addDevice", newDevice("00000000000000BB", freePort()));
    call("getRegisterValues", {{"devEui", "00000000000000BB"}});
    call("removeDevice", {{"devEui", "00000000000000BB"}});

    const QJsonObject answer = call("getRegisterValues", {{"devEui", "00000000000000BB"}});

    QCOMPARE(answer, failure("не удалось найти такое устройство"));
}

void TestAppController::removedDeviceClosesItsPort()
{
    const quint16 port = freePort();
    call("addDevice", newDevice("00000000000000B7", port));

    QCOMPARE(call("removeDevice", {{"devEui", "00000000000000B7"}}), SUCCESS);
    QTRY_VERIFY_WITH_TIMEOUT(!listens(port), WAIT_MS);
}

// Any page the operator's browser shows could make a GET request.
void TestAppController::removalByGetRefused()
{
    const HttpAnswer answer = api.get("/api/v1/app/removeDevice?devEui=" + REGISTERED);

    QCOMPARE(answer.status, 405);
}

QTEST_GUILESS_MAIN(TestAppController)
#include "tst_appcontroller.moc"
