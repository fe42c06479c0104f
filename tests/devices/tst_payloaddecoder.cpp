#include "app/clogfile.h"
#include "db/cdatabasehandler.h"
#include "devices/cpayloaddecoder.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const int START_ADDR = 100;
const QString TAG = QStringLiteral("[CAllDeviceHandler::processDataSlot]");
const QString VERIFY_CONNECTION = QStringLiteral("verify");

// One uplink of packet type 1. Server data is "code/reg_map_bias/reg_bit_size", fields are
// "packet_bias/data_bit_size/data_type/reg_map_bias[/endianness[/data_bit_bias]]", registers
// "offset/bit_size[/grating_period[/start_value]]", rows "offset=value/full_value" ("-" is NULL).
struct DecodeCase
{
    const char* name;
    const char* devEui;
    const char* serverData;
    const char* fields;
    int packetSize;
    const char* payload;
    const char* registers;
    const char* rows;
    const char* log; // the decoder's one log entry, after its tag
};

// Server data goes with a text field whose register is not registered, so only the server
// values show up in the rows.
const DecodeCase CASES[] = {
    {"worked example", "A1", "", "1/32/uinteger/2", 5, "0139300000", "2/32 3/16",
        "2=0000/00003039 3=3039/-", ""},
    {"worked example, period 0.1", "A2", "", "1/32/uinteger/2", 5, "0139300000", "2/32/0.1 3/16",
        "2=0000/000004d3 3=04d3/-", ""},
    {"rssi -70", "B1", "rssi/0/16", "1/8/text/50", 2, "0141", "0/16", "0=ffba/ffba", ""},
    {"snr -7.5 in 32 bits", "B2", "snr/0/32", "1/8/text/50", 2, "0141", "0/32 1/16",
        "0=ffff/fffffff9 1=fff9/-", ""},
    {"snr -7.5 in 16 bits", "B3", "snr/0/16", "1/8/text/50", 2, "0141", "0/16", "0=fff9/fff9", ""},
    {"ts in seconds", "B4", "ts/0/32", "1/8/text/50", 2, "0141", "0/32 1/16",
        "0=6553/6553f100 1=f100/-", ""},
    {"fcnt 70000 in 16 bits", "B5", "fcnt/0/16", "1/8/text/50", 2, "0141", "0/16", "0=1170/1170",
        ""},
    {"gateway EUI in 64 bits", "B6", "gatewayId/0/64", "1/8/text/50", 2, "0141",
        "0/64 1/16 2/16 3/16", "0=A0B1/A0B1C2D3E4F50617 1=C2D3/- 2=E4F5/- 3=0617/-", ""},
    {"gateway EUI in 48 bits", "B7", "gatewayId/0/48", "1/8/text/50", 2, "0141", "0/48 1/16 2/16",
        "0=C2D3/C2D3E4F50617 1=E4F5/- 2=0617/-", ""},
    {"device EUI in 32 bits", "B8", "devEui/0/32", "1/8/text/50", 2, "0141", "0/32 1/16",
        "0=4455/445566B8 1=66B8/-", ""},
    {"device EUI in 16 bits", "B9", "devEui/0/16", "1/8/text/50", 2, "0141", "0/16", "0=66B9/66B9",
        ""},
    {"1-byte integer and uinteger", "C1", "", "1/8/integer/0 1/8/uinteger/1", 2, "01ff",
        "0/16 1/16", "0=ffff/ffff 1=00ff/00ff", ""},
    {"2-byte integer in both byte orders", "C2", "", "1/16/integer/0/be 3/16/integer/1/le", 5,
        "0180000080", "0/16 1/16", "0=8000/8000 1=8000/8000", ""},
    {"start value, period, halves up", "C3", "", "1/16/uinteger/0/be 3/8/integer/1", 4, "010005fd",
        "0/16/2/10 1/16/0.5", "0=0014/0014 1=ffff/ffff", ""},
    {"8-byte integer and uinteger", "C4", "", "1/64/integer/0/be 9/64/uinteger/4/be", 17,
        "01fffffffffffffffe0000010000000001", "0/64 1/16 4/64 7/16",
        "0=ffff/fffffffffffffffe 1=ffff/- 4=0000/0000010000000001 7=0001/-", ""},
    {"text stops at a zero byte", "C5", "", "1/32/text/0", 5, "0141420043", "0/32 1/16", "0=AB/AB",
        ""},
    {"bit offset 12", "D1", "", "1/8/uinteger/0/le/12 2/8/uinteger/1", 3, "01aa07", "0/16 1/16",
        "1=0007/0007", "ERROR: %1 Unsupport functional"},
    {"3-byte field", "D2", "", "1/24/uinteger/0 4/8/uinteger/1", 5, "01aabbcc07", "0/32 1/16",
        "1=0007/0007", "WARNING: %1 Unsupport size of data [3]"},
    {"boolean", "D3", "", "1/8/boolean/0 2/8/uinteger/1", 3, "010107", "0/16 1/16", "1=0007/0007",
        "WARNING: %1 Unsupport data type [boolean] for size [1]"},
    {"field past the end", "D4", "", "1/8/uinteger/0 2/16/uinteger/1", 3, "010507", "0/16 1/16",
        "0=0005/0005",
        "WARNING: %1 Field [f2] lies outside the packet: offset [2], size [2], packet length "
        "[3]"},
    {"payload one byte too long", "E1", "rssi/1/16", "1/8/uinteger/0", 2, "010506", "0/16 1/16", "",
        "WARNING: %1 Invalid size of packet [01][010506]. Expect [2], real [3]"},
    {"unknown packet type", "E2", "rssi/1/16", "1/8/uinteger/0", 2, "0705", "0/16 1/16", "",
        "WARNING: %1 Unknown packet type [07]"},
};

QJsonArray serverData(const QString& spec)
{
    QJsonArray entries;
    for (const QString& item : spec.split(' ', Qt::SkipEmptyParts)) {
        const QStringList p = item.split('/');
        entries.append(QJsonObject {{"data_code", p[0]}, {"reg_map_bias", p[1].toInt()},
            {"reg_bit_bias", 0}, {"reg_bit_size", p[2].toInt()}, {"data_name", p[0]}});
    }
    return entries;
}

QJsonArray fields(const QString& spec)
{
    QJsonArray entries;
    for (const QString& item : spec.split(' ', Qt::SkipEmptyParts)) {
        const QStringList p = item.split('/');
        entries.append(QJsonObject {{"packet_bias", p[0].toInt()},
            {"data_bit_bias", p.value(5, "0").toInt()}, {"data_bit_size", p[1].toInt()},
            {"data_type", p[2]}, {"endianness", p.value(4, "le")}, {"reg_map_bias", p[3].toInt()},
            {"reg_bit_bias", 0}, {"reg_bit_size", p[1].toInt()},
            {"data_name", QString("f%1").arg(entries.size() + 1)}});
    }
    return entries;
}

QList<REGS::SRegisterInfo> registerEntries(const QString& spec)
{
    QList<REGS::SRegisterInfo> entries;
    for (const QString& item : spec.split(' ', Qt::SkipEmptyParts)) {
        const QStringList p = item.split('/');
        REGS::SRegisterInfo entry;
        entry.name = item;
        entry.regOffset = p[0].toInt();
        entry.bitSize = p[1].toInt();
        entry.dataType = "uinteger";
        entry.gratingPeriod = p.value(2, "1").toDouble();
        entry.startValue = p.value(3, "0").toDouble();
        entries.append(entry);
    }
    return entries;
}
} // namespace

class TestPayloadDecoder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void decode_data();
    void decode();

private:
    QString storedRows(const QString& devEui);

    QTemporaryDir dir;
};

void TestPayloadDecoder::initTestCase()
{
    QVERIFY(CLogFile::getInstance(QString(), QString()));
    const QString fileName = dir.filePath("server.db");
    QVERIFY(CDataBaseHandler::getInstance()->init(fileName));
    QSqlDatabase verify = QSqlDatabase::addDatabase("QSQLITE", VERIFY_CONNECTION);
    verify.setDatabaseName(fileName);
    QVERIFY(verify.open());
}

// The rows a device has been written, read back from the file as "offset=value/full_value".
QString TestPayloadDecoder::storedRows(const QString& devEui)
{
    QSqlQuery query(QSqlDatabase::database(VERIFY_CONNECTION));
    query.prepare("SELECT dev_data.reg_addr, dev_data.value, dev_data.full_value FROM dev_data "
                  "JOIN devices ON dev_data.device = devices.device WHERE devices.dev_eui = ? "
                  "AND dev_data.value IS NOT NULL ORDER BY dev_data.reg_addr");
    query.addBindValue(devEui);
    if (!query.exec())
        return "query failed";
    QStringList rows;
    while (query.next()) {
        const QString full = query.value(2).isNull() ? "-" : query.value(2).toString();
        rows << QString("%1=%2/%3")
                    .arg(query.value(0).toInt() - START_ADDR)
                    .arg(query.value(1).toString(), full);
    }
    return rows.join(' ');
}

void TestPayloadDecoder::decode_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(CASES)); ++i)
        QTest::newRow(CASES[i].name) << i;
}

void TestPayloadDecoder::decode()
{
    QFETCH(int, index);
    const DecodeCase& c = CASES[index];

    DB::SDeviceRegMapDescription device;
    device.devEui = QString("00112233445566") + c.devEui;
    device.appEui = "A1B2C3D4E5F60708";
    device.startAddr = START_ADDR;
    device.port = 6000 + index; // registers of different devices must not share a port
    device.registers = registerEntries(c.registers);
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    QString error;
    QVERIFY2(database->registerNewDevice(device, error), qPrintable(error));

    const QJsonObject packet {
        {"packet_type", 1}, {"packet_size", c.packetSize}, {"packet_fields", fields(c.fields)}};
    const REGS::SDeviceTemplate deviceTemplate(
        QJsonObject {{"app_eui", device.appEui}, {"dev_type", "Meter"},
            {"server_data", serverData(c.serverData)}, {"device_packets", QJsonArray {packet}}});
    QVERIFY(deviceTemplate.valid);

    API::SApiDeviceData uplink;
    uplink.devEui = device.devEui;
    uplink.ts = 1700000000123;
    uplink.gatewayId = "A0B1C2D3E4F50617";
    uplink.fcnt = 70000;
    uplink.rssi = -70;
    uplink.snr = -7.5;
    uplink.data = QByteArray::fromHex(c.payload);

    QSignalSpy logSpy(CLogFile::getInstance(), &CLogFile::addLogSignal);
    DB::SDbDeviceRegDataSet dataSet;
    const bool stored = CPayloadDecoder::decode(
        uplink, device, deviceTemplate,
        [database](const QString& eui, uint addr) { return database->getRegisterParam(eui, addr); },
        dataSet);
    QCOMPARE(stored, QByteArray(c.rows) != "");
    QCOMPARE(dataSet.devEui, device.devEui);
    QCOMPARE(dataSet.startAddr, START_ADDR);
    // Handed over even when refused, to show that the set then carries nothing.
    database->saveRegisterData(dataSet);
    QCOMPARE(storedRows(device.devEui), QString(c.rows));

    // Decoder entries, and failed scaling lookups (a field looking at the wrong register).
    QCoreApplication::processEvents();
    QStringList log;
    for (const QList<QVariant>& entry : logSpy) {
        const QString text = entry.first().toString();
        if (text.contains(TAG) || text.contains("[CDataBaseHandler::getRegisterParam]"))
            log << text.mid(text.indexOf(']') + 1);
    }
    QCOMPARE(log, QByteArray(c.log) != "" ? QStringList {QString(c.log).arg(TAG)} : QStringList());
}

QTEST_GUILESS_MAIN(TestPayloadDecoder)
#include "tst_payloaddecoder.moc"
