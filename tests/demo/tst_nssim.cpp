#include "apimessages.h"
#include "cdevicefile.h"
#include "cpacketgenerator.h"
#include "csimulateddevice.h"
#include "csimulatorserver.h"
#include "cvaluegenerator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QWebSocket>
#include <QtTest>

#include <memory>

namespace {
const int WAIT_MS = 15000;
const int ADVANCES = 2000;
const QString DEV_EUI = QStringLiteral("54A0000000010001");
const QString APP_EUI = QStringLiteral("54A0000000000101");
const QString GATEWAY_ID = QStringLiteral("00800000A0001234");
const CSimulatorServer::SCredentials CREDENTIALS {"gateway", "secret"};
const int UPLINK_INTERVAL_MS = 50;

// A device file with one valid device whose one packet has one field; rows change a part.
QJsonObject validField()
{
    return {{"size", 2}, {"type", "integer"}, {"endianness", "be"}, {"generator", "drift"},
        {"start", 215}, {"min", 150}, {"max", 300}, {"step", 3}};
}

QJsonObject validDevice(const QJsonObject& field = validField())
{
    return {{"devEui", DEV_EUI}, {"appEui", APP_EUI}, {"name", "Sensor"}, {"interval", 5},
        {"packets", QJsonArray {QJsonObject {{"type", 1}, {"fields", QJsonArray {field}}}}}};
}

QByteArray deviceFile(const QJsonArray& devices)
{
    return QJsonDocument(QJsonObject {{"devices", devices}}).toJson();
}

QJsonObject with(QJsonObject object, const QString& key, const QJsonValue& value)
{
    object.insert(key, value);
    return object;
}

CPacketGenerator constantPacket(quint8 type, int size, bool bigEndian, qint64 value)
{
    const CValueGenerator constant(CValueGenerator::CONSTANT, value, value, value, 1);
    return CPacketGenerator(type, {{size, bigEndian, constant}});
}

CSimulatedDevice twoPacketDevice()
{
    return CSimulatedDevice({DEV_EUI, APP_EUI, "Counter"}, UPLINK_INTERVAL_MS,
        {constantPacket(1, 2, false, 7), constantPacket(2, 1, false, 9)}, -80, 7.5);
}

QJsonObject parse(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}
} // namespace

// The network-server simulator: its device file, its generated uplinks, and its protocol as
// the service's own message functions write and read it.
class TestNsSim : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void badDeviceFileIsNamedWithWhere_data();
    void badDeviceFileIsNamedWithWhere();
    void driftChangesOnEveryUplinkWithinItsRange_data();
    void driftChangesOnEveryUplinkWithinItsRange();
    void payloadLaysOutFieldsBySizeSignAndByteOrder_data();
    void payloadLaysOutFieldsBySizeSignAndByteOrder();
    void uplinkReadsAsAnUplinkWithData();
    void wrongPasswordIsRefused();

private:
    bool connectToServer();
    QJsonObject request(const QString& text, const QString& answerCommand);
    bool logIn(const QString& password);

    std::unique_ptr<CSimulatorServer> server;
    std::unique_ptr<QWebSocket> client;
    QList<QJsonObject> received;
};

// A simulator with the two-packet device on loopback, and a connection to it.
bool TestNsSim::connectToServer()
{
    server = std::make_unique<CSimulatorServer>(
        QList<CSimulatedDevice> {twoPacketDevice()}, GATEWAY_ID, CREDENTIALS);
    if (!server->listen(QHostAddress::LocalHost, 0))
        return false;
    received.clear();
    client = std::make_unique<QWebSocket>();
    connect(client.get(), &QWebSocket::textMessageReceived, this,
        [this](const QString& text) { received.append(parse(text)); });
    client->open(QUrl(QString("ws://127.0.0.1:%1").arg(server->port())));
    return QTest::qWaitFor(
        [this] { return client->state() == QAbstractSocket::ConnectedState; }, WAIT_MS);
}

void TestNsSim::cleanup()
{
    client.reset();
    server.reset();
}

// Sends one request and waits for the first message with the answer's command after it; an
// empty object when none comes.
QJsonObject TestNsSim::request(const QString& text, const QString& answerCommand)
{
    const int before = received.size();
    client->sendTextMessage(text);
    QJsonObject answer;
    [[maybe_unused]] const bool answered = QTest::qWaitFor(
        [&] {
            for (int i = before; i < received.size(); ++i) {
                if (received[i].value("cmd").toString() == answerCommand) {
                    answer = received[i];
                    return true;
                }
            }
            return false;
        },
        WAIT_MS);
    return answer;
}

bool TestNsSim::logIn(const QString& password)
{
    request(API::pingRequest(), "ping_resp");
    return request(API::authRequest(CREDENTIALS.login, password), "auth_resp")
        .value("status")
        .toBool();
}

void TestNsSim::badDeviceFileIsNamedWithWhere_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected"); // %1 stands for the file's name

    QTest::newRow("syntax error on line 3")
        << QByteArray("{\n \"devices\": [\n  {\"a\": 1,}\n]}") << "%1:3:11: not valid JSON: ";
    QTest::newRow("short devEui") << deviceFile({with(validDevice(), "devEui",
        "54A0")}) << "%1: device 1 (Sensor): \"devEui\" must be 16 hexadecimal digits";
    QTest::newRow("field of 3 bytes")
        << deviceFile({validDevice(with(validField(), "size", 3))})
        << "%1: device 1 (Sensor): packet 1, field 1: \"size\" must be 1, 2, 4 or 8 (bytes)";
    QTest::newRow("start beyond max")
        << deviceFile({validDevice(with(validField(), "start", 301))})
        << "%1: device 1 (Sensor): packet 1, field 1: \"min\" <= \"start\" <= \"max\" must hold "
           "within the field's range -32768 to 32767";
}

void TestNsSim::badDeviceFileIsNamedWithWhere()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);

    CDeviceFile deviceFile;
    QVERIFY(!deviceFile.parse(content, "devices.json"));
    QVERIFY2(deviceFile.errorText().startsWith(expected.arg("devices.json")),
        qPrintable(deviceFile.errorText()));
}

void TestNsSim::driftChangesOnEveryUplinkWithinItsRange_data()
{
    QTest::addColumn<qint64>("min");
    QTest::addColumn<qint64>("max");
    QTest::addColumn<qint64>("step");

    QTest::newRow("temperature") << qint64(150) << qint64(300) << qint64(3);
    QTest::newRow("whole 64-bit range")
        << std::numeric_limits<qint64>::min() << std::numeric_limits<qint64>::max()
        << qint64(std::numeric_limits<int>::max());
}

void TestNsSim::driftChangesOnEveryUplinkWithinItsRange()
{
    QFETCH(qint64, min);
    QFETCH(qint64, max);
    QFETCH(qint64, step);

    QRandomGenerator random(1);
    CValueGenerator value(CValueGenerator::DRIFT, max, min, max, step);
    for (int i = 0; i < ADVANCES; ++i) {
        const qint64 before = value.value();
        value.advance(random);
        QVERIFY(value.value() != before);
        QVERIFY(value.value() >= min);
        QVERIFY(value.value() <= max);
    }
}

void TestNsSim::payloadLaysOutFieldsBySizeSignAndByteOrder_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QByteArray>("payload"); // hexadecimal

    QTest::newRow("-2 in 2 bytes le") << 2 << false << qint64(-2) << QByteArray("05feff");
    QTest::newRow("-2 in 2 bytes be") << 2 << true << qint64(-2) << QByteArray("05fffe");
    QTest::newRow("-1 in 8 bytes") << 8 << true << qint64(-1) << QByteArray("05ffffffffffffffff");
}

void TestNsSim::payloadLaysOutFieldsBySizeSignAndByteOrder()
{
    QFETCH(int, size);
    QFETCH(bool, bigEndian);
    QFETCH(qint64, value);
    QFETCH(QByteArray, payload);

    QRandomGenerator random(1);
    CPacketGenerator packet = constantPacket(5, size, bigEndian, value);
    QCOMPARE(packet.next(random).toHex(), payload);
}

// What the service makes of a simulated uplink.
void TestNsSim::uplinkReadsAsAnUplinkWithData()
{
    QRandomGenerator random(1);
    CSimulatedDevice device = twoPacketDevice();
    const qint64 now = 1700000000123;
    const API::SApiDeviceData uplink = API::readUplink(device.nextUplink(now, GATEWAY_ID, random));
    QVERIFY(uplink.valid);
    QCOMPARE(uplink.devEui, DEV_EUI);
    QCOMPARE(uplink.ts, quint64(now));
    QCOMPARE(uplink.gatewayId, GATEWAY_ID);
    QCOMPARE(uplink.data.toHex(), QByteArray("010700"));
    QCOMPARE(uplink.rssi, qint16(-80));
    QCOMPARE(uplink.snr, 7.5);
}

void TestNsSim::wrongPasswordIsRefused()
{
    QVERIFY(connectToServer());
    QVERIFY(!logIn("guess"));
    const QJsonObject refusal = request(API::devicesListRequest(), "get_devices_resp");
    QCOMPARE(refusal.value("status").toBool(true), false);
    QCOMPARE(refusal.value("err_string").toString(), QString("not logged in"));
}

QTEST_GUILESS_MAIN(TestNsSim)
#include "tst_nssim.moc"
