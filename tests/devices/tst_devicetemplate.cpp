#include "app/clogfile.h"
#include "devices/sdevicetemplate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

namespace {
QJsonObject parse(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonObject with(QJsonObject object, const QString& key, const QJsonValue& value)
{
    object.insert(key, value);
    return object;
}

QJsonObject without(QJsonObject object, const QString& key)
{
    object.remove(key);
    return object;
}

const QJsonObject FIELD = parse(R"({"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 8,
    "data_type": "uinteger", "endianness": "le", "reg_map_bias": 2, "reg_bit_bias": 0,
    "reg_bit_size": 16, "data_name": "Counter"})");
const QJsonObject PACKET {
    {"packet_type", 1}, {"packet_size", 2}, {"packet_fields", QJsonArray {FIELD}}};
const QJsonObject TEMPLATE {{"app_eui", "a1b2c3d4e5f60708"}, {"dev_type", "Meter"},
    {"device_packets", QJsonArray {PACKET}}};

const QString FIELD_MISSING = "[SDevicePacketField] Invalid input JSON";
const QString FIELD_ENDIANNESS
    = "[SDevicePacketField] Invalid endianness field value, can be \"le\" or \"be\"";
const QString NO_FIELDS = "[SDevicePacket] Packet fields array is empty";
const QString NO_PACKETS = "[SDeviceTemplate] Device packets array is empty";

void expectMessages(const QStringList& messages)
{
    for (const QString& message : messages)
        QTest::ignoreMessage(QtDebugMsg, message.toUtf8().constData());
}
} // namespace

class TestDeviceTemplate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fieldParsing_data();
    void fieldParsing();
    void packetParsing_data();
    void packetParsing();
    void templateParsing_data();
    void templateParsing();
    void completeTemplate();
    void unknownServerKeyword();
};

void TestDeviceTemplate::initTestCase()
{
    QVERIFY(CLogFile::getInstance(QString(), QString())); // no file: entries reach the signal
}

void TestDeviceTemplate::fieldParsing_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("bigEndian");

    QTest::newRow("le") << FIELD << QStringList() << true << false;
    QTest::newRow("BE") << with(FIELD, "endianness", "BE") << QStringList() << true << true;
    QTest::newRow("no endianness")
        << without(FIELD, "endianness") << QStringList() << true << false;
    QTest::newRow("other endianness")
        << with(FIELD, "endianness", "Middle") << QStringList {FIELD_ENDIANNESS} << false << false;
    QTest::newRow("endianness before missing keys")
        << QJsonObject {{"endianness", "big"}} << QStringList {FIELD_ENDIANNESS} << false << false;
    QTest::newRow("missing data_name")
        << without(FIELD, "data_name") << QStringList {FIELD_MISSING} << false << false;
    QTest::newRow("null reg_bit_size")
        << with(FIELD, "reg_bit_size", QJsonValue())
        << QStringList {"[SDevicePacketField] One or several values of input JSON is NULL"} << false
        << false;
    QTest::newRow("empty") << QJsonObject() << QStringList {"[SDevicePacketField] Empty input JSON"}
                           << false << false;
}

void TestDeviceTemplate::fieldParsing()
{
    QFETCH(QJsonObject, json);
    QFETCH(QStringList, messages);
    expectMessages(messages);
    const REGS::SDevicePacketField field(json);
    QTEST(field.valid, "valid");
    QTEST(field.bigEndian, "bigEndian");
}

void TestDeviceTemplate::packetParsing_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("packetSize");
    QTest::addColumn<int>("fieldCount");

    const QJsonObject badField = without(FIELD, "data_type");
    QTest::newRow("no packet_size")
        << without(PACKET, "packet_size") << QStringList() << true << 0 << 1;
    QTest::newRow("empty object") << QJsonObject() << QStringList() << false << 0 << 0;
    QTest::newRow("missing packet_type")
        << without(PACKET, "packet_type") << QStringList {"[SDevicePacket] Invalid input JSON"}
        << false << 0 << 0;
    QTest::newRow("null packet_fields")
        << with(PACKET, "packet_fields", QJsonValue())
        << QStringList {"[SDevicePacket] One or several values of input JSON is NULL"} << false << 0
        << 0;
    QTest::newRow("empty packet_fields") << with(PACKET, "packet_fields", QJsonArray())
                                         << QStringList {NO_FIELDS} << false << 2 << 0;
    QTest::newRow("only invalid fields") << with(PACKET, "packet_fields", QJsonArray {badField})
                                         << QStringList {FIELD_MISSING} << false << 2 << 0;
    QTest::newRow("invalid field left out")
        << with(PACKET, "packet_fields", QJsonArray {badField, FIELD})
        << QStringList {FIELD_MISSING} << true << 2 << 1;
}

void TestDeviceTemplate::packetParsing()
{
    QFETCH(QJsonObject, json);
    QFETCH(QStringList, messages);
    expectMessages(messages);
    const REGS::SDevicePacket packet(json);
    QTEST(packet.valid, "valid");
    QTEST(packet.packetSize, "packetSize");
    QTEST(int(packet.fields.size()), "fieldCount");
}

void TestDeviceTemplate::templateParsing_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("valid");

    QTest::newRow("empty") << QJsonObject() << QStringList {"[SDeviceTemplate] Empty input JSON"}
                           << false;
    QTest::newRow("missing and null: missing wins")
        << without(with(TEMPLATE, "app_eui", QJsonValue()), "dev_type")
        << QStringList {"[SDeviceTemplate] Invalid input JSON"} << false;
    QTest::newRow("null app_eui")
        << with(TEMPLATE, "app_eui", QJsonValue())
        << QStringList {"[SDeviceTemplate] One or several values of input JSON is NULL"} << false;
    QTest::newRow("only packet without fields") << with(
        TEMPLATE, "device_packets", QJsonArray {with(PACKET, "packet_fields", QJsonArray())})
                                                << QStringList {NO_FIELDS, NO_PACKETS} << false;
    QTest::newRow("null server_data")
        << with(TEMPLATE, "server_data", QJsonValue()) << QStringList() << true;
}

void TestDeviceTemplate::templateParsing()
{
    QFETCH(QJsonObject, json);
    QFETCH(QStringList, messages);
    expectMessages(messages);
    const REGS::SDeviceTemplate deviceTemplate(json);
    QTEST(deviceTemplate.valid, "valid");
    QCOMPARE(deviceTemplate.json, json); // kept whether or not it parsed
}

// Every key lands in its own member; duplicates resolve to the later entry.
void TestDeviceTemplate::completeTemplate()
{
    const REGS::SDeviceTemplate deviceTemplate(parse(R"({
        "app_eui": "a1b2c3d4e5f60708", "dev_type": "Meter",
        "server_data": [
            {"data_code": "snr", "reg_map_bias": 7, "reg_bit_bias": 1, "reg_bit_size": 16,
             "data_name": "old"},
            {"data_code": "snr", "reg_map_bias": 8, "reg_bit_bias": 2, "reg_bit_size": 32,
             "data_name": "SNR", "bit_size": 99, "data_type": "text"}],
        "device_packets": [
            {"packet_type": 2, "packet_size": 3, "packet_fields": [
                {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "integer",
                 "reg_map_bias": 4, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "old"}]},
            {"packet_type": 2, "packet_size": 9, "packet_fields": [
                {"packet_bias": 2.5, "data_bit_bias": 8, "data_bit_size": 64, "data_type": "text",
                 "endianness": "be", "reg_map_bias": 5, "reg_bit_bias": 6, "reg_bit_size": 48,
                 "data_name": "Name"}]}]})"));

    QVERIFY(deviceTemplate.valid);
    QCOMPARE(deviceTemplate.appEui, QString("A1B2C3D4E5F60708"));
    QCOMPARE(deviceTemplate.devType, QString("Meter"));
    QCOMPARE(deviceTemplate.packets.keys(), QList<unsigned int> {2});
    const REGS::SDevicePacket packet = deviceTemplate.packets.value(2);
    QCOMPARE(packet.packetSize, 9);
    const REGS::SDevicePacketField f = packet.fields.value(0);
    QCOMPARE(QVariantList({f.packetBias, f.dataBitBias, f.dataBitSize, f.dataType, f.regMapBias,
                 f.regBitBias, f.regBitSize, f.dataName, f.bigEndian}),
        QVariantList({0, 8, 64, "text", 5, 6, 48, "Name", true}));

    QCOMPARE(deviceTemplate.serverData.keys(), QStringList {"snr"});
    const REGS::SServerData s = deviceTemplate.serverData.value("snr");
    // Size and type come from the keyword table, never from the file.
    QCOMPARE(QVariantList({s.valid, s.regMapBias, s.regBitBias, s.regBitSize, s.dataName, s.bitSize,
                 s.dataType}),
        QVariantList({true, 8, 2, 32, "SNR", 16, "integer"}));
}

void TestDeviceTemplate::unknownServerKeyword()
{
    QSignalSpy logSpy(CLogFile::getInstance(), &CLogFile::addLogSignal);
    const QJsonObject fcnt = parse(R"({"data_code": "fcnt", "reg_map_bias": 1,
        "reg_bit_bias": 0, "reg_bit_size": 32, "data_name": "Counter"})");

    // Keywords are case-sensitive: the entry is dropped with a log entry, the template stays valid.
    const REGS::SDeviceTemplate deviceTemplate(
        with(TEMPLATE, "server_data", QJsonArray {fcnt, with(fcnt, "data_code", "FCNT")}));
    QVERIFY(deviceTemplate.valid);
    QCOMPARE(deviceTemplate.serverData.keys(), QStringList {"fcnt"});
    QTRY_COMPARE_WITH_TIMEOUT(logSpy.count(), 1, 2000);
    QVERIFY(logSpy.first().first().toString().endsWith(
        "]ERROR: [SServerData] Server keyword [FCNT] is unknown!"));

    expectMessages({"[SServerData] Invalid input JSON",
        "[SServerData] One or several values of input JSON is NULL"});
    QVERIFY(!REGS::SServerData(without(fcnt, "reg_bit_size")).valid);
    QVERIFY(!REGS::SServerData(with(fcnt, "data_name", QJsonValue())).valid);
}

QTEST_GUILESS_MAIN(TestDeviceTemplate)
#include "tst_devicetemplate.moc"
