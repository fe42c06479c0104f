#include "clogfile.h"
#include "cpayloaddecoder.h"
#include "regsconstants.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
const QString DEV_EUI = QStringLiteral("00112233445566AB");
const QString GATEWAY_ID = QStringLiteral("A0B1C2D3E4F50617");
const int START_ADDR = 100;
const int FIELD_REGISTER = 2; // reg_map_bias of the field under test
const int SERVER_REGISTER = 5; // reg_map_bias of the server value under test

// The device under test: registers from START_ADDR.
DB::SDeviceRegMapDescription device()
{
    DB::SDeviceRegMapDescription description;
    description.devEui = DEV_EUI;
    description.appEui = QStringLiteral("A1B2C3D4E5F60708");
    description.startAddr = START_ADDR;
    return description;
}

// An uplink with the radio values of the worked examples and the given payload.
API::SApiDeviceData uplink(const QByteArray& payload)
{
    API::SApiDeviceData data;
    data.devEui = DEV_EUI;
    data.ts = 1700000000123;
    data.gatewayId = GATEWAY_ID;
    data.fcnt = 70000;
    data.rssi = -70;
    data.snr = -7.5;
    data.data = payload;
    data.valid = true;
    return data;
}

REGS::SDevicePacketField field(int packetBias, int dataBitSize, const QString& dataType,
    bool bigEndian = false, int dataBitBias = 0)
{
    REGS::SDevicePacketField result;
    result.packetBias = packetBias;
    result.dataBitBias = dataBitBias;
    result.dataBitSize = dataBitSize;
    result.dataType = dataType;
    result.bigEndian = bigEndian;
    result.regMapBias = FIELD_REGISTER;
    result.regBitSize = dataBitSize;
    result.dataName = QStringLiteral("value");
    result.valid = true;
    return result;
}

// A template with packet type 1 of the given size and fields.
REGS::SDeviceTemplate packetTemplate(int packetSize, const QList<REGS::SDevicePacketField>& fields)
{
    REGS::SDevicePacket packet;
    packet.packetType = 1;
    packet.packetSize = packetSize;
    packet.fields = fields;
    packet.valid = true;
    REGS::SDeviceTemplate result;
    result.appEui = device().appEui;
    result.packets.insert(1, packet);
    result.valid = true;
    return result;
}

REGS::SServerData serverEntry(const QString& dataCode, int regBitSize)
{
    REGS::SServerData result;
    result.dataCode = dataCode;
    result.regMapBias = SERVER_REGISTER;
    result.regBitSize = regBitSize;
    result.dataName = dataCode;
    result.valid = true;
    return result;
}

// Every register has the same scaling.
CPayloadDecoder::RegisterParamLookup scaling(double startValue, double gratingPeriod)
{
    return [=](const QString&, uint regAddr) {
        DB::SDbDevRegParam param;
        param.regAddr = regAddr;
        param.startValue = startValue;
        param.gratingPeriod = gratingPeriod;
        return param;
    };
}

QStringList values(const DB::SDbDeviceRegDataSet& set)
{
    QStringList result;
    for (const DB::SDbDeviceRegDataRewrite& rewrite : set.rewrites)
        result.append(rewrite.value);
    return result;
}

QStringList fullValues(const DB::SDbDeviceRegDataSet& set)
{
    QStringList result;
    for (const DB::SDbDeviceRegDataRewrite& rewrite : set.rewrites)
        result.append(rewrite.fullValue);
    return result;
}

QList<int> regOffsets(const DB::SDbDeviceRegDataSet& set)
{
    QList<int> result;
    for (const DB::SDbDeviceRegDataRewrite& rewrite : set.rewrites)
        result.append(rewrite.regOffset);
    return result;
}

// The texts of the history log entries posted so far, without their time stamps.
QStringList logTexts(const QSignalSpy& spy)
{
    QCoreApplication::processEvents();
    QStringList result;
    for (const QList<QVariant>& entry : spy)
        result.append(entry.first().toString().section(QLatin1Char(']'), 1));
    return result;
}
} // namespace

class TestPayloadDecoder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void packetField_data();
    void packetField();
    void serverValue_data();
    void serverValue();
    void scalingIsLookedUpAtTheFieldsAbsoluteRegister();
    void skippedFieldLeavesTheOthers_data();
    void skippedFieldLeavesTheOthers();
    void refusedUplinkStoresNothing_data();
    void refusedUplinkStoresNothing();
};

void TestPayloadDecoder::initTestCase()
{
    // A log object without a file: entries reach addLogSignal only.
    QVERIFY(CLogFile::getInstance(QString(), QString()));
}

void TestPayloadDecoder::packetField_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("dataBitSize");
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<double>("startValue");
    QTest::addColumn<double>("gratingPeriod");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("fullValues");
    QTest::addColumn<QList<int>>("regOffsets");

    const QString integer = REGS::REGS_JSON_KEY_TYPE_INT;
    const QString uinteger = REGS::REGS_JSON_KEY_TYPE_UINT;
    const QString text = REGS::REGS_JSON_KEY_TYPE_TEXT;
    const QList<int> one = {2};
    const QList<int> two = {2, 3};
    const QList<int> four = {2, 3, 4, 5};

    QTest::newRow("4-byte uinteger 12345")
        << QByteArray::fromHex("0139300000") << 32 << uinteger << false << 0.0 << 1.0
        << QStringList {"0000", "3039"} << QStringList {"00003039", ""} << two;
    QTest::newRow("period 0.1 rounds 1234.5 up")
        << QByteArray::fromHex("0139300000") << 32 << uinteger << false << 0.0 << 0.1
        << QStringList {"0000", "04d3"} << QStringList {"000004d3", ""} << two;
    QTest::newRow("1-byte integer 0xff is -1")
        << QByteArray::fromHex("01ff") << 8 << integer << false << 0.0 << 1.0
        << QStringList {"ffff"} << QStringList {"ffff"} << one;
    QTest::newRow("1-byte uinteger 0xff is 255")
        << QByteArray::fromHex("01ff") << 8 << uinteger << false << 0.0 << 1.0
        << QStringList {"00ff"} << QStringList {"00ff"} << one;
    QTest::newRow("2-byte big-endian integer -32768")
        << QByteArray::fromHex("018000") << 16 << integer << true << 0.0 << 1.0
        << QStringList {"8000"} << QStringList {"8000"} << one;
    QTest::newRow("2-byte little-endian integer -32768")
        << QByteArray::fromHex("010080") << 16 << integer << false << 0.0 << 1.0
        << QStringList {"8000"} << QStringList {"8000"} << one;
    QTest::newRow("start value 10 plus 5 times 2")
        << QByteArray::fromHex("010005") << 16 << uinteger << true << 10.0 << 2.0
        << QStringList {"0014"} << QStringList {"0014"} << one;
    QTest::newRow("-1.5 rounds toward positive infinity")
        << QByteArray::fromHex("01fd") << 8 << integer << false << 0.0 << 0.5
        << QStringList {"ffff"} << QStringList {"ffff"} << one;
    QTest::newRow("scaled beyond 16 bits keeps the low digits")
        << QByteArray::fromHex("01ffff") << 16 << uinteger << false << 0.0 << 2.0
        << QStringList {"fffe"} << QStringList {"fffe"} << one;
    QTest::newRow("8-byte integer -2")
        << QByteArray::fromHex("01fffffffffffffffe") << 64 << integer << true << 0.0 << 1.0
        << QStringList {"ffff", "ffff", "ffff", "fffe"}
        << QStringList {"fffffffffffffffe", "", "", ""} << four;
    QTest::newRow("8-byte uinteger")
        << QByteArray::fromHex("010000010000000001") << 64 << uinteger << true << 0.0 << 1.0
        << QStringList {"0000", "0100", "0000", "0001"}
        << QStringList {"0000010000000001", "", "", ""} << four;
    QTest::newRow("text stops at the zero byte")
        << QByteArray::fromHex("0141420043") << 32 << text << false << 0.0 << 1.0
        << QStringList {"AB"} << QStringList {"AB"} << one;
}

void TestPayloadDecoder::packetField()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, dataBitSize);
    QFETCH(QString, dataType);
    QFETCH(bool, bigEndian);
    QFETCH(double, startValue);
    QFETCH(double, gratingPeriod);

    const REGS::SDeviceTemplate deviceTemplate
        = packetTemplate(payload.size(), {field(1, dataBitSize, dataType, bigEndian)});
    DB::SDbDeviceRegDataSet set;
    QVERIFY(CPayloadDecoder::decode(
        uplink(payload), device(), deviceTemplate, scaling(startValue, gratingPeriod), set));

    QCOMPARE(set.devEui, DEV_EUI);
    QCOMPARE(set.startAddr, START_ADDR);
    QTEST(values(set), "values");
    QTEST(fullValues(set), "fullValues");
    QTEST(regOffsets(set), "regOffsets");
}

// The uplink carries rssi -70, snr -7.5, ts 1700000000123 ms, fcnt 70000 and the EUIs above.
void TestPayloadDecoder::serverValue_data()
{
    QTest::addColumn<QString>("dataCode");
    QTest::addColumn<int>("regBitSize");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("fullValues");
    QTest::addColumn<QList<int>>("regOffsets");

    QTest::newRow("rssi -70") << REGS::REGS_JSON_KEY_CODE_RSSI << 16 << QStringList {"ffba"}
                              << QStringList {"ffba"} << QList<int> {5};
    QTest::newRow("snr -7.5 in 32 bits")
        << REGS::REGS_JSON_KEY_CODE_SNR << 32 << QStringList {"ffff", "fff9"}
        << QStringList {"fffffff9", ""} << QList<int> {5, 6};
    QTest::newRow("snr -7.5 in 16 bits")
        << REGS::REGS_JSON_KEY_CODE_SNR << 16 << QStringList {"fff9"} << QStringList {"fff9"}
        << QList<int> {5};
    QTest::newRow("ts in whole seconds")
        << REGS::REGS_JSON_KEY_CODE_TS << 32 << QStringList {"6553", "f100"}
        << QStringList {"6553f100", ""} << QList<int> {5, 6};
    QTest::newRow("fcnt 70000 in 32 bits")
        << REGS::REGS_JSON_KEY_CODE_FCNT << 32 << QStringList {"0001", "1170"}
        << QStringList {"00011170", ""} << QList<int> {5, 6};
    QTest::newRow("fcnt 70000 in 16 bits keeps the low word")
        << REGS::REGS_JSON_KEY_CODE_FCNT << 16 << QStringList {"1170"} << QStringList {"1170"}
        << QList<int> {5};
    QTest::newRow("gatewayId in 64 bits")
        << REGS::REGS_JSON_KEY_CODE_GATEWAYID << 64 << QStringList {"A0B1", "C2D3", "E4F5", "0617"}
        << QStringList {"A0B1C2D3E4F50617", "", "", ""} << QList<int> {5, 6, 7, 8};
    QTest::newRow("gatewayId in 48 bits")
        << REGS::REGS_JSON_KEY_CODE_GATEWAYID << 48 << QStringList {"C2D3", "E4F5", "0617"}
        << QStringList {"C2D3E4F50617", "", ""} << QList<int> {5, 6, 7};
    QTest::newRow("devEui in 32 bits")
        << REGS::REGS_JSON_KEY_CODE_DEVEUI << 32 << QStringList {"4455", "66AB"}
        << QStringList {"445566AB", ""} << QList<int> {5, 6};
    QTest::newRow("devEui in 16 bits")
        << REGS::REGS_JSON_KEY_CODE_DEVEUI << 16 << QStringList {"66AB"} << QStringList {"66AB"}
        << QList<int> {5};
}

void TestPayloadDecoder::serverValue()
{
    QFETCH(QString, dataCode);
    QFETCH(int, regBitSize);

    // The packet's only field is an empty text, so the set holds the server value alone.
    REGS::SDeviceTemplate deviceTemplate
        = packetTemplate(2, {field(1, 8, REGS::REGS_JSON_KEY_TYPE_TEXT)});
    deviceTemplate.serverData.insert(dataCode, serverEntry(dataCode, regBitSize));
    DB::SDbDeviceRegDataSet set;
    QVERIFY(CPayloadDecoder::decode(
        uplink(QByteArray::fromHex("0100")), device(), deviceTemplate, scaling(0.0, 1.0), set));

    QTEST(values(set), "values");
    QTEST(fullValues(set), "fullValues");
    QTEST(regOffsets(set), "regOffsets");
}

void TestPayloadDecoder::scalingIsLookedUpAtTheFieldsAbsoluteRegister()
{
    QStringList devEuis;
    QList<uint> addresses;
    const auto lookup = [&](const QString& devEui, uint regAddr) {
        devEuis.append(devEui);
        addresses.append(regAddr);
        return DB::SDbDevRegParam();
    };
    const REGS::SDeviceTemplate deviceTemplate
        = packetTemplate(2, {field(1, 8, REGS::REGS_JSON_KEY_TYPE_UINT)});
    DB::SDbDeviceRegDataSet set;
    QVERIFY(CPayloadDecoder::decode(
        uplink(QByteArray::fromHex("0107")), device(), deviceTemplate, lookup, set));

    QCOMPARE(devEuis, QStringList {DEV_EUI});
    QCOMPARE(addresses, QList<uint> {START_ADDR + FIELD_REGISTER});
}

void TestPayloadDecoder::skippedFieldLeavesTheOthers_data()
{
    QTest::addColumn<int>("packetBias");
    QTest::addColumn<int>("dataBitBias");
    QTest::addColumn<int>("dataBitSize");
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<QString>("logEntry");

    const QString uinteger = REGS::REGS_JSON_KEY_TYPE_UINT;
    QTest::newRow("bit offset 4") << 1 << 4 << 8 << uinteger
                                  << "ERROR: [CAllDeviceHandler::processDataSlot] Unsupport "
                                     "functional";
    QTest::newRow("12 bits") << 1 << 0 << 12 << uinteger
                             << "ERROR: [CAllDeviceHandler::processDataSlot] Unsupport "
                                "functional";
    QTest::newRow("3 bytes") << 1 << 0 << 24 << uinteger
                             << "WARNING: [CAllDeviceHandler::processDataSlot] Unsupport size of "
                                "data [3]";
    QTest::newRow("boolean") << 1 << 0 << 8 << REGS::REGS_JSON_KEY_TYPE_BOOL
                             << "WARNING: [CAllDeviceHandler::processDataSlot] Unsupport data "
                                "type [boolean] for size [1]";
    QTest::newRow("past the end of the payload")
        << 3 << 0 << 16 << uinteger
        << "WARNING: [CAllDeviceHandler::processDataSlot] Field [value] lies outside the packet: "
           "offset [3], size [2], packet length [4]";
}

void TestPayloadDecoder::skippedFieldLeavesTheOthers()
{
    QFETCH(int, packetBias);
    QFETCH(int, dataBitBias);
    QFETCH(int, dataBitSize);
    QFETCH(QString, dataType);
    QFETCH(QString, logEntry);

    REGS::SDevicePacketField kept = field(3, 8, REGS::REGS_JSON_KEY_TYPE_UINT);
    kept.regMapBias = 7;
    const REGS::SDeviceTemplate deviceTemplate
        = packetTemplate(4, {field(packetBias, dataBitSize, dataType, false, dataBitBias), kept});
    QSignalSpy log(CLogFile::getInstance(), &CLogFile::addLogSignal);
    DB::SDbDeviceRegDataSet set;
    QVERIFY(CPayloadDecoder::decode(
        uplink(QByteArray::fromHex("01aabb07")), device(), deviceTemplate, scaling(0.0, 1.0), set));

    QCOMPARE(values(set), QStringList {"0007"});
    QCOMPARE(regOffsets(set), QList<int> {7});
    QCOMPARE(logTexts(log), QStringList {logEntry});
}

void TestPayloadDecoder::refusedUplinkStoresNothing_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("packetSize");
    QTest::addColumn<QString>("logEntry");

    QTest::newRow("unknown packet type") << QByteArray::fromHex(
        "0705") << 2 << "WARNING: [CAllDeviceHandler::processDataSlot] Unknown packet type [07]";
    QTest::newRow("empty payload is packet type 0")
        << QByteArray() << 2
        << "WARNING: [CAllDeviceHandler::processDataSlot] Unknown packet type [00]";
    QTest::newRow("one byte too long")
        << QByteArray::fromHex("010506") << 2
        << "WARNING: [CAllDeviceHandler::processDataSlot] Invalid size of packet [01][010506]. "
           "Expect [2], real [3]";
    QTest::newRow("packet without size")
        << QByteArray::fromHex("0105") << 0
        << "WARNING: [CAllDeviceHandler::processDataSlot] Invalid size of packet [01][0105]. "
           "Expect [0], real [2]";
}

// Not even the server values of a refused uplink are handed on.
void TestPayloadDecoder::refusedUplinkStoresNothing()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, packetSize);
    QFETCH(QString, logEntry);

    REGS::SDeviceTemplate deviceTemplate
        = packetTemplate(packetSize, {field(1, 8, REGS::REGS_JSON_KEY_TYPE_UINT)});
    deviceTemplate.serverData.insert(
        REGS::REGS_JSON_KEY_CODE_RSSI, serverEntry(REGS::REGS_JSON_KEY_CODE_RSSI, 16));
    QSignalSpy log(CLogFile::getInstance(), &CLogFile::addLogSignal);
    DB::SDbDeviceRegDataSet set;
    QVERIFY(!CPayloadDecoder::decode(
        uplink(payload), device(), deviceTemplate, scaling(0.0, 1.0), set));

    QCOMPARE(values(set), QStringList());
    QCOMPARE(logTexts(log), QStringList {logEntry});
}

QTEST_GUILESS_MAIN(TestPayloadDecoder)
#include "tst_payloaddecoder.moc"
