#include "clogfile.h"
#include "cpayloaddecoder.h"
#include "regsconstants.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

#include <limits>

namespace {
const QString DEV_EUI = QStringLiteral("00112233445566AB");
const int START_ADDR = 100;
const int FIELD_REGISTER = 2; // reg_map_bias of the field under test
const int SERVER_REGISTER = 5; // reg_map_bias of the server value under test
const QString UINTEGER = QStringLiteral("uinteger");

REGS::SDevicePacketField field(
    int packetBias, int dataBitSize, const QString& dataType, bool bigEndian = false)
{
    REGS::SDevicePacketField result;
    result.packetBias = packetBias;
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
    result.valid = true;
    return result;
}

// The field's register of the device under test has this scaling; any other register is unknown
// and gets the defaults, as from the database.
CPayloadDecoder::RegisterParamLookup scaling(double startValue, double gratingPeriod)
{
    return [=](const QString& devEui, uint regAddr) {
        if (devEui != DEV_EUI || regAddr != START_ADDR + FIELD_REGISTER)
            return DB::SDbDevRegParam();
        return DB::SDbDevRegParam {regAddr, startValue, gratingPeriod, QString()};
    };
}

// One field of every rewrite in the set, in order.
template<typename List, typename T>
List rewrites(const DB::SDbDeviceRegDataSet& set, T DB::SDbDeviceRegDataRewrite::*member)
{
    List result;
    for (const DB::SDbDeviceRegDataRewrite& rewrite : set.rewrites)
        result.append(rewrite.*member);
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
    void sixtyFourBitValue_data();
    void sixtyFourBitValue();
    void skippedFieldLeavesTheOthers_data();
    void skippedFieldLeavesTheOthers();
    void payloadOfTheWrongSizeStoresNothing_data();
    void payloadOfTheWrongSizeStoresNothing();
    void serverValueRegisters_data();
    void serverValueRegisters();
    void replayTemplateFixtures_data();
    void replayTemplateFixtures();

private:
    // Decodes an uplink with this payload by deviceTemplate into set.
    bool decode(const QByteArray& payload,
        const CPayloadDecoder::RegisterParamLookup& lookup = scaling(0.0, 1.0));

    REGS::SDeviceTemplate deviceTemplate;
    DB::SDbDeviceRegDataSet set;
};

void TestPayloadDecoder::initTestCase()
{
    // A log object without a file: entries reach addLogSignal only.
    QVERIFY(CLogFile::getInstance(QString(), QString()));
}

// An uplink of the device under test, heard with rssi -70.
bool TestPayloadDecoder::decode(
    const QByteArray& payload, const CPayloadDecoder::RegisterParamLookup& lookup)
{
    API::SApiDeviceData data;
    data.devEui = DEV_EUI;
    data.rssi = -70;
    data.data = payload;
    data.valid = true;
    DB::SDeviceRegMapDescription device;
    device.devEui = DEV_EUI;
    device.startAddr = START_ADDR;
    set = {};
    return CPayloadDecoder::decode(data, device, deviceTemplate, lookup, set);
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
    const QList<int> one = {2};

    QTest::newRow("period 0.1 rounds 1234.5 up")
        << QByteArray::fromHex("0139300000") << 32 << UINTEGER << false << 0.0 << 0.1
        << QStringList {"0000", "04d3"} << QStringList {"000004d3", ""} << QList<int> {2, 3};
    QTest::newRow("10 + -23 * 0.5 rounds -1.5 up to -1")
        << QByteArray::fromHex("01e9") << 8 << integer << false << 10.0 << 0.5
        << QStringList {"ffff"} << QStringList {"ffff"} << one;
    QTest::newRow("4-byte integer -2147483648")
        << QByteArray::fromHex("0180000000") << 32 << integer << true << 0.0 << 1.0
        << QStringList {"8000", "0000"} << QStringList {"80000000", ""} << QList<int> {2, 3};
    QTest::newRow("2-byte 65535 times a million saturates at 32 bits")
        << QByteArray::fromHex("01ffff") << 16 << UINTEGER << false << 0.0 << 1e6
        << QStringList {"ffff"} << QStringList {"ffff"} << one;
    QTest::newRow("text stops at the zero byte")
        << QByteArray::fromHex("0141420043") << 32 << REGS::REGS_JSON_KEY_TYPE_TEXT << false << 0.0
        << 1.0 << QStringList {"AB"} << QStringList {"AB"} << one;
}

void TestPayloadDecoder::packetField()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, dataBitSize);
    QFETCH(QString, dataType);
    QFETCH(bool, bigEndian);
    QFETCH(double, startValue);
    QFETCH(double, gratingPeriod);
    deviceTemplate = packetTemplate(payload.size(), {field(1, dataBitSize, dataType, bigEndian)});

    QVERIFY(decode(payload, scaling(startValue, gratingPeriod)));

    QTEST(rewrites<QStringList>(set, &DB::SDbDeviceRegDataRewrite::value), "values");
    QTEST(rewrites<QStringList>(set, &DB::SDbDeviceRegDataRewrite::fullValue), "fullValues");
    QTEST(rewrites<QList<int>>(set, &DB::SDbDeviceRegDataRewrite::regOffset), "regOffsets");
}

// A double holds only 53 bits: unscaled 64-bit values must not pass through one.
void TestPayloadDecoder::sixtyFourBitValue_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<double>("startValue");
    QTest::addColumn<double>("gratingPeriod");
    QTest::addColumn<QString>("expected");

    const QString integer = REGS::REGS_JSON_KEY_TYPE_INT;
    const QStringList probes = {"0123456789abcdef", "7fffffffffffffff", "8000000000000001"};
    for (const QString& probe : probes) {
        QTest::addRow("integer %s unscaled", qPrintable(probe))
            << probe << integer << 0.0 << 1.0 << probe;
        QTest::addRow("uinteger %s unscaled", qPrintable(probe))
            << probe << UINTEGER << 0.0 << 1.0 << probe;
    }
    QTest::newRow("integer 7fffffffffffffff doubled saturates")
        << "7fffffffffffffff" << integer << 0.0 << 2.0 << "7fffffffffffffff";
    QTest::newRow("uinteger 0123456789abcdef negated saturates at zero")
        << "0123456789abcdef" << UINTEGER << 0.0 << -1.0 << "0000000000000000";
    QTest::newRow("integer -3 plus 0.5 rounds half up")
        << "fffffffffffffffd" << integer << 0.5 << 1.0 << "fffffffffffffffe";
}

void TestPayloadDecoder::sixtyFourBitValue()
{
    QFETCH(QString, raw);
    QFETCH(QString, dataType);
    QFETCH(double, startValue);
    QFETCH(double, gratingPeriod);
    QFETCH(QString, expected);
    deviceTemplate = packetTemplate(9, {field(1, 64, dataType, true)});

    QVERIFY(decode(QByteArray::fromHex("01" + raw.toLatin1()), scaling(startValue, gratingPeriod)));

    const QStringList words
        = {expected.mid(0, 4), expected.mid(4, 4), expected.mid(8, 4), expected.mid(12, 4)};
    QCOMPARE(rewrites<QStringList>(set, &DB::SDbDeviceRegDataRewrite::value), words);
    QCOMPARE(set.rewrites.first().fullValue, expected);
    QCOMPARE(rewrites<QList<int>>(set, &DB::SDbDeviceRegDataRewrite::regOffset),
        (QList<int> {2, 3, 4, 5}));
}

void TestPayloadDecoder::skippedFieldLeavesTheOthers_data()
{
    QTest::addColumn<int>("packetBias");
    QTest::addColumn<int>("dataBitSize");
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<int>("regMapBias");

    const int intMax = std::numeric_limits<int>::max();
    QTest::newRow("12 bits") << 1 << 12 << UINTEGER << FIELD_REGISTER;
    QTest::newRow("past the end of the payload") << 3 << 16 << UINTEGER << FIELD_REGISTER;
    QTest::newRow("offset at the largest int") << intMax << 16 << UINTEGER << FIELD_REGISTER;
    QTest::newRow("register one past the map") << 1 << 16 << UINTEGER << 65536;
    QTest::newRow("register at the largest int") << 1 << 16 << UINTEGER << intMax;
    QTest::newRow("register at the smallest int")
        << 1 << 16 << UINTEGER << std::numeric_limits<int>::min();
}

void TestPayloadDecoder::skippedFieldLeavesTheOthers()
{
    QFETCH(int, packetBias);
    QFETCH(int, dataBitSize);
    QFETCH(QString, dataType);
    QFETCH(int, regMapBias);
    REGS::SDevicePacketField skipped = field(packetBias, dataBitSize, dataType);
    skipped.regMapBias = regMapBias;
    REGS::SDevicePacketField kept = field(3, 8, UINTEGER);
    kept.regMapBias = 7;
    deviceTemplate = packetTemplate(4, {skipped, kept});

    QVERIFY(decode(QByteArray::fromHex("01aabb07")));

    QCOMPARE(rewrites<QStringList>(set, &DB::SDbDeviceRegDataRewrite::value), QStringList {"0007"});
    QCOMPARE(rewrites<QList<int>>(set, &DB::SDbDeviceRegDataRewrite::regOffset), QList<int> {7});
}

void TestPayloadDecoder::payloadOfTheWrongSizeStoresNothing_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("logEntry");

    // A peer must not flood the log through one payload: its first 256 bytes are quoted.
    QTest::newRow("100000 bytes")
        << QByteArray(1, '\x01') + QByteArray(99999, '\xab')
        << "WARNING: [CAllDeviceHandler::processDataSlot] Invalid size of packet [01][01"
            + QStringLiteral("ab").repeated(255)
            + "... (100000 bytes in all)]. Expect [2], real [100000]";
}

// Not even the server values of a refused uplink are handed on.
void TestPayloadDecoder::payloadOfTheWrongSizeStoresNothing()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, logEntry);
    deviceTemplate = packetTemplate(2, {field(1, 8, UINTEGER)});
    deviceTemplate.serverData.insert(
        REGS::REGS_JSON_KEY_CODE_RSSI, serverEntry(REGS::REGS_JSON_KEY_CODE_RSSI, 16));
    QCoreApplication::processEvents(); // the entries earlier tests posted are delivered first
    QSignalSpy log(CLogFile::getInstance(), &CLogFile::addLogSignal);

    QVERIFY(!decode(payload));

    QCOMPARE(rewrites<QStringList>(set, &DB::SDbDeviceRegDataRewrite::value), QStringList());
    QCOMPARE(logTexts(log), QStringList {logEntry});
}

// Server values go to their registers as 32-bit numbers: the SNR rounded, saturating outside
// that range, the frame counter whole.
void TestPayloadDecoder::serverValueRegisters_data()
{
    QTest::addColumn<QString>("dataCode");
    QTest::addColumn<double>("snr");
    QTest::addColumn<uint>("fcnt");
    QTest::addColumn<QString>("fullValue");

    const QString snr = REGS::REGS_JSON_KEY_CODE_SNR;
    const QString fcnt = REGS::REGS_JSON_KEY_CODE_FCNT;
    QTest::newRow("snr -7.5 rounds up to -7") << snr << -7.5 << 0u << "fffffff9";
    QTest::newRow("snr 1e300 saturates high") << snr << 1e300 << 0u << "7fffffff";
    QTest::newRow("snr -1e300 saturates low") << snr << -1e300 << 0u << "80000000";
    QTest::newRow("fcnt 70000") << fcnt << 0.0 << 70000u << "00011170";
}

void TestPayloadDecoder::serverValueRegisters()
{
    QFETCH(QString, dataCode);
    QFETCH(double, snr);
    QFETCH(uint, fcnt);
    deviceTemplate = packetTemplate(2, {field(1, 8, UINTEGER)});
    deviceTemplate.serverData.insert(dataCode, serverEntry(dataCode, 32));
    API::SApiDeviceData data;
    data.devEui = DEV_EUI;
    data.snr = snr;
    data.fcnt = fcnt;
    data.data = QByteArray::fromHex("0101");
    DB::SDeviceRegMapDescription device;
    device.devEui = DEV_EUI;

    QVERIFY(CPayloadDecoder::decode(data, device, deviceTemplate, scaling(0.0, 1.0), set));

    QTEST(set.rewrites.value(0).fullValue, "fullValue");
}

// Template files that once made the decoder compute register offsets past the range of an int.
// Each packet is decoded from a payload of its size; every register written must stay within
// reach of the device's start register.
void TestPayloadDecoder::replayTemplateFixtures_data()
{
    QTest::addColumn<QString>("fileName");

    const QFileInfoList fixtures
        = QDir(QStringLiteral(TEMPLATE_FIXTURE_DIR)).entryInfoList(QDir::Files);
    QVERIFY(!fixtures.isEmpty());
    for (const QFileInfo& fixture : fixtures)
        QTest::newRow(qPrintable(fixture.fileName())) << fixture.filePath();
}

void TestPayloadDecoder::replayTemplateFixtures()
{
    QFETCH(QString, fileName);
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    deviceTemplate = REGS::SDeviceTemplate(QJsonDocument::fromJson(file.readAll()).object());
    QVERIFY(deviceTemplate.valid);

    for (const REGS::SDevicePacket& packet : qAsConst(deviceTemplate.packets)) {
        QByteArray payload(packet.packetSize, '\x7f');
        payload[0] = static_cast<char>(packet.packetType);
        QVERIFY(decode(payload));
        for (const int offset : rewrites<QList<int>>(set, &DB::SDbDeviceRegDataRewrite::regOffset))
            QVERIFY2(qAbs(offset) <= 65535 + 3, qPrintable(QString::number(offset)));
    }
}

QTEST_GUILESS_MAIN(TestPayloadDecoder)
#include "tst_payloaddecoder.moc"
