#include "cdatabasehandler.h"
#include "clogfile.h"
#include "cpayloaddecoder.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QtSql>
#include <QtTest>

namespace {
const QString TAG = "[CAllDeviceHandler::processDataSlot]";
// The rows of a port as "offset=value/full_value"; rows never written (NULL value) are left out.
const char* STORED_ROWS = "SELECT group_concat((reg_addr - 100) || '=' || value || '/' || "
                          "ifnull(full_value, '-'), ' ') FROM (SELECT * FROM dev_data "
                          "WHERE port=%1 ORDER BY reg_addr)";

// One uplink of packet type 1 for device i (DevEUI ending in 445566AB, port 6000 + i, registers
// from 100). Server data: "code/reg_map_bias/reg_bit_size"; fields: "packet_bias/data_bit_size/
// data_type/reg_map_bias[/endianness[/data_bit_bias]]"; registers: "offset/bit_size[/grating_period
// [/start_value]]"; rows: "offset=value/full_value" ("-" is NULL); log: the decoder's entries, "|"
// between them, %1 for its tag.
struct DecodeCase
{
    const char *name, *serverData, *fields;
    int packetSize;
    const char *payload, *registers, *rows, *log;
};

// With server data goes a text field at an unregistered register: only server values show.
const DecodeCase CASES[] = {
    {"worked example, with period 1 and 0.1", "", "1/32/uinteger/2 1/32/uinteger/4", 5,
        "0139300000", "2/32 3/16 4/32/0.1 5/16",
        "2=0000/00003039 3=3039/- 4=0000/000004d3 5=04d3/-", ""},
    {"rssi -70, snr -7.5 in 32 bits, ts, fcnt 70000 in 16 bits, EUIs in 64 and 32 bits",
        "rssi/0/16 snr/1/32 ts/3/32 fcnt/5/16 gatewayId/6/64 devEui/10/32", "1/8/text/50", 2,
        "0141", "0/16 1/32 2/16 3/32 4/16 5/16 6/64 7/16 8/16 9/16 10/32 11/16",
        "0=ffba/ffba 1=ffff/fffffff9 2=fff9/- 3=6553/6553f100 4=f100/- 5=1170/1170 "
        "6=A0B1/A0B1C2D3E4F50617 7=C2D3/- 8=E4F5/- 9=0617/- 10=4455/445566AB 11=66AB/-",
        ""},
    {"snr -7.5 in 16 bits, EUIs in 48 and 16 bits", "snr/0/16 gatewayId/1/48 devEui/4/16",
        "1/8/text/50", 2, "0141", "0/16 1/48 2/16 3/16 4/16",
        "0=fff9/fff9 1=C2D3/C2D3E4F50617 2=E4F5/- 3=0617/- 4=66AB/66AB", ""},
    {"1-byte integer and uinteger, 2-byte integer in both byte orders, text to a zero byte", "",
        "1/8/integer/0 2/8/uinteger/1 3/16/integer/2/be 5/16/integer/3 7/32/text/4", 11,
        "01ffff8000008041420043", "0/16 1/16 2/16 3/16 4/32 5/16",
        "0=ffff/ffff 1=00ff/00ff 2=8000/8000 3=8000/8000 4=AB/AB", ""},
    {"start value, period, halves up", "", "1/16/uinteger/0/be 3/8/integer/1", 4, "010005fd",
        "0/16/2/10 1/16/0.5", "0=0014/0014 1=ffff/ffff", ""},
    {"8-byte integer and uinteger", "", "1/64/integer/0/be 9/64/uinteger/4/be", 17,
        "01fffffffffffffffe0000010000000001", "0/64 1/16 4/64 7/16",
        "0=ffff/fffffffffffffffe 1=ffff/- 4=0000/0000010000000001 7=0001/-", ""},
    {"skipped: bit offset 12, 3 bytes, boolean, past the end", "",
        "1/8/uinteger/0/le/12 1/24/uinteger/1 4/8/boolean/2 5/8/uinteger/3 6/16/uinteger/4", 7,
        "01aabbcc010705", "0/16 1/16 2/16 3/16 4/16", "3=0007/0007",
        "ERROR: %1 Unsupport functional|WARNING: %1 Unsupport size of data [3]|WARNING: %1 "
        "Unsupport data type [boolean] for size [1]|WARNING: %1 Field [f5] lies outside the "
        "packet: offset [6], size [2], packet length [7]"},
    {"payload one byte too long", "rssi/1/16", "1/8/uinteger/0", 2, "010506", "0/16 1/16", "",
        "WARNING: %1 Invalid size of packet [01][010506]. Expect [2], real [3]"},
    {"unknown packet type", "rssi/1/16", "1/8/uinteger/0", 2, "0705", "0/16 1/16", "",
        "WARNING: %1 Unknown packet type [07]"},
};

QList<QStringList> items(const char* text)
{
    QList<QStringList> result;
    for (const QString& item : QString(text).split(' ', Qt::SkipEmptyParts))
        result << item.split('/');
    return result;
}
} // namespace

class TestPayloadDecoder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void decode_data();
    void decode();
};

void TestPayloadDecoder::initTestCase()
{
    QVERIFY(CLogFile::getInstance(QString(), QString()));
    static QTemporaryDir dir;
    QVERIFY(CDataBaseHandler::getInstance()->init(dir.filePath("server.db")));
    QSqlDatabase check = QSqlDatabase::addDatabase("QSQLITE", "check");
    check.setDatabaseName(dir.filePath("server.db"));
    QVERIFY(check.open());
}

void TestPayloadDecoder::decode_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(CASES)); ++i)
        QTest::newRow(CASES[i].name) << i;
}

// Registers the case's device, decodes, stores the set and reads the rows back from the file.
void TestPayloadDecoder::decode()
{
    QFETCH(int, index);
    const DecodeCase& c = CASES[index];
    CDataBaseHandler* db = CDataBaseHandler::getInstance();
    const QString devEui = QString::number(index).rightJustified(8, '0') + "445566AB";
    DB::SDeviceRegMapDescription device {devEui, "A1B2", "Meter", 100, {}, 6000 + index, 0};
    for (const QStringList& p : items(c.registers))
        device.registers.append({"r", 0, p[0].toInt(), p[1].toInt(), "uinteger",
            p.value(3, "0").toDouble(), p.value(2, "1").toDouble(), QString()});
    QString error;
    QVERIFY2(db->registerNewDevice(device, error), qPrintable(error));

    QJsonArray serverData, fields;
    for (const QStringList& p : items(c.serverData))
        serverData.append(QJsonObject {{"data_code", p[0]}, {"reg_map_bias", p[1].toInt()},
            {"reg_bit_bias", 0}, {"reg_bit_size", p[2].toInt()}, {"data_name", p[0]}});
    for (const QStringList& p : items(c.fields))
        fields.append(QJsonObject {{"packet_bias", p[0].toInt()}, {"data_bit_size", p[1].toInt()},
            {"data_type", p[2]}, {"reg_map_bias", p[3].toInt()}, {"endianness", p.value(4, "le")},
            {"data_bit_bias", p.value(5).toInt()}, {"reg_bit_bias", 0}, {"reg_bit_size", 16},
            {"data_name", QString("f%1").arg(fields.size() + 1)}});
    const REGS::SDeviceTemplate deviceTemplate(
        QJsonObject {{"app_eui", device.appEui}, {"dev_type", "Meter"}, {"server_data", serverData},
            {"device_packets",
                QJsonArray {QJsonObject {{"packet_type", 1}, {"packet_size", c.packetSize},
                    {"packet_fields", fields}}}}});

    API::SApiDeviceData uplink;
    uplink.devEui = devEui;
    uplink.ts = 1700000000123;
    uplink.gatewayId = "A0B1C2D3E4F50617";
    uplink.fcnt = 70000;
    uplink.rssi = -70;
    uplink.snr = -7.5;
    uplink.data = QByteArray::fromHex(c.payload);

    QSignalSpy logSpy(CLogFile::getInstance(), &CLogFile::addLogSignal);
    DB::SDbDeviceRegDataSet dataSet;
    const auto lookup
        = [db](const QString& eui, uint addr) { return db->getRegisterParam(eui, addr); };
    QCOMPARE(CPayloadDecoder::decode(uplink, device, deviceTemplate, lookup, dataSet),
        QByteArray(c.rows) != "");
    db->saveRegisterData(dataSet); // a refused uplink's set must carry nothing

    QSqlQuery query(QSqlDatabase::database("check"));
    QVERIFY(query.exec(QString(STORED_ROWS).arg(6000 + index)) && query.next());
    QCOMPARE(query.value(0).toString(), QString(c.rows));

    QCoreApplication::processEvents();
    QStringList log;
    for (const QList<QVariant>& entry : logSpy)
        log << entry.first().toString().section(']', 1);
    QCOMPARE(log.filter(TAG).join('|'), QString(c.log).replace("%1", TAG));
}

QTEST_GUILESS_MAIN(TestPayloadDecoder)
#include "tst_payloaddecoder.moc"
