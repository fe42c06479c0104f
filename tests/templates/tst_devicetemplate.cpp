#include "clogfile.h"
#include "sdevicetemplate.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

namespace {
const QJsonValue MISSING(QJsonValue::Undefined);

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
const QJsonObject TEMPLATE {{"app_eui", "a1b2c3d4e5f60708"}, {"dev_type", "Meter"},
    {"device_packets", QJsonArray {PACKET}}};
} // namespace

class TestDeviceTemplate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(CLogFile::getInstance(QString(), QString())); }
    void validation_data();
    void validation();
    void completeTemplate();
};

// The row name starts with the record it builds; messages: debug lines it prints, "|" between.
void TestDeviceTemplate::validation_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("messages");

    const QString missing = "Invalid input JSON";
    const QString null = "One or several values of input JSON is NULL";
    const QString f = "[SDevicePacketField] ", p = "[SDevicePacket] ", t = "[SDeviceTemplate] ";
    const QString endian = f + "Invalid endianness field value, can be \"le\" or \"be\"";

    QTest::newRow("field endianness") << with(FIELD, "endianness", "Middle") << false << endian;
    QTest::newRow("field endianness first")
        << QJsonObject {{"endianness", "big"}} << false << endian;
    QTest::newRow("field no key") << with(FIELD, "data_name", MISSING) << false << f + missing;
    QTest::newRow("field null") << with(FIELD, "reg_bit_size", QJsonValue()) << false << f + null;
    QTest::newRow("packet no size") << with(PACKET, "packet_size", MISSING) << true << "";
    QTest::newRow("packet bad field skipped")
        << with(PACKET, "packet_fields", QJsonArray {with(FIELD, "data_type", MISSING), FIELD})
        << true << f + missing;
    QTest::newRow("template no key before null")
        << QJsonObject {{"app_eui", QJsonValue()}} << false << t + missing;
    QTest::newRow("template no packets")
        << with(
               TEMPLATE, "device_packets", QJsonArray {with(PACKET, "packet_fields", QJsonArray())})
        << false << p + "Packet fields array is empty|" + t + "Device packets array is empty";
    QTest::newRow("template null server_data")
        << with(TEMPLATE, "server_data", QJsonValue()) << true << "";
    QTest::newRow("server no key")
        << QJsonObject {{"data_code", "fcnt"}} << false << "[SServerData] " + missing;
}

void TestDeviceTemplate::validation()
{
    QFETCH(QJsonObject, json);
    QFETCH(QString, messages);
    for (const QString& message : messages.split('|', Qt::SkipEmptyParts))
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    const QString kind = QTest::currentDataTag();
    const bool valid = kind.startsWith("field") ? REGS::SDevicePacketField(json).valid
        : kind.startsWith("packet")             ? REGS::SDevicePacket(json).valid
        : kind.startsWith("server")             ? REGS::SServerData(json).valid
                                                : REGS::SDeviceTemplate(json).valid;
    QTEST(valid, "valid");
}

// Every key lands in its own member; a later packet of a type replaces an earlier one; an
// unknown (case-sensitive) server keyword is logged and left out; fractions read as 0.
void TestDeviceTemplate::completeTemplate()
{
    QSignalSpy logSpy(CLogFile::getInstance(), &CLogFile::addLogSignal);
    const QJsonObject snr {{"data_code", "snr"}, {"reg_map_bias", 8}, {"reg_bit_bias", 2},
        {"reg_bit_size", 32}, {"data_name", "SNR"}, {"bit_size", 99}, {"data_type", "text"}};
    const QJsonObject later {{"packet_type", 2},
        {"packet_fields", QJsonArray {with(with(FIELD, "packet_bias", 2.5), "endianness", "BE")}}};
    const REGS::SDeviceTemplate deviceTemplate(
        with(with(TEMPLATE, "server_data", QJsonArray {snr, with(snr, "data_code", "SNR")}),
            "device_packets", QJsonArray {with(PACKET, "packet_type", 2), later}));
    QVERIFY(!REGS::SDevicePacketField(FIELD).bigEndian); // little-endian unless told otherwise

    QVERIFY(deviceTemplate.valid);
    QCOMPARE(deviceTemplate.appEui, QString("A1B2C3D4E5F60708"));
    const REGS::SDevicePacketField f = deviceTemplate.packets.value(2).fields.value(0);
    QCOMPARE(QVariantList({deviceTemplate.packets.size(), f.packetBias, f.bigEndian}),
        QVariantList({1, 0, true}));
    // Size and type come from the keyword table, never from the file.
    const REGS::SServerData s = deviceTemplate.serverData.value("snr");
    QCOMPARE(QVariantList({deviceTemplate.serverData.size(), s.dataName, s.bitSize, s.dataType}),
        QVariantList({1, "SNR", 16, "integer"}));
    QTRY_COMPARE(logSpy.count(), 1);
    QVERIFY(logSpy.first().first().toString().endsWith(
        "]ERROR: [SServerData] Server keyword [SNR] is unknown!"));
}

QTEST_GUILESS_MAIN(TestDeviceTemplate)
#include "tst_devicetemplate.moc"
