#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "freeport.h"
#include "webthreadfixture.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QString APP_EUI = QStringLiteral("A1B2C3D4E5F60708");
// Registered at the start, on a port of its own, and kept.
const QString REGISTERED = QStringLiteral("00000000000000AA");
const int WAIT_MS = 10000;

const QByteArray TEMPLATE = R"({"app_eui": "A1B2C3D4E5F60708", "dev_type": "Meter",
    "device_packets": [{"packet_type": 1, "packet_size": 2, "packet_fields": [{"packet_bias": 1,
    "data_bit_bias": 0, "data_bit_size": 8, "data_type": "uinteger", "reg_map_bias": 0,
    "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "Count"}]}]})";

QJsonObject countRegister()
{
    return {{"data_name", "Count"}, {"source", 1}, {"reg_map_bias", 2}, {"reg_bit_size", 16},
        {"data_type", "uinteger"}, {"addition", 5}, {"multiplication", 0.5}, {"units", "m3"}};
}

// An addDevice body as the add-device page sends it.
QJsonObject newDevice(const QString& devEui, int port)
{
    return {{"port", port}, {"startAddr", 10}, {"devEui", devEui}, {"app_eui", APP_EUI},
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

    void templatesAsRead();
    void refusedDevice_data();
    void refusedDevice();
    void addedDeviceListens();
    void addedDeviceListed();
    void takenPortRefused();
    void takenPortLeavesNothingBehind();
    void newRegistersNeverWritten();
    void removedDeviceClosesItsPort();
    void removalRefused_data();
    void removalRefused();
    void removalByGetRefused();

private:
    QJsonObject call(const QString& action, const QJsonObject& body) const;

    QTemporaryDir dir;
    std::unique_ptr<WebThreadFixture> web;
    CurlClient api {QString()};
};

void TestAppController::initTestCase()
{
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(QDir().mkpath("deviceFolder"));
    QFile file("deviceFolder/meter.json");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(TEMPLATE);
    file.close();
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    QVERIFY(database->init(dir.filePath("server.db")));
    CAllDeviceHandler::getInstance()->init(dir.filePath("deviceFolder"), database);
    QString error;
    QVERIFY(database->registerNewDevice({REGISTERED, APP_EUI, "Meter", 0, {}, freePort()}, error));

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

void TestAppController::templatesAsRead()
{
    const QJsonObject expected = QJsonDocument::fromJson(TEMPLATE).object();

    QCOMPARE(call("getTemplates", {}), QJsonObject({{"templates", QJsonArray {expected}}}));
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
    const auto without = [&valid](const QString& key) {
        QJsonObject body = valid;
        body.remove(key);
        return body;
    };
    QJsonArray tooMany;
    for (int i = 0; i < 51; ++i)
        tooMany.append(countRegister());

    QTest::newRow("port missing") << without("port") << "не указан TCP порт";
    QTest::newRow("port as text") << with("port", "502") << "неправильный формат TCP порта";
    QTest::newRow("port 0") << with("port", 0) << "неправильный формат TCP порта";
    QTest::newRow("port beyond 65535") << with("port", 65536) << "неправильный формат TCP порта";
    QTest::newRow("AppEUI missing") << without("app_eui") << "не введен AppEUI";
    QTest::newRow("DevEUI missing") << without("devEui") << "не введен DevEUI";
    QTest::newRow("no registers") << with("devRegisters", QJsonArray())
                                  << "не задано ни одного регистра";
    QTest::newRow("51 registers") << with("devRegisters", tooMany) << "слишком много регистров";
    QTest::newRow("register not an object")
        << with("devRegisters", QJsonArray {1}) << "неверный формат регистра";
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

void TestAppController::addedDeviceListed()
{
    const quint16 port = freePort();
    call("addDevice", newDevice("00000000000000B3", port));
    uint id = 0;
    QVERIFY(CDataBaseHandler::getInstance()->getDeviceId("00000000000000B3", id));

    const QJsonArray devices = call("getDevices", {}).value("devices").toArray();

    QVERIFY(devices.contains(QJsonObject({{"devEui", "00000000000000B3"}, {"app_eui", APP_EUI},
        {"dev_type", "Meter"}, {"startAddr", 10}, {"port", port}, {"id", int(id)}})));
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

void TestAppController::removedDeviceClosesItsPort()
{
    const quint16 port = freePort();
    call("addDevice", newDevice("00000000000000B7", port));

    QCOMPARE(call("removeDevice", {{"devEui", "00000000000000B7"}}), SUCCESS);
    QTRY_VERIFY_WITH_TIMEOUT(!listens(port), WAIT_MS);
}

void TestAppController::removalRefused_data()
{
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<QString>("error");

    QTest::newRow("DevEUI missing") << QJsonObject() << "не указан DevEUI устройства";
    QTest::newRow("DevEUI unknown")
        << QJsonObject({{"devEui", "00000000000000FF"}}) << "не удалось найти такое устройство";
}

void TestAppController::removalRefused()
{
    QFETCH(QJsonObject, body);
    QFETCH(QString, error);

    QCOMPARE(call("removeDevice", body), failure(error));
}

// Any page the operator's browser shows could make a GET request.
void TestAppController::removalByGetRefused()
{
    const HttpAnswer answer = api.get("/api/v1/app/removeDevice?devEui=" + REGISTERED);

    QCOMPARE(answer.status, 405);
}

QTEST_GUILESS_MAIN(TestAppController)
#include "tst_appcontroller.moc"
