#include "apimessages.h"
#include "cconsolecatcher.h"
#include "sapidevicedata.h"
#include "servertexts.h"

#include <QJsonDocument>
#include <QtTest>

namespace {
// JSON written with single quotes, which keeps the tables readable.
QJsonObject json(const QByteArray& text)
{
    return QJsonDocument::fromJson(QByteArray(text).replace('\'', '"')).object();
}

QStringList devEuisOf(const QList<API::SServerDeviceInfo>& devices)
{
    QStringList devEuis;
    for (const API::SServerDeviceInfo& device : devices)
        devEuis << device.devEui;
    return devEuis;
}
} // namespace

class TestApiMessages : public QObject
{
    Q_OBJECT
private slots:
    void deviceDataRequestText();
    void uplinkFields_data();
    void uplinkFields();
    void uplinkWithoutApplicationData_data();
    void uplinkWithoutApplicationData();
    void lastUplinkOfReply_data();
    void lastUplinkOfReply();
    void devicesListEntry_data();
    void devicesListEntry();
    void devicesListKeepsWhatWasSent();
};

// The one request with more than a command: compact, the EUI upper-cased, the limit a number.
void TestApiMessages::deviceDataRequestText()
{
    QCOMPARE(API::deviceDataRequest("00aa11bb"),
        QString(R"({"cmd":"get_data_req","devEui":"00AA11BB",)"
                R"("select":{"direction":"UPLINK","limit":10}})"));
}

void TestApiMessages::uplinkFields_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("devEui");
    QTest::addColumn<quint64>("ts");
    QTest::addColumn<QString>("gatewayId");
    QTest::addColumn<bool>("ack");
    QTest::addColumn<quint32>("fcnt");
    QTest::addColumn<quint16>("port");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint32>("freq");
    QTest::addColumn<quint16>("dr");
    QTest::addColumn<qint16>("rssi");
    QTest::addColumn<double>("snr");

    QTest::newRow("joined type, lower-case EUI, two gateways")
        << QByteArray("{'type':'UNCONF_UP+MAC_LINKCHECK_REQ','devEui':'00aa11bb22cc33dd',"
                      "'ts':1700000000123,'gatewayId':'ab01cd02+ef03','ack':true,'fcnt':17,"
                      "'port':2,'data':'0aff','freq':868100000,'dr':5,'rssi':-70,'snr':-7.5}")
        << "00AA11BB22CC33DD" << quint64(1700000000123) << "AB01CD02" << true << quint32(17)
        << quint16(2) << QByteArray::fromHex("0aff") << quint32(868100000) << quint16(5)
        << qint16(-70) << -7.5;
    QTest::newRow("numbers as decimal strings, port kept in 16 bits, non-hex characters skipped")
        << QByteArray("{'type':'CONF_UP','devEui':'a1','ts':'1700000000123','fcnt':'17',"
                      "'freq':'868100000','port':65537,'data':'0a:F f-zz01'}")
        << "A1" << quint64(1700000000123) << "" << false << quint32(17) << quint16(1)
        << QByteArray::fromHex("0aff01") << quint32(868100000) << quint16(0) << qint16(0) << 0.0;
    QTest::newRow("non-decimal strings, fractions and texts for small numbers give 0")
        << QByteArray("{'type':'UNCONF_UP','devEui':'a1','ts':'12x','fcnt':'-1','freq':'0x10',"
                      "'port':3.5,'dr':'5','rssi':'-70','snr':'1.5','ack':'true','data':'01'}")
        << "A1" << quint64(0) << "" << false << quint32(0) << quint16(0) << QByteArray("\x01")
        << quint32(0) << quint16(0) << qint16(0) << 0.0;
}

void TestApiMessages::uplinkFields()
{
    QFETCH(QByteArray, record);

    const API::SApiDeviceData uplink = API::readUplink(json(record));
    QVERIFY(uplink.valid);
    QTEST(uplink.devEui, "devEui");
    QTEST(uplink.ts, "ts");
    QTEST(uplink.gatewayId, "gatewayId");
    QTEST(uplink.ack, "ack");
    QTEST(uplink.fcnt, "fcnt");
    QTEST(uplink.port, "port");
    QTEST(uplink.data, "data");
    QTEST(uplink.freq, "freq");
    QTEST(uplink.dr, "dr");
    QTEST(uplink.rssi, "rssi");
    QTEST(uplink.snr, "snr");
}

void TestApiMessages::uplinkWithoutApplicationData_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("console"); // empty: nothing is written

    QTest::newRow("empty object") << QByteArray("{}") << QString();
    QTest::newRow("downlink") << QByteArray("{'type':'UNCONF_DOWN','devEui':'a1','data':'01'}")
                              << QString();
    QTest::newRow("join request") << QByteArray("{'type':'JOIN_REQ','devEui':'a1','data':'01'}")
                                  << QString();
    QTest::newRow("type in lower case")
        << QByteArray("{'type':'conf_up','devEui':'a1','data':'01'}") << QString();
    QTest::newRow("no type") << QByteArray("{'devEui':'a1','data':'01'}")
                             << ServerTexts::UPLINK_WITHOUT_TYPE;
    QTest::newRow("no data") << QByteArray("{'type':'UNCONF_UP','devEui':'a1'}")
                             << ServerTexts::UPLINK_WITHOUT_DATA;
}

// Such a record stays invalid and without a device EUI, which is how the client drops it.
void TestApiMessages::uplinkWithoutApplicationData()
{
    QFETCH(QByteArray, record);
    QFETCH(QString, console);

    CConsoleCatcher catcher;
    const API::SApiDeviceData uplink = API::readUplink(json(record));
    QVERIFY(!uplink.valid);
    QCOMPARE(uplink.devEui, QString());
    QCOMPARE(catcher.messages(), console.isEmpty() ? QStringList() : QStringList(console));
}

void TestApiMessages::lastUplinkOfReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("devEui");
    QTest::addColumn<quint32>("fcnt");

    const QByteArray records
        = "'data_list':[{'type':'JOIN_REQ','data':'01'},{'type':'JOIN_ACC','data':'02'},"
          "{'type':'UNCONF_UP','devEui':'ff','fcnt':3,'data':'03'},"
          "{'type':'CONF_UP','fcnt':4,'data':'04'}]}";
    QTest::newRow("first uplink after joins, with the reply's EUI upper-cased")
        << "{'status':true,'devEui':'0a'," + records << true << "0A" << quint32(3);
    QTest::newRow("status false") << "{'status':false,'devEui':'0a'," + records << false << ""
                                  << quint32(0);
    QTest::newRow("no status") << "{'devEui':'0a'," + records << false << "" << quint32(0);
    QTest::newRow("no device EUI") << "{'status':true," + records << false << "" << quint32(0);
    QTest::newRow("no record list")
        << QByteArray("{'status':true,'devEui':'0a'}") << false << "" << quint32(0);
    QTest::newRow("no uplink with data")
        << QByteArray("{'status':true,'devEui':'0a','data_list':[{'type':'JOIN_REQ','data':'1'}]}")
        << false << "" << quint32(0);
}

void TestApiMessages::lastUplinkOfReply()
{
    QFETCH(QByteArray, reply);

    const API::SApiDeviceData uplink = API::chooseLastUplink(json(reply));
    QTEST(uplink.valid, "valid");
    QTEST(uplink.devEui, "devEui");
    QTEST(uplink.fcnt, "fcnt");
}

void TestApiMessages::devicesListEntry_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("listed");

    QTest::newRow("complete") << QByteArray("{'devEui':'b1','devName':'','OTAA':{'appEui':'a1'}}")
                              << true;
    QTest::newRow("no OTAA") << QByteArray("{'devEui':'b1','devName':'M'}") << false;
    QTest::newRow("empty OTAA") << QByteArray("{'devEui':'b1','devName':'M','OTAA':{}}") << false;
    QTest::newRow("OTAA not an object")
        << QByteArray("{'devEui':'b1','devName':'M','OTAA':'a1'}") << false;
    QTest::newRow("application EUI not a text")
        << QByteArray("{'devEui':'b1','devName':'M','OTAA':{'appEui':12}}") << false;
    QTest::newRow("no name, application EUI given")
        << QByteArray("{'devEui':'b1','OTAA':{'appEui':'a1'}}") << false;
    QTest::newRow("no device EUI") << QByteArray("{'devName':'M','OTAA':{'appEui':'a1'}}") << false;
    QTest::newRow("not an object") << QByteArray("'b1'") << false;
}

// Only entries with a device EUI, a name and a textual application EUI are listed.
void TestApiMessages::devicesListEntry()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, listed);

    const QList<API::SServerDeviceInfo> devices
        = API::readDevicesList(json("{'devices_list':[" + entry + "]}"));
    QCOMPARE(devices.size(), listed ? 1 : 0);
}

// Entries keep the order, the case and the duplicates the server sent.
void TestApiMessages::devicesListKeepsWhatWasSent()
{
    const QList<API::SServerDeviceInfo> devices
        = API::readDevicesList(json("{'devices_list':["
                                    "{'devEui':'bb01','devName':'Meter','OTAA':{'appEui':'aa01'}},"
                                    "{'devEui':'BB02','devName':'','OTAA':{'appEui':'AA02'}},"
                                    "{'devEui':'BB02','devName':'','OTAA':{'appEui':'AA02'}}]}"));
    QCOMPARE(devEuisOf(devices), QStringList({"bb01", "BB02", "BB02"}));
    QCOMPARE(devices.at(0).appEui, QString("aa01"));
    QCOMPARE(devices.at(0).devName, QString("Meter"));
}

QTEST_GUILESS_MAIN(TestApiMessages)
#include "tst_apimessages.moc"
