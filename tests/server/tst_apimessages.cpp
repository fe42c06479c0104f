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
} // namespace

class TestApiMessages : public QObject
{
    Q_OBJECT
private slots:
    void uplinkFields_data();
    void uplinkFields();
    void uplinkWithoutApplicationData_data();
    void uplinkWithoutApplicationData();
    void devicesListEntry_data();
    void devicesListEntry();
};

// The fields the decoder reads.
void TestApiMessages::uplinkFields_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("devEui");
    QTest::addColumn<quint64>("ts");
    QTest::addColumn<QString>("gatewayId");
    QTest::addColumn<quint32>("fcnt");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<qint16>("rssi");
    QTest::addColumn<double>("snr");

    QTest::newRow("joined type, lower-case EUI, two gateways")
        << QByteArray("{'type':'UNCONF_UP+MAC_LINKCHECK_REQ','devEui':'00aa11bb22cc33dd',"
                      "'ts':1700000000123,'gatewayId':'ab01cd02+ef03','fcnt':17,'data':'0aff',"
                      "'rssi':-70,'snr':-7.5}")
        << "00AA11BB22CC33DD" << quint64(1700000000123) << "AB01CD02" << quint32(17)
        << QByteArray::fromHex("0aff") << qint16(-70) << -7.5;
    QTest::newRow("numbers as decimal strings, non-hex characters skipped")
        << QByteArray("{'type':'CONF_UP','devEui':'a1','ts':'1700000000123','fcnt':'17',"
                      "'data':'0a:F f-zz01'}")
        << "A1" << quint64(1700000000123) << "" << quint32(17) << QByteArray::fromHex("0aff01")
        << qint16(0) << 0.0;
    QTest::newRow("non-decimal strings and texts for small numbers give 0")
        << QByteArray("{'type':'UNCONF_UP','devEui':'a1','ts':'12x','fcnt':'-1','rssi':'-70',"
                      "'snr':'1.5','data':'01'}")
        << "A1" << quint64(0) << "" << quint32(0) << QByteArray("\x01") << qint16(0) << 0.0;
}

void TestApiMessages::uplinkFields()
{
    QFETCH(QByteArray, record);

    const API::SApiDeviceData uplink = API::readUplink(json(record));
    QVERIFY(uplink.valid);
    QTEST(uplink.devEui, "devEui");
    QTEST(uplink.ts, "ts");
    QTEST(uplink.gatewayId, "gatewayId");
    QTEST(uplink.fcnt, "fcnt");
    QTEST(uplink.data, "data");
    QTEST(uplink.rssi, "rssi");
    QTEST(uplink.snr, "snr");
}

void TestApiMessages::uplinkWithoutApplicationData_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("console"); // empty: nothing is written

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

void TestApiMessages::devicesListEntry_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("listed");

    QTest::newRow("complete") << QByteArray("{'devEui':'b1','devName':'','OTAA':{'appEui':'a1'}}")
                              << true;
    QTest::newRow("no OTAA") << QByteArray("{'devEui':'b1','devName':'M'}") << false;
    QTest::newRow("empty OTAA") << QByteArray("{'devEui':'b1','devName':'M','OTAA':{}}") << false;
    QTest::newRow("no name, application EUI given")
        << QByteArray("{'devEui':'b1','OTAA':{'appEui':'a1'}}") << false;
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

QTEST_GUILESS_MAIN(TestApiMessages)
#include "tst_apimessages.moc"
