#include "apimessages.h"
#include "cdevicefile.h"
#include "cpacketgenerator.h"
#include "csimulateddevice.h"
#include "csimulatorserver.h"
#include "cvaluegenerator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
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
    void programRefusesWhatItCannotServe_data();
    void programRefusesWhatItCannotServe();
    void badDeviceFileIsNamedWithWhere_data();
    void badDeviceFileIsNamedWithWhere();
    void driftChangesOnEveryUplinkWithinItsRange_data();
    void driftChangesOnEveryUplinkWithinItsRange();
    void counterGrowsAndStartsAgainPastMax();
    void payloadLaysOutFieldsBySizeSignAndByteOrder_data();
    void payloadLaysOutFieldsBySizeSignAndByteOrder();
    void uplinkReadsAsAnUplinkWithData();
    void packetTypesTakeTurnsAndFramesCountUp();
    void wrongPasswordIsRefused();
    void recentUplinksComeNewestFirst();

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

void TestNsSim::programRefusesWhatItCannotServe_data()
{
    QTest::addColumn<QStringList>("arguments"); // %1 stands for a port another program holds
    QTest::addColumn<QString>("expected");

    const QString devices = QStringLiteral(TARVEX_SOURCE_DIR "/samples/ns-sim-devices.json");
    QTest::newRow("no device file") << QStringList() << "tarvex-ns-sim: No device file given.";
    QTest::newRow("port 70000") << QStringList {"--port", "70000", devices}
                                << "tarvex-ns-sim: Invalid port [70000]: a number from 0 to 65535.";
    QTest::newRow("port taken") << QStringList {"--port", "%1", devices}
                                << "tarvex-ns-sim: Cannot listen on 127.0.0.1 port %1: ";
    QTest::newRow("missing device file")
        << QStringList {"/nonexistent/devices.json"}
        << "tarvex-ns-sim: /nonexistent/devices.json: cannot be read: ";
}

// The program ends at once with status 1 and says why on standard error.
void TestNsSim::programRefusesWhatItCannotServe()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost));
    const QString heldPort = QString::number(holder.serverPort());
    arguments.replaceInStrings("%1", heldPort);
    QProcess program;
    program.start(TARVEX_NSSIM_BINARY, arguments);
    QVERIFY(program.waitForFinished(WAIT_MS));
    QCOMPARE(program.exitCode(), 1);
    const QString console = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(console.startsWith(expected.arg(heldPort)), qPrintable(console));
}

void TestNsSim::badDeviceFileIsNamedWithWhere_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected"); // %1 stands for the file's name

    QTest::newRow("syntax error on line 3")
        << QByteArray("{\n \"devices\": [\n  {\"a\": 1,}\n]}") << "%1:3:11: not valid JSON: ";
    QTest::newRow("no device") << deviceFile({}) << "%1: \"devices\" is missing or empty";
    QTest::newRow("short devEui") << deviceFile({with(validDevice(), "devEui",
        "54A0")}) << "%1: device 1 (Sensor): \"devEui\" must be 16 hexadecimal digits";
    QTest::newRow("same devEui twice")
        << deviceFile({validDevice(), with(validDevice(), "name", "Second")})
        << "%1: device 2 (Second): \"devEui\" 54A0000000010001 is used by another device";
    QTest::newRow("interval 0") << deviceFile({with(validDevice(), "interval", 0)})
                                << "%1: device 1 (Sensor): \"interval\" must be a number of "
                                   "seconds above 0";
    QTest::newRow("field of 3 bytes")
        << deviceFile({validDevice(with(validField(), "size", 3))})
        << "%1: device 1 (Sensor): packet 1, field 1: \"size\" must be 1, 2, 4 or 8 (bytes)";
    QTest::newRow("endianness BIG")
        << deviceFile({validDevice(with(validField(), "endianness", "BIG"))})
        << "%1: device 1 (Sensor): packet 1, field 1: \"endianness\" must be \"le\" or \"be\"";
    QTest::newRow("start beyond max")
        << deviceFile({validDevice(with(validField(), "start", 301))})
        << "%1: device 1 (Sensor): packet 1, field 1: \"min\" <= \"start\" <= \"max\" must hold "
           "within the field's range -32768 to 32767";
    QTest::newRow("fractional start")
        << deviceFile({validDevice(with(validField(), "start", 21.5))})
        << "%1: device 1 (Sensor): packet 1, field 1: \"start\" must be a whole number";
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
    QTest::newRow("two values") << qint64(4) << qint64(5) << qint64(1);
    QTest::newRow("step wider than the range") << qint64(-2) << qint64(2) << qint64(100);
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

// A pulse counter in one byte: every uplink adds 1 to 10 pulses, past 255 it starts again at 0.
void TestNsSim::counterGrowsAndStartsAgainPastMax()
{
    QRandomGenerator random(1);
    CValueGenerator counter(CValueGenerator::COUNTER, 250, 0, 255, 10);
    int wraps = 0;
    for (int i = 0; i < ADVANCES; ++i) {
        const qint64 before = counter.value();
        counter.advance(random);
        const qint64 growth = (counter.value() - before + 256) % 256;
        QVERIFY(growth >= 1);
        QVERIFY(growth <= 10);
        wraps += counter.value() < before ? 1 : 0;
    }
    QVERIFY(wraps > 0);
}

void TestNsSim::payloadLaysOutFieldsBySizeSignAndByteOrder_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QByteArray>("payload"); // hexadecimal

    QTest::newRow("-2 in 2 bytes le") << 2 << false << qint64(-2) << QByteArray("05feff");
    QTest::newRow("-2 in 2 bytes be") << 2 << true << qint64(-2) << QByteArray("05fffe");
    QTest::newRow("200 in 1 byte") << 1 << false << qint64(200) << QByteArray("05c8");
    QTest::newRow("4 bytes le") << 4 << false << qint64(0x01020304) << QByteArray("0504030201");
    QTest::newRow("4 bytes be") << 4 << true << qint64(0x01020304) << QByteArray("0501020304");
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

void TestNsSim::packetTypesTakeTurnsAndFramesCountUp()
{
    QRandomGenerator random(1);
    CSimulatedDevice device = twoPacketDevice();
    QList<quint32> frames;
    QByteArray types;
    for (int i = 0; i < 3; ++i) {
        const API::SApiDeviceData uplink
            = API::readUplink(device.nextUplink(0, GATEWAY_ID, random));
        frames.append(uplink.fcnt);
        types.append(uplink.data.at(0));
    }
    QCOMPARE(frames, (QList<quint32> {0, 1, 2}));
    QCOMPARE(types.toHex(), QByteArray("010201"));
}

void TestNsSim::wrongPasswordIsRefused()
{
    QVERIFY(connectToServer());
    QVERIFY(!logIn("guess"));
    const QJsonObject refusal = request(API::devicesListRequest(), "get_devices_resp");
    QCOMPARE(refusal.value("status").toBool(true), false);
    QCOMPARE(refusal.value("err_string").toString(), QString("not logged in"));
}

void TestNsSim::recentUplinksComeNewestFirst()
{
    QVERIFY(connectToServer());
    QVERIFY(logIn(CREDENTIALS.password));
    // Three uplinks pushed means three kept.
    QTRY_VERIFY_WITH_TIMEOUT(
        std::count_if(received.cbegin(), received.cend(),
            [](const QJsonObject& message) { return message.value("cmd") == "rx"; })
            >= 3,
        WAIT_MS);
    const QJsonObject answer = request(API::deviceDataRequest(DEV_EUI.toLower()), "get_data_resp");
    const QJsonArray list = answer.value("data_list").toArray();
    QVERIFY(list.size() >= 3);
    QVERIFY(list.size() <= 10);
    QVERIFY(list[0].toObject().value("fcnt").toInt() > list[1].toObject().value("fcnt").toInt());
    QCOMPARE(API::chooseLastUplink(answer).devEui, DEV_EUI);
}

QTEST_GUILESS_MAIN(TestNsSim)
#include "tst_nssim.moc"
