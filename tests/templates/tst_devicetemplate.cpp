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

const QString FIELD_INVALID = QStringLiteral("[SDevicePacketField] Invalid input JSON");
} // namespace

// What a template file may hold, and which of its parts are dropped with which console message.
class TestDeviceTemplate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void packetFieldEndianness_data();
    void packetFieldEndianness();
    void packetKeepsOnlyValidFields();
    void packetWithoutSizeHasSizeZero();
    void laterPacketOfATypeReplacesEarlier();
    void serverDataTakesSizeAndTypeFromItsKeyword();
    void unknownServerKeywordIsLogged();
    void serverDataThatIsNoArrayIsIgnored();
    void templateRejected_data();
    void templateRejected();
};

void TestDeviceTemplate::initTestCase()
{
    // A log object without a file: entries reach addLogSignal only.
    QVERIFY(CLogFile::getInstance(QString(), QString()));
}

void TestDeviceTemplate::packetFieldEndianness_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<QStringList>("console");

    const QString wrongEndianness = QStringLiteral(
        "[SDevicePacketField] Invalid endianness field value, can be \"le\" or \"be\"");
    QTest::newRow("absent is little") << FIELD << true << false << QStringList();
    QTest::newRow("BE in any case")
        << with(FIELD, "endianness", "BE") << true << true << QStringList();
    QTest::newRow("other word") << with(FIELD, "endianness", "Middle") << false << false
                                << QStringList {wrongEndianness};
    QTest::newRow("checked before the other keys")
        << QJsonObject {{"endianness", "big"}} << false << false << QStringList {wrongEndianness};
}

void TestDeviceTemplate::packetFieldEndianness()
{
    QFETCH(QJsonObject, json);

    CConsoleCatcher console;
    const REGS::SDevicePacketField field(json);

    QTEST(field.valid, "valid");
    QTEST(field.bigEndian, "bigEndian");
    QTEST(console.messages(), "console");
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

// Such a packet matches no real payload, but the template stays usable.
void TestDeviceTemplate::packetWithoutSizeHasSizeZero()
{
    const REGS::SDevicePacket packet(with(PACKET, "packet_size", MISSING));

    QVERIFY(packet.valid);
    QCOMPARE(packet.packetSize, 0);
}

void TestDeviceTemplate::laterPacketOfATypeReplacesEarlier()
{
    const QJsonArray packets {with(PACKET, "packet_size", 2), with(PACKET, "packet_size", 9)};
    const REGS::SDeviceTemplate deviceTemplate(with(TEMPLATE, "device_packets", packets));

    QCOMPARE(deviceTemplate.packets.keys(), QList<unsigned int> {1});
    QCOMPARE(deviceTemplate.packets.value(1).packetSize, 9);
}

// The file cannot change the size and type of a server value.
void TestDeviceTemplate::serverDataTakesSizeAndTypeFromItsKeyword()
{
    const REGS::SServerData entry(
        with(with(SERVER_DATA, "bit_size", 99), "data_type", QStringLiteral("text")));

    QVERIFY(entry.valid);
    QCOMPARE(entry.bitSize, 16);
    QCOMPARE(entry.dataType, QString("integer"));
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

void TestDeviceTemplate::serverDataThatIsNoArrayIsIgnored()
{
    const REGS::SDeviceTemplate deviceTemplate(with(TEMPLATE, "server_data", SERVER_DATA));

    QVERIFY(deviceTemplate.valid);
    QVERIFY(deviceTemplate.serverData.isEmpty());
}

void TestDeviceTemplate::templateRejected_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QStringList>("console");

    QTest::newRow("empty object") << QJsonObject()
                                  << QStringList {"[SDeviceTemplate] Empty input JSON"};
    QTest::newRow("only packet without fields")
        << with(
               TEMPLATE, "device_packets", QJsonArray {with(PACKET, "packet_fields", QJsonArray())})
        << QStringList {"[SDevicePacket] Packet fields array is empty",
               "[SDeviceTemplate] Device packets array is empty"};
    QTest::newRow("only packet without a valid field")
        << with(TEMPLATE, "device_packets",
               QJsonArray {
                   with(PACKET, "packet_fields", QJsonArray {with(FIELD, "data_type", JSON_NULL)})})
        << QStringList {"[SDevicePacketField] One or several values of input JSON is NULL",
               "[SDeviceTemplate] Device packets array is empty"};
}

void TestDeviceTemplate::templateRejected()
{
    QFETCH(QJsonObject, json);

    CConsoleCatcher console;
    const REGS::SDeviceTemplate deviceTemplate(json);

    QVERIFY(!deviceTemplate.valid);
    QTEST(console.messages(), "console");
}

QTEST_GUILESS_MAIN(TestDeviceTemplate)
#include "tst_devicetemplate.moc"
