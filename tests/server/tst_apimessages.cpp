#include "server/apimessages.h"
#include "server/eserverstatus.h"
#include "server/sapidevicedata.h"
#include "tests/support/cconsolecatcher.h"

#include <QJsonDocument>
#include <QtTest>

namespace {
// JSON written with single quotes, which keeps the tables readable.
QByteArray q(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

// The parsed record as one line, so a table row states every field at once.
QString describe(const API::SApiDeviceData& record)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9|%10|%11|%12")
        .arg(record.devEui)
        .arg(record.ts)
        .arg(record.gatewayId)
        .arg(record.ack)
        .arg(record.fcnt)
        .arg(record.port)
        .arg(QString::fromLatin1(record.data.toHex()))
        .arg(record.freq)
        .arg(record.dr)
        .arg(record.rssi)
        .arg(record.snr)
        .arg(record.valid);
}

const QString INVALID_RECORD = QStringLiteral("|0||0|0|0||0|0|0|0|0");
} // namespace

class TestApiMessages : public QObject
{
    Q_OBJECT
private slots:
    void uplinkRecord_data();
    void uplinkRecord();
    void devicesList_data();
    void devicesList();
    void lastUplink_data();
    void lastUplink();
    void outgoingRequests();
    void statusTexts();
};

void TestApiMessages::uplinkRecord_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("console");

    QTest::newRow("joined type, lower-case EUI")
        << q("{'type':'UNCONF_UP+MAC_LINKCHECK_REQ','devEui':'00aa11bb22cc33dd',"
             "'ts':1700000000123,'gatewayId':'ab01cd02+ef03','ack':true,'fcnt':17,"
             "'port':2,'data':'0aff','freq':868100000,'dr':5,'rssi':-70,'snr':-7.5}")
        << "00AA11BB22CC33DD|1700000000123|AB01CD02|1|17|2|0aff|868100000|5|-70|-7.5|1"
        << QString();
    QTest::newRow("confirmed uplink")
        << q("{'type':'CONF_UP','devEui':'A1','data':''}") << "A1|0||0|0|0||0|0|0|0|1" << QString();
    QTest::newRow("numbers as decimal strings")
        << q("{'type':'UNCONF_UP','devEui':'a1','ts':'1700000000123',"
             "'fcnt':'17','freq':'868100000','data':'01'}")
        << "A1|1700000000123||0|17|0|01|868100000|0|0|0|1" << QString();
    QTest::newRow("strings that are not decimal integers")
        << q("{'type':'UNCONF_UP','devEui':'a1','ts':'12x','fcnt':'-1',"
             "'freq':'0x10','data':'01'}")
        << "A1|0||0|0|0|01|0|0|0|0|1" << QString();
    QTest::newRow("fractional or textual small numbers give 0")
        << q("{'type':'UNCONF_UP','devEui':'a1','port':3.5,'dr':'5',"
             "'rssi':'-70','snr':'1.5','ack':'true','data':'01'}")
        << "A1|0||0|0|0|01|0|0|0|0|1" << QString();
    QTest::newRow("port kept in 16 bits")
        << q("{'type':'UNCONF_UP','devEui':'a1','port':65537,'data':'01'}")
        << "A1|0||0|0|1|01|0|0|0|0|1" << QString();
    QTest::newRow("non-hex characters skipped")
        << q("{'type':'UNCONF_UP','devEui':'a1','data':'0a:F f-zz01'}")
        << "A1|0||0|0|0|0aff01|0|0|0|0|1" << QString();
    QTest::newRow("EUI and gateway that are not strings")
        << q("{'type':'UNCONF_UP','devEui':17,'gatewayId':5,'data':'01'}")
        << "|0||0|0|0|01|0|0|0|0|1" << QString();
    QTest::newRow("downlink") << q("{'type':'UNCONF_DOWN','devEui':'a1','data':'01'}")
                              << INVALID_RECORD << QString();
    QTest::newRow("join request") << q("{'type':'JOIN_REQ','devEui':'a1','data':'01'}")
                                  << INVALID_RECORD << QString();
    QTest::newRow("type names are case-sensitive")
        << q("{'type':'conf_up','devEui':'a1','data':'01'}") << INVALID_RECORD << QString();
    QTest::newRow("type is not a string")
        << q("{'type':0,'devEui':'a1','data':'01'}") << INVALID_RECORD << QString();
    QTest::newRow("no data") << q("{'type':'UNCONF_UP','devEui':'a1'}") << INVALID_RECORD
                             << "[SApiDeviceData] DATA is not exist";
    QTest::newRow("no type") << q("{'devEui':'a1','data':'01'}") << INVALID_RECORD
                             << "[SApiDeviceData] Unknown JSON message format!";
    QTest::newRow("empty object") << QByteArray("{}") << INVALID_RECORD << QString();
}

void TestApiMessages::uplinkRecord()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    QFETCH(QString, console);

    const QJsonObject object = QJsonDocument::fromJson(json).object();
    QVERIFY(!json.isEmpty() && (json == "{}" || !object.isEmpty()));
    CConsoleCatcher catcher;
    const API::SApiDeviceData record(object);
    QCOMPARE(describe(record), expected);
    QCOMPARE(catcher.messages(), console.isEmpty() ? QStringList() : QStringList {console});
}

void TestApiMessages::devicesList_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("complete entries keep order and case")
        << q("{'devices_list':["
             "{'devEui':'bb01','devName':'Meter','OTAA':{'appEui':'aa01'}},"
             "{'devEui':'BB02','devName':'','OTAA':{'appEui':'AA02'}}]}")
        << QStringList {"bb01|aa01|Meter", "BB02|AA02|"};
    QTest::newRow("entries without a usable application EUI")
        << q("{'devices_list':["
             "{'devEui':'b1','devName':'no OTAA'},"
             "{'devEui':'b2','devName':'empty OTAA','OTAA':{}},"
             "{'devEui':'b3','devName':'OTAA text','OTAA':'aa'},"
             "{'devEui':'b4','devName':'number','OTAA':{'appEui':12}},"
             "{'devEui':'b5','devName':'kept','OTAA':{'appEui':'a5'}}]}")
        << QStringList {"b5|a5|kept"};
    QTest::newRow("entries without EUI or name") << q("{'devices_list':["
                                                      "{'devName':'no EUI','OTAA':{'appEui':'a1'}},"
                                                      "{'devEui':'b2','OTAA':{'appEui':'a2'}},"
                                                      "'not an object']}")
                                                 << QStringList();
    QTest::newRow("duplicates kept") << q("{'devices_list':["
                                          "{'devEui':'b1','devName':'x','OTAA':{'appEui':'a1'}},"
                                          "{'devEui':'b1','devName':'x','OTAA':{'appEui':'a1'}}]}")
                                     << QStringList {"b1|a1|x", "b1|a1|x"};
    QTest::newRow("no list") << q("{'status':true}") << QStringList();
}

void TestApiMessages::devicesList()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, expected);

    QStringList devices;
    for (const API::SServerDeviceInfo& device :
        API::readDevicesList(QJsonDocument::fromJson(json).object()))
        devices << device.devEui + "|" + device.appEui + "|" + device.devName;
    QCOMPARE(devices, expected);
}

void TestApiMessages::lastUplink_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");

    const QByteArray records = q("'data_list':["
                                 "{'type':'JOIN_REQ','devEui':'other','data':'01'},"
                                 "{'type':'JOIN_ACC','data':'02'},"
                                 "{'type':'UNCONF_UP','devEui':'other','fcnt':3,'data':'03'},"
                                 "{'type':'CONF_UP','fcnt':4,'data':'04'}]");
    QTest::newRow("first uplink after join records")
        << q("{'status':true,'devEui':'00aa',") + records + "}"
        << "00AA|0||0|3|0|03|0|0|0|0|1";
    QTest::newRow("status false") << q("{'status':false,'devEui':'00aa',") + records + "}"
                                  << INVALID_RECORD;
    QTest::newRow("status as text")
        << q("{'status':'true','devEui':'00aa',") + records + "}" << INVALID_RECORD;
    QTest::newRow("no status") << q("{'devEui':'00aa',") + records + "}" << INVALID_RECORD;
    QTest::newRow("no device EUI") << q("{'status':true,") + records + "}" << INVALID_RECORD;
    QTest::newRow("no data list") << q("{'status':true,'devEui':'00aa'}") << INVALID_RECORD;
    QTest::newRow("no uplink in the list")
        << q("{'status':true,'devEui':'00aa','data_list':["
             "{'type':'JOIN_REQ','data':'01'},{'type':'UNCONF_DOWN','data':'02'}]}")
        << INVALID_RECORD;
}

void TestApiMessages::lastUplink()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);

    const QJsonObject response = QJsonDocument::fromJson(json).object();
    QVERIFY(!response.isEmpty());
    QCOMPARE(describe(API::chooseLastUplink(response)), expected);
}

void TestApiMessages::outgoingRequests()
{
    QCOMPARE(API::pingRequest(), QString(q("{'cmd':'ping_req'}")));
    QCOMPARE(API::authRequest("user", "пароль 1"),
        QString(q("{'cmd':'auth_req','login':'user','password':'пароль 1'}")));
    QCOMPARE(API::devicesListRequest(), QString(q("{'cmd':'get_devices_req'}")));
    QCOMPARE(API::deviceDataRequest("00aa11bb"),
        QString(q("{'cmd':'get_data_req','devEui':'00AA11BB',"
                  "'select':{'direction':'UPLINK','limit':10}}")));
}

void TestApiMessages::statusTexts()
{
    const QStringList texts {
        "ONLINE", "PING WAITING", "INVALID PING", "AUTH WAITING", "INVALID AUTH", "DISCONNECTED"};
    for (int status = COMM::ONLINE; status <= COMM::DISCONNECTED; ++status)
        QCOMPARE(COMM::serverStatusText(COMM::EServerStatus(status)), texts.at(status));
}

QTEST_GUILESS_MAIN(TestApiMessages)
#include "tst_apimessages.moc"
