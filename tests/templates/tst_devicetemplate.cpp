#include "cconsolecatcher.h"
#include "clogfile.h"
#include "sdevicetemplate.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

namespace {
const QJsonValue MISSING(QJsonValue::Undefined);
const QJsonValue JSON_NULL(QJsonValue::Null);

// A copy of the object with one key set; inserting MISSING removes the key.
QJsonObject with(QJsonObject object, const QString& key, const QJsonValue& value)
{
    object.insert(key, value);
    return object;
}

const QJsonObject FIELD {{"packet_bias", 1}, {"data_bit_bias", 0}, {"data_bit_size", 8},
    {"data_type", "uinteger"}, {"reg_map_bias", 2}, {"reg_bit_bias", 0}, {"reg_bit_size", 16},
    {"data_name", "Counter"}};
const QJsonObject PACKET {
    {"packet_type", 1}, {"packet_size", 2}, {"packet_fields", QJsonArray {FIELD}}};
const QJsonObject SERVER_DATA {{"data_code", "snr"}, {"reg_map_bias", 8}, {"reg_bit_bias", 2},
    {"reg_bit_size", 32}, {"data_name", "SNR"}};
const QJsonObject TEMPLATE {{"app_eui", "a1b2c3d4e5f60708"}, {"dev_type", "Meter"},
    {"device_packets", QJsonArray {PACKET}}};

// Columns of the tables of rejected records: the JSON and the console lines it causes.
void addRejectedColumns()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QStringList>("console");
}

// Parses the row's JSON as a Record, which must come out invalid with the row's console lines.
template<typename Record>
void checkRejected()
{
    QFETCH(QJsonObject, json);

    CConsoleCatcher console;
    const Record record(json);

    QVERIFY(!record.valid);
    QTEST(console.messages(), "console");
}

const QString FIELD_INVALID = QStringLiteral("[SDevicePacketField] Invalid input JSON");
const QString FIELD_NULL
    = QStringLiteral("[SDevicePacketField] One or several values of input JSON is NULL");
const QString FIELD_ENDIANNESS = QStringLiteral(
    "[SDevicePacketField] Invalid endianness field value, can be \"le\" or \"be\"");
} // namespace

class TestDeviceTemplate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void packetFieldReadsEveryKey();
    void packetFieldEndianness_data();
    void packetFieldEndianness();
    void packetFieldRejected_data();
    void packetFieldRejected();
    void fractionalNumberReadsAsZero();
    void packetRejected_data();
    void packetRejected();
    void packetWithoutSizeHasSizeZero();
    void packetKeepsOnlyValidFields();
    void serverDataTakesSizeAndTypeFromItsKeyword();
    void serverDataRejected_data();
    void serverDataRejected();
    void unknownServerKeywordIsLogged();
    void templateRejected_data();
    void templateRejected();
    void templateKeysByUpperCaseAppEui();
    void laterPacketOfATypeReplacesEarlier();
    void serverDataIsOptional_data();
    void serverDataIsOptional();
};

void TestDeviceTemplate::initTestCase()
{
    // A log object without a file: entries reach addLogSignal only.
    QVERIFY(CLogFile::getInstance(QString(), QString()));
}

void TestDeviceTemplate::packetFieldReadsEveryKey()
{
    const REGS::SDevicePacketField field(QJsonObject {{"packet_bias", 3}, {"data_bit_bias", 8},
        {"data_bit_size", 16}, {"data_type", "integer"}, {"reg_map_bias", 4}, {"reg_bit_bias", 5},
        {"reg_bit_size", 32}, {"data_name", "Level"}});

    QVERIFY(field.valid);
    QCOMPARE(field.packetBias, 3);
    QCOMPARE(field.dataBitBias, 8);
    QCOMPARE(field.dataBitSize, 16);
    QCOMPARE(field.dataType, QString("integer"));
    QCOMPARE(field.regMapBias, 4);
    QCOMPARE(field.regBitBias, 5);
    QCOMPARE(field.regBitSize, 32);
    QCOMPARE(field.dataName, QString("Level"));
}

void TestDeviceTemplate::packetFieldEndianness_data()
{
    QTest::addColumn<QJsonValue>("endianness");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<QStringList>("console");

    QTest::newRow("absent is little") << MISSING << true << false << QStringList();
    QTest::newRow("le") << QJsonValue("le") << true << false << QStringList();
    QTest::newRow("be") << QJsonValue("be") << true << true << QStringList();
    QTest::newRow("BE in any case") << QJsonValue("BE") << true << true << QStringList();
    QTest::newRow("other word") << QJsonValue("Middle") << false << false
                                << QStringList {FIELD_ENDIANNESS};
}

void TestDeviceTemplate::packetFieldEndianness()
{
    QFETCH(QJsonValue, endianness);

    CConsoleCatcher console;
    const REGS::SDevicePacketField field(with(FIELD, "endianness", endianness));

    QTEST(field.valid, "valid");
    QTEST(field.bigEndian, "bigEndian");
    QTEST(console.messages(), "console");
}

void TestDeviceTemplate::packetFieldRejected_data()
{
    addRejectedColumns();

    QTest::newRow("empty object") << QJsonObject()
                                  << QStringList {"[SDevicePacketField] Empty input JSON"};
    QTest::newRow("key missing") << with(FIELD, "data_name", MISSING)
                                 << QStringList {FIELD_INVALID};
    QTest::newRow("key null") << with(FIELD, "reg_bit_size", JSON_NULL) << QStringList {FIELD_NULL};
    QTest::newRow("missing key reported before a null one")
        << with(with(FIELD, "data_name", MISSING), "data_type", JSON_NULL)
        << QStringList {FIELD_INVALID};
    QTest::newRow("endianness checked before the other keys")
        << QJsonObject {{"endianness", "big"}} << QStringList {FIELD_ENDIANNESS};
}

void TestDeviceTemplate::packetFieldRejected()
{
    checkRejected<REGS::SDevicePacketField>();
}

void TestDeviceTemplate::fractionalNumberReadsAsZero()
{
    const REGS::SDevicePacketField field(with(FIELD, "packet_bias", 2.5));

    QVERIFY(field.valid);
    QCOMPARE(field.packetBias, 0);
}

void TestDeviceTemplate::packetRejected_data()
{
    addRejectedColumns();

    QTest::newRow("empty object, silently") << QJsonObject() << QStringList();
    QTest::newRow("packet_type missing") << with(PACKET, "packet_type", MISSING)
                                         << QStringList {"[SDevicePacket] Invalid input JSON"};
    QTest::newRow("packet_fields null") << with(PACKET, "packet_fields",
        JSON_NULL) << QStringList {"[SDevicePacket] One or several values of input JSON is NULL"};
    QTest::newRow("no fields") << with(PACKET, "packet_fields", QJsonArray())
                               << QStringList {"[SDevicePacket] Packet fields array is empty"};
    QTest::newRow("no valid field")
        << with(PACKET, "packet_fields", QJsonArray {with(FIELD, "data_type", MISSING)})
        << QStringList {FIELD_INVALID};
}

void TestDeviceTemplate::packetRejected()
{
    checkRejected<REGS::SDevicePacket>();
}

// Such a packet matches no real payload, but the template stays usable.
void TestDeviceTemplate::packetWithoutSizeHasSizeZero()
{
    const REGS::SDevicePacket packet(with(PACKET, "packet_size", MISSING));

    QVERIFY(packet.valid);
    QCOMPARE(packet.packetSize, 0);
}

void TestDeviceTemplate::packetKeepsOnlyValidFields()
{
    const QJsonArray fields {with(FIELD, "data_name", "first"), with(FIELD, "data_type", MISSING),
        with(FIELD, "data_name", "third")};

    CConsoleCatcher console;
    const REGS::SDevicePacket packet(with(PACKET, "packet_fields", fields));

    QVERIFY(packet.valid);
    QCOMPARE(packet.fields.size(), 2);
    QCOMPARE(packet.fields.at(0).dataName, QString("first"));
    QCOMPARE(packet.fields.at(1).dataName, QString("third"));
    QCOMPARE(console.messages(), QStringList {FIELD_INVALID});
}

// The file cannot change the size and type of a server value.
void TestDeviceTemplate::serverDataTakesSizeAndTypeFromItsKeyword()
{
    const REGS::SServerData entry(
        with(with(SERVER_DATA, "bit_size", 99), "data_type", QStringLiteral("text")));

    QVERIFY(entry.valid);
    QCOMPARE(entry.dataCode, QString("snr"));
    QCOMPARE(entry.bitSize, 16);
    QCOMPARE(entry.dataType, QString("integer"));
}

void TestDeviceTemplate::serverDataRejected_data()
{
    addRejectedColumns();

    QTest::newRow("empty object") << QJsonObject()
                                  << QStringList {"[SServerData] Empty input JSON"};
    QTest::newRow("key missing") << with(SERVER_DATA, "reg_map_bias", MISSING)
                                 << QStringList {"[SServerData] Invalid input JSON"};
    QTest::newRow("key null") << with(SERVER_DATA, "data_name",
        JSON_NULL) << QStringList {"[SServerData] One or several values of input JSON is NULL"};
}

void TestDeviceTemplate::serverDataRejected()
{
    checkRejected<REGS::SServerData>();
}

// Keywords are case-sensitive; the unknown one goes to the history log, not the console.
void TestDeviceTemplate::unknownServerKeywordIsLogged()
{
    QSignalSpy log(CLogFile::getInstance(), &CLogFile::addLogSignal);
    const REGS::SServerData entry(with(SERVER_DATA, "data_code", "SNR"));

    QVERIFY(!entry.valid);
    QTRY_COMPARE(log.count(), 1);
    QCOMPARE(log.first().first().toString().section(QLatin1Char(']'), 1),
        QString("ERROR: [SServerData] Server keyword [SNR] is unknown!"));
}

void TestDeviceTemplate::templateRejected_data()
{
    addRejectedColumns();

    QTest::newRow("empty object") << QJsonObject()
                                  << QStringList {"[SDeviceTemplate] Empty input JSON"};
    QTest::newRow("dev_type missing") << with(TEMPLATE, "dev_type", MISSING)
                                      << QStringList {"[SDeviceTemplate] Invalid input JSON"};
    QTest::newRow("missing key reported before a null one") << QJsonObject {
        {"app_eui", JSON_NULL}} << QStringList {"[SDeviceTemplate] Invalid input JSON"};
    QTest::newRow("app_eui null") << with(TEMPLATE, "app_eui",
        JSON_NULL) << QStringList {"[SDeviceTemplate] One or several values of input JSON is NULL"};
    QTest::newRow("only packet without fields")
        << with(
               TEMPLATE, "device_packets", QJsonArray {with(PACKET, "packet_fields", QJsonArray())})
        << QStringList {"[SDevicePacket] Packet fields array is empty",
               "[SDeviceTemplate] Device packets array is empty"};
}

void TestDeviceTemplate::templateRejected()
{
    checkRejected<REGS::SDeviceTemplate>();
}

void TestDeviceTemplate::templateKeysByUpperCaseAppEui()
{
    const REGS::SDeviceTemplate deviceTemplate(TEMPLATE);

    QVERIFY(deviceTemplate.valid);
    QCOMPARE(deviceTemplate.appEui, QString("A1B2C3D4E5F60708"));
    QCOMPARE(deviceTemplate.devType, QString("Meter"));
    QCOMPARE(deviceTemplate.json, TEMPLATE);
}

void TestDeviceTemplate::laterPacketOfATypeReplacesEarlier()
{
    const QJsonArray packets {with(PACKET, "packet_size", 2), with(PACKET, "packet_size", 9)};
    const REGS::SDeviceTemplate deviceTemplate(with(TEMPLATE, "device_packets", packets));

    QCOMPARE(deviceTemplate.packets.keys(), QList<unsigned int> {1});
    QCOMPARE(deviceTemplate.packets.value(1).packetSize, 9);
}

void TestDeviceTemplate::serverDataIsOptional_data()
{
    QTest::addColumn<QJsonValue>("serverData");

    QTest::newRow("missing") << MISSING;
    QTest::newRow("null") << JSON_NULL;
    QTest::newRow("not an array") << QJsonValue(QJsonObject(SERVER_DATA));
}

void TestDeviceTemplate::serverDataIsOptional()
{
    QFETCH(QJsonValue, serverData);

    const REGS::SDeviceTemplate deviceTemplate(with(TEMPLATE, "server_data", serverData));

    QVERIFY(deviceTemplate.valid);
    QVERIFY(deviceTemplate.serverData.isEmpty());
}

QTEST_GUILESS_MAIN(TestDeviceTemplate)
#include "tst_devicetemplate.moc"
