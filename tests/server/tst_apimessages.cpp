#include "apimessages.h"
#include "sapidevicedata.h"

#include <QJsonDocument>
#include <QtTest>

namespace {
// JSON written with single quotes, which keeps the tables readable.
QJsonObject json(const QByteArray& text)
{
    return QJsonDocument::fromJson(QByteArray(text).replace('\'', '"')).object();
}

// The parsed record as one line, so a table row states every field at once.
QString describe(const API::SApiDeviceData& r)
{
    const QList<QVariant> fields {r.devEui, r.ts, r.gatewayId, int(r.ack), r.fcnt, r.port,
        r.data.toHex(), r.freq, r.dr, r.rssi, r.snr, int(r.valid)};
    QStringList texts;
    for (const QVariant& field : fields)
        texts << field.toString();
    return texts.join('|');
}

const QString INVALID = QStringLiteral("|0||0|0|0||0|0|0|0|0");
} // namespace

class TestApiMessages : public QObject
{
    Q_OBJECT
private slots:
    void uplinkRecord_data();
    void uplinkRecord();
    void devicesList();
};

void TestApiMessages::uplinkRecord_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("joined type, lower-case EUI and gateways")
        << QByteArray("{'type':'UNCONF_UP+MAC_LINKCHECK_REQ','devEui':'00aa11bb22cc33dd',"
                      "'ts':1700000000123,'gatewayId':'ab01cd02+ef03','ack':true,'fcnt':17,"
                      "'port':2,'data':'0aff','freq':868100000,'dr':5,'rssi':-70,'snr':-7.5}")
        << "00AA11BB22CC33DD|1700000000123|AB01CD02|1|17|2|0aff|868100000|5|-70|-7.5|1";
    QTest::newRow("numbers as decimal strings, port in 16 bits, non-hex characters skipped")
        << QByteArray("{'type':'CONF_UP','devEui':'a1','ts':'1700000000123','fcnt':'17',"
                      "'freq':'868100000','port':65537,'data':'0a:F f-zz01'}")
        << "A1|1700000000123||0|17|1|0aff01|868100000|0|0|0|1";
    QTest::newRow("non-decimal strings, fractional or textual small numbers give 0")
        << QByteArray("{'type':'UNCONF_UP','devEui':'a1','ts':'12x','fcnt':'-1','freq':'0x10',"
                      "'port':3.5,'dr':'5','rssi':'-70','snr':'1.5','ack':'true','data':'01'}")
        << "A1|0||0|0|0|01|0|0|0|0|1";
    QTest::newRow("no data") << QByteArray("{'type':'UNCONF_UP','devEui':'a1'}") << INVALID;

    // A get_data_resp (a reply, with a status): its first uplink, with the reply's device EUI.
    const QByteArray records
        = "'data_list':[{'type':'JOIN_REQ','data':'01'},"
          "{'type':'UNCONF_UP','devEui':'x','fcnt':3,'data':'03'},{'type':'CONF_UP','data':''}]}";
    QTest::newRow("reply") << "{'status':true,'devEui':'0a'," + records
                           << "0A|0||0|3|0|03|0|0|0|0|1";
    QTest::newRow("reply: status false") << "{'status':false,'devEui':'a'," + records << INVALID;
    QTest::newRow("reply: no device EUI") << "{'status':true," + records << INVALID;
    QTest::newRow("reply: no uplink")
        << QByteArray("{'status':true,'devEui':'a','data_list':[]}") << INVALID;
}

void TestApiMessages::uplinkRecord()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);

    const QJsonObject object = json(text);
    QVERIFY(!object.isEmpty());
    const bool reply = object.contains("status");
    QCOMPARE(describe(reply ? API::chooseLastUplink(object) : API::readUplink(object)), expected);
}

// Only entries with an EUI, a name and a textual application EUI are kept, in order, as sent.
void TestApiMessages::devicesList()
{
    const QJsonObject response
        = json("{'devices_list':[{'devEui':'bb01','devName':'Meter','OTAA':{'appEui':'aa01'}},"
               "{'devEui':'b1','devName':'no OTAA'},{'devEui':'b2','devName':'','OTAA':{}},"
               "{'devEui':'b3','devName':'','OTAA':'aa'},{'devName':'','OTAA':{'appEui':'a1'}},"
               "{'devEui':'b4','devName':'','OTAA':{'appEui':12}},'not an object',"
               "{'devEui':'b6','OTAA':{'appEui':'a6'}},"
               "{'devEui':'BB02','devName':'','OTAA':{'appEui':'AA02'}},"
               "{'devEui':'BB02','devName':'','OTAA':{'appEui':'AA02'}}]}");
    QStringList devices;
    for (const API::SServerDeviceInfo& device : API::readDevicesList(response))
        devices << device.devEui + "|" + device.appEui + "|" + device.devName;
    QCOMPARE(devices, QStringList({"bb01|aa01|Meter", "BB02|AA02|", "BB02|AA02|"}));
}

QTEST_GUILESS_MAIN(TestApiMessages)
#include "tst_apimessages.moc"
