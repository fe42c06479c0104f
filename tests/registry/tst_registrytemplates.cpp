#include "../modbus/modbustestfixture.h"

#include "app/clogfile.h"
#include "db/cdatabasehandler.h"
#include "devices/calldevicehandler.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>

using namespace ModbusTest;

namespace {
const int WAIT_MS = 5000;

// One packet: type 1, five bytes, a little-endian 32-bit value in registers 2 and 3; the RSSI
// of the uplink goes to register 0.
QByteArray templateJson(const QString& appEui, const QString& devType)
{
    return QString(R"({
    "app_eui": "%1",
    "dev_type": "%2",
    "server_data": [
        {"data_code": "rssi", "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 16,
         "data_name": "RSSI"}
    ],
    "device_packets": [
        {"packet_type": 1, "packet_size": 5, "packet_fields": [
            {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 32, "data_type": "uinteger",
             "endianness": "le", "reg_map_bias": 2, "reg_bit_bias": 0, "reg_bit_size": 32,
             "data_name": "Counter"}
        ]}
    ]
})")
        .arg(appEui, devType)
        .toUtf8();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readRegisters(quint16 port, quint16 start, quint16 count)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    if (!client.waitForConnected(WAIT_MS))
        return QByteArray();
    client.write(readRequest(1, 1, 3, start, count));
    QByteArray answer;
    QElapsedTimer timer;
    timer.start();
    while (answer.size() < 9 + 2 * count && timer.elapsed() < WAIT_MS) {
        QTest::qWait(1);
        answer += client.readAll();
    }
    return answer.mid(9);
}
} // namespace

// The registry started with a device folder holding good, duplicate and broken templates.
class tst_RegistryTemplates : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void loading();
    void uplinkReachesModbus();

private:
    QTemporaryDir dir;
    std::unique_ptr<QSignalSpy> logSpy;
    QThread databaseThread;
    CAllDeviceHandler* registry = nullptr;
};

void tst_RegistryTemplates::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path()));
    const QString folder = dir.filePath("deviceFolder");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(folder + "/a_first.json", templateJson("a1b2c3d4e5f60708", "First")));
    QVERIFY(writeFile(folder + "/b_duplicate.json", templateJson("A1B2C3D4E5F60708", "Second")));
    QVERIFY(writeFile(folder + "/c_broken.json",
        "{\n    \"app_eui\": \"0000000000000002\",\n    \"dev_type\" \"Broken\"\n}\n"));
    QVERIFY(writeFile(folder + "/d_upper.JSON", templateJson("0000000000000003", "Upper")));
    QVERIFY(writeFile(folder + "/e_array.json", "[1, 2]"));
    QVERIFY(writeFile(folder + "/.hidden.json", templateJson("0000000000000004", "Hidden")));
    QVERIFY(writeFile(folder + "/notes.txt", templateJson("0000000000000005", "Text")));

    logSpy = std::make_unique<QSignalSpy>(
        CLogFile::getInstance(QString(), QString()), &CLogFile::addLogSignal);
    QVERIFY(openDatabase(dir.filePath("server.db")));
    // As in the service: uplinks are handed to the database in a thread of its own.
    CDataBaseHandler::getInstance()->moveToThread(&databaseThread);
    databaseThread.start();

    QTest::ignoreMessage(QtDebugMsg, "Device register templates loaded: 2");
    registry = CAllDeviceHandler::getInstance();
}

void tst_RegistryTemplates::cleanupTestCase()
{
    databaseThread.quit();
    databaseThread.wait();
}

void tst_RegistryTemplates::loading()
{
    const QMap<QString, REGS::SDeviceTemplate> templates = registry->getDeviceTemplates();
    QCOMPARE(templates.keys(), QStringList({"0000000000000003", "A1B2C3D4E5F60708"}));
    QCOMPARE(templates.value("A1B2C3D4E5F60708").devType, QString("First"));

    const QList<REGS::SDeviceTemplateInfo> infos = registry->getTemplateInfo();
    QCOMPARE(infos.size(), 2);
    QCOMPARE(infos.at(0).appEui, QString("0000000000000003"));
    QCOMPARE(infos.at(0).devType, QString("Upper"));
    QCOMPARE(infos.at(1).appEui, QString("A1B2C3D4E5F60708"));

    QTRY_VERIFY_WITH_TIMEOUT(
        logged(*logSpy, "Device [A1B2C3D4E5F60708] already inited. Skip"), WAIT_MS);
    QCOMPARE(countLogged(*logSpy, "Device [A1B2C3D4E5F60708] inited SUCCESSULLY"), 1);
    QVERIFY(logged(*logSpy, "Device [0000000000000003] inited SUCCESSULLY"));
    QVERIFY(logged(*logSpy,
        QString("ERROR: [CAllDeviceHandler] Invalid parsing JSON file [%1]: "
                "error[missing name separator], row[53]")
            .arg(dir.filePath("deviceFolder/c_broken.json"))));
    QVERIFY(!logged(*logSpy, "0000000000000004"));
    QVERIFY(!logged(*logSpy, "0000000000000005"));
}

void tst_RegistryTemplates::uplinkReachesModbus()
{
    const quint16 port = freePort();
    const QString devEui = "1100000000000001";
    QVERIFY(registerDevice(devEui, port, 100, {{0, 16}, {2, 32}}));
    DB::SDeviceRegMapDescription device;
    device.devEui = devEui;
    device.appEui = "A1B2C3D4E5F60708";
    device.startAddr = 100;
    device.port = port;
    QVERIFY(registry->addNewDevice(device));
    QSignalSpy newData(registry, &CAllDeviceHandler::newDataForDevice);

    API::SApiDeviceData uplink;
    uplink.devEui = devEui;
    uplink.rssi = -70;
    uplink.data = QByteArray::fromHex("0139300000");
    registry->newPacketReceivedSlot(uplink);
    QCOMPARE(newData.count(), 1);
    QCOMPARE(newData.at(0).at(0).toString(), devEui);
    QCOMPARE(readRegisters(port, 100, 4).toHex(), QByteArray("ffba000000003039"));

    // A payload of the wrong size stores nothing.
    uplink.rssi = -1;
    uplink.data = QByteArray::fromHex("013930000000");
    registry->newPacketReceivedSlot(uplink);
    QCOMPARE(newData.count(), 1);
    QCOMPARE(readRegisters(port, 100, 4).toHex(), QByteArray("ffba000000003039"));
    registry->removeDevice(devEui);
}

QTEST_GUILESS_MAIN(tst_RegistryTemplates)
#include "tst_registrytemplates.moc"
