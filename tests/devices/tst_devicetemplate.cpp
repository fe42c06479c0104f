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

QJsonObject validField()
{
    return parse(R"({"packet_bias": 1, "data_bit_bias": 8, "data_bit_size": 32,
                     "data_type": "uinteger", "endianness": "le", "reg_map_bias": 2,
                     "reg_bit_bias": 3, "reg_bit_size": 64, "data_name": "Counter"})");
}

QJsonObject validPacket()
{
    return QJsonObject {
        {"packet_type", 1}, {"packet_size", 5}, {"packet_fields", QJsonArray {validField()}}};
}

QJsonObject validTemplate()
{
    return QJsonObject {{"app_eui", "a1b2c3d4e5f60708"}, {"dev_type", "Meter"},
        {"device_packets", QJsonArray {validPacket()}}};
}

const char* const FIELD_INVALID_JSON = "[SDevicePacketField] Invalid input JSON";
const char* const FIELD_NULL = "[SDevicePacketField] One or several values of input JSON is NULL";
const char* const FIELD_ENDIANNESS
    = "[SDevicePacketField] Invalid endianness field value, can be \"le\" or \"be\"";
const char* const PACKET_NO_FIELDS = "[SDevicePacket] Packet fields array is empty";
const char* const TEMPLATE_NO_PACKETS = "[SDeviceTemplate] Device packets array is empty";
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
    void serverDataKeywords();
};

void TestDeviceTemplate::initTestCase()
{
    // No file: entries only reach addLogSignal.
    QVERIFY(CLogFile::getInstance(QString(), QString()));
}

void TestDeviceTemplate::fieldParsing_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<int>("packetBias");

    const QJsonObject field = validField();
    QTest::newRow("le") << field << QString() << true << false << 1;
    QTest::newRow("BE in upper case")
        << with(field, "endianness", "BE") << QString() << true << true << 1;
    QTest::newRow("no endianness is le")
        << without(field, "endianness") << QString() << true << false << 1;
    QTest::newRow("unknown endianness")
        << with(field, "endianness", "Middle") << FIELD_ENDIANNESS << false << false << 0;
    QTest::newRow("null endianness")
        << with(field, "endianness", QJsonValue()) << FIELD_ENDIANNESS << false << false << 0;
    QTest::newRow("endianness checked before missing keys")
        << QJsonObject {{"endianness", "big"}} << FIELD_ENDIANNESS << false << false << 0;
    QTest::newRow("missing data_name")
        << without(field, "data_name") << FIELD_INVALID_JSON << false << false << 0;
    QTest::newRow("missing packet_bias")
        << without(field, "packet_bias") << FIELD_INVALID_JSON << false << false << 0;
    QTest::newRow("null reg_bit_size")
        << with(field, "reg_bit_size", QJsonValue()) << FIELD_NULL << false << false << 0;
    QTest::newRow("empty object") << QJsonObject() << "[SDevicePacketField] Empty input JSON"
                                  << false << false << 0;
    QTest::newRow("fraction reads as 0")
        << with(field, "packet_bias", 2.5) << QString() << true << false << 0;
    QTest::newRow("string reads as 0")
        << with(field, "packet_bias", "3") << QString() << true << false << 0;
}

void TestDeviceTemplate::fieldParsing()
{
    QFETCH(QJsonObject, json);
    QFETCH(QString, message);
    QFETCH(bool, valid);
    QFETCH(bool, bigEndian);
    QFETCH(int, packetBias);
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, message.toUtf8().constData());

    const REGS::SDevicePacketField field(json);
    QCOMPARE(field.valid, valid);
    QCOMPARE(field.bigEndian, bigEndian);
    QCOMPARE(field.packetBias, packetBias);
}

void TestDeviceTemplate::packetParsing_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("packetSize");
    QTest::addColumn<int>("fieldCount");

    const QJsonObject packet = validPacket();
    const QJsonObject badField = without(validField(), "data_type");
    QTest::newRow("valid") << packet << QStringList() << true << 5 << 1;
    QTest::newRow("no packet_size")
        << without(packet, "packet_size") << QStringList() << true << 0 << 1;
    QTest::newRow("null packet_size")
        << with(packet, "packet_size", QJsonValue()) << QStringList() << true << 0 << 1;
    QTest::newRow("empty object") << QJsonObject() << QStringList() << false << 0 << 0;
    QTest::newRow("missing packet_type")
        << without(packet, "packet_type") << QStringList {"[SDevicePacket] Invalid input JSON"}
        << false << 0 << 0;
    QTest::newRow("null packet_fields")
        << with(packet, "packet_fields", QJsonValue())
        << QStringList {"[SDevicePacket] One or several values of input JSON is NULL"} << false << 0
        << 0;
    QTest::newRow("empty packet_fields") << with(packet, "packet_fields", QJsonArray())
                                         << QStringList {PACKET_NO_FIELDS} << false << 5 << 0;
    QTest::newRow("only invalid fields") << with(packet, "packet_fields", QJsonArray {badField})
                                         << QStringList {FIELD_INVALID_JSON} << false << 5 << 0;
    QTest::newRow("invalid field left out")
        << with(packet, "packet_fields", QJsonArray {badField, validField(), 7})
        << QStringList {FIELD_INVALID_JSON, "[SDevicePacketField] Empty input JSON"} << true << 5
        << 1;
}

void TestDeviceTemplate::packetParsing()
{
    QFETCH(QJsonObject, json);
    QFETCH(QStringList, messages);
    QFETCH(bool, valid);
    QFETCH(int, packetSize);
    QFETCH(int, fieldCount);
    for (const QString& message : messages)
        QTest::ignoreMessage(QtDebugMsg, message.toUtf8().constData());

    const REGS::SDevicePacket packet(json);
    QCOMPARE(packet.valid, valid);
    QCOMPARE(packet.packetSize, packetSize);
    QCOMPARE(packet.fields.size(), fieldCount);
}

void TestDeviceTemplate::templateParsing_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("valid");

    const QJsonObject base = validTemplate();
    QTest::newRow("valid") << base << QStringList() << true;
    QTest::newRow("empty object") << QJsonObject()
                                  << QStringList {"[SDeviceTemplate] Empty input JSON"} << false;
    QTest::newRow("missing dev_type")
        << without(base, "dev_type") << QStringList {"[SDeviceTemplate] Invalid input JSON"}
        << false;
    QTest::newRow("missing and null: missing reported")
        << without(with(base, "app_eui", QJsonValue()), "device_packets")
        << QStringList {"[SDeviceTemplate] Invalid input JSON"} << false;
    QTest::newRow("null app_eui")
        << with(base, "app_eui", QJsonValue())
        << QStringList {"[SDeviceTemplate] One or several values of input JSON is NULL"} << false;
    QTest::newRow("only packet has no fields")
        << with(base, "device_packets",
               QJsonArray {with(validPacket(), "packet_fields", QJsonArray())})
        << QStringList {PACKET_NO_FIELDS, TEMPLATE_NO_PACKETS} << false;
    QTest::newRow("device_packets not an array")
        << with(base, "device_packets", 3) << QStringList {TEMPLATE_NO_PACKETS} << false;
    QTest::newRow("null server_data")
        << with(base, "server_data", QJsonValue()) << QStringList() << true;
    QTest::newRow("server_data not an array")
        << with(base, "server_data", "rssi") << QStringList() << true;
}

void TestDeviceTemplate::templateParsing()
{
    QFETCH(QJsonObject, json);
    QFETCH(QStringList, messages);
    QFETCH(bool, valid);
    for (const QString& message : messages)
        QTest::ignoreMessage(QtDebugMsg, message.toUtf8().constData());

    const REGS::SDeviceTemplate deviceTemplate(json);
    QCOMPARE(deviceTemplate.valid, valid);
    QCOMPARE(deviceTemplate.json, json); // kept whether or not it parsed
    if (valid)
        QVERIFY(deviceTemplate.serverData.isEmpty());
}

// Every key lands in its own member, duplicates resolve to the later entry.
void TestDeviceTemplate::completeTemplate()
{
    const REGS::SDeviceTemplate deviceTemplate(parse(R"({
        "app_eui": "a1b2c3d4e5f60708", "dev_type": "Meter", "color": "red",
        "server_data": [
            {"data_code": "snr", "reg_map_bias": 7, "reg_bit_bias": 1, "reg_bit_size": 16,
             "data_name": "first SNR", "bit_size": 99, "data_type": "text"},
            {"data_code": "snr", "reg_map_bias": 8, "reg_bit_bias": 2, "reg_bit_size": 32,
             "data_name": "SNR"},
            {"data_code": "ts", "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 32,
             "data_name": "Time"}
        ],
        "device_packets": [
            {"packet_type": 2, "packet_size": 3, "packet_fields": [
                {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "integer",
                 "reg_map_bias": 4, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "old"}]},
            {"packet_type": 2, "packet_size": 9, "packet_fields": [
                {"packet_bias": 1, "data_bit_bias": 8, "data_bit_size": 64, "data_type": "text",
                 "endianness": "be", "reg_map_bias": 5, "reg_bit_bias": 6, "reg_bit_size": 48,
                 "data_name": "Name"}]}
        ]})"));

    QVERIFY(deviceTemplate.valid);
    QCOMPARE(deviceTemplate.appEui, QString("A1B2C3D4E5F60708"));
    QCOMPARE(deviceTemplate.devType, QString("Meter"));

    QCOMPARE(deviceTemplate.packets.keys(), QList<unsigned int> {2});
    const REGS::SDevicePacket packet = deviceTemplate.packets.value(2);
    QCOMPARE(packet.packetType, 2);
    QCOMPARE(packet.packetSize, 9);
    QCOMPARE(packet.fields.size(), 1);
    const REGS::SDevicePacketField field = packet.fields.first();
    QCOMPARE(field.packetBias, 1);
    QCOMPARE(field.dataBitBias, 8);
    QCOMPARE(field.dataBitSize, 64);
    QCOMPARE(field.dataType, QString("text"));
    QCOMPARE(field.regMapBias, 5);
    QCOMPARE(field.regBitBias, 6);
    QCOMPARE(field.regBitSize, 48);
    QCOMPARE(field.dataName, QString("Name"));
    QVERIFY(field.bigEndian);

    QCOMPARE(deviceTemplate.serverData.keys(), (QStringList {"snr", "ts"}));
    const REGS::SServerData snr = deviceTemplate.serverData.value("snr");
    QVERIFY(snr.valid);
    QCOMPARE(snr.regMapBias, 8);
    QCOMPARE(snr.regBitBias, 2);
    QCOMPARE(snr.regBitSize, 32);
    QCOMPARE(snr.dataName, QString("SNR"));
    QCOMPARE(snr.bitSize, 16); // from the keyword table, never from the file
    QCOMPARE(snr.dataType, QString("integer"));
    QCOMPARE(deviceTemplate.serverData.value("ts").bitSize, 64);
    QCOMPARE(deviceTemplate.serverData.value("ts").dataType, QString("uinteger"));
}

void TestDeviceTemplate::serverDataKeywords()
{
    QSignalSpy logSpy(CLogFile::getInstance(), &CLogFile::addLogSignal);
    const QJsonObject entry = parse(R"({"data_code": "fcnt", "reg_map_bias": 1,
                                        "reg_bit_bias": 0, "reg_bit_size": 32,
                                        "data_name": "Counter"})");
    QVERIFY(REGS::SServerData(entry).valid);

    // Keywords are case-sensitive; an unknown one is dropped with a log entry, not a console line.
    QVERIFY(!REGS::SServerData(with(entry, "data_code", "FCNT")).valid);
    QTRY_COMPARE_WITH_TIMEOUT(logSpy.count(), 1, 2000);
    QVERIFY(logSpy.first().first().toString().endsWith(
        "]ERROR: [SServerData] Server keyword [FCNT] is unknown!"));

    QTest::ignoreMessage(QtDebugMsg, "[SServerData] Invalid input JSON");
    QVERIFY(!REGS::SServerData(without(entry, "reg_bit_size")).valid);
    QTest::ignoreMessage(QtDebugMsg, "[SServerData] One or several values of input JSON is NULL");
    QVERIFY(!REGS::SServerData(with(entry, "data_name", QJsonValue())).valid);
    QTest::ignoreMessage(QtDebugMsg, "[SServerData] Empty input JSON");
    QVERIFY(!REGS::SServerData(QJsonObject()).valid);

    // Inside a template the unknown entry is left out and the template stays valid.
    const REGS::SDeviceTemplate deviceTemplate(
        with(validTemplate(), "server_data", QJsonArray {entry, with(entry, "data_code", "RSSI")}));
    QVERIFY(deviceTemplate.valid);
    QCOMPARE(deviceTemplate.serverData.keys(), QStringList {"fcnt"});
    QTRY_COMPARE_WITH_TIMEOUT(logSpy.count(), 2, 2000);
    QCOMPARE(logSpy.count(), 2);
}

QTEST_GUILESS_MAIN(TestDeviceTemplate)
#include "tst_devicetemplate.moc"
