#include "../modbus/modbustestfixture.h"

#include "app/clogfile.h"
#include "devices/calldevicehandler.h"

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace ModbusTest;

namespace {
const int WAIT_MS = 5000;

DB::SDeviceRegMapDescription device(const QString& devEui, quint16 port)
{
    DB::SDeviceRegMapDescription description;
    description.devEui = devEui;
    description.appEui = "0102030405060708";
    description.port = port;
    return description;
}

bool portAccepts(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(WAIT_MS);
}
} // namespace

// The registry started in a working directory without a device folder: device and port
// bookkeeping, and uplinks of devices without a template.
class tst_RegistryDevices : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void devicesShareOnePort();
    void sameDeviceTwice();
    void deviceMovesToAnotherPort();
    void removeUnknownDevice();
    void portInUse();
    void uplinks();

private:
    QTemporaryDir dir;
    std::unique_ptr<QSignalSpy> logSpy;
    CAllDeviceHandler* registry = nullptr;
};

void tst_RegistryDevices::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path()));
    logSpy = std::make_unique<QSignalSpy>(
        CLogFile::getInstance(QString(), QString()), &CLogFile::addLogSignal);
    QVERIFY(openDatabase(dir.filePath("server.db")));

    QTest::ignoreMessage(
        QtDebugMsg, "[CAllDeviceHandler::init] Directory with device signature is not existed");
    registry = CAllDeviceHandler::getInstance();
    QVERIFY(registry->getDeviceTemplates().isEmpty());
    QVERIFY(registry->getTemplateInfo().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(
        logged(*logSpy, "Directory with device signature is not existed"), WAIT_MS);
}

void tst_RegistryDevices::devicesShareOnePort()
{
    const quint16 port = freePort();
    QVERIFY(registry->addNewDevice(device("AA00000000000001", port)));
    QVERIFY(registry->addNewDevice(device("AA00000000000002", port)));
    QTRY_VERIFY_WITH_TIMEOUT(
        logged(*logSpy,
            QString("INFO: [CAllDeviceHandler::addNewDevice] port [%1] is already open").arg(port)),
        WAIT_MS);
    QVERIFY(portAccepts(port));

    QTest::ignoreMessage(QtDebugMsg,
        qPrintable(QString("[CAllDeviceHandler::removeDevice] Delete device: "
                           "DevEUI[AA00000000000001], port[%1]")
                       .arg(port)));
    registry->removeDevice("AA00000000000001");
    QVERIFY(portAccepts(port));
    registry->removeDevice("AA00000000000002");
    QVERIFY(!portAccepts(port));

    // The port can be opened again straight away.
    QVERIFY(registry->addNewDevice(device("AA00000000000003", port)));
    QVERIFY(portAccepts(port));
    registry->removeDevice("AA00000000000003");
}

void tst_RegistryDevices::sameDeviceTwice()
{
    const quint16 port = freePort();
    QVERIFY(registry->addNewDevice(device("BB00000000000001", port)));
    QTest::ignoreMessage(
        QtDebugMsg, "[CDeviceHandler::appendDevice] Device [BB00000000000001] already exist!");
    QVERIFY(registry->addNewDevice(device("BB00000000000001", port)));

    // One entry only: a single removal closes the port.
    registry->removeDevice("BB00000000000001");
    QVERIFY(!portAccepts(port));
}

void tst_RegistryDevices::deviceMovesToAnotherPort()
{
    const quint16 oldPort = freePort();
    QVERIFY(registry->addNewDevice(device("CC00000000000001", oldPort)));
    const quint16 newPort = freePort();
    QVERIFY(registry->addNewDevice(device("CC00000000000001", newPort)));
    QVERIFY(!portAccepts(oldPort));
    QVERIFY(portAccepts(newPort));
    registry->removeDevice("CC00000000000001");
    QVERIFY(!portAccepts(newPort));
}

void tst_RegistryDevices::removeUnknownDevice()
{
    const quint16 port = freePort();
    QVERIFY(registry->addNewDevice(device("DD00000000000001", port)));
    registry->removeDevice("dd00000000000001"); // EUIs are not case-folded
    QTRY_VERIFY_WITH_TIMEOUT(logged(*logSpy,
                                 "WARNING: [CAllDeviceHandler::removeDevice] device "
                                 "not found [dd00000000000001]!"),
        WAIT_MS);
    QVERIFY(portAccepts(port));
    registry->removeDevice("DD00000000000001");
}

void tst_RegistryDevices::portInUse()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    const quint16 port = occupant.serverPort();

    QVERIFY(!registry->addNewDevice(device("EE00000000000001", port)));
    QTRY_VERIFY_WITH_TIMEOUT(
        logged(*logSpy,
            QString("ERROR: [CAllDeviceHandler::addNewDevice] port [%1] is not "
                    "opened: ")
                .arg(port)),
        WAIT_MS);
    QVERIFY(logged(*logSpy, "address is already in use"));

    // The refused device was not kept.
    registry->removeDevice("EE00000000000001");
    QTRY_VERIFY_WITH_TIMEOUT(logged(*logSpy, "device not found [EE00000000000001]"), WAIT_MS);

    occupant.close();
    QVERIFY(registry->addNewDevice(device("EE00000000000001", port)));
    QVERIFY(portAccepts(port));
    registry->removeDevice("EE00000000000001");
}

void tst_RegistryDevices::uplinks()
{
    const quint16 port = freePort();
    QVERIFY(registerDevice("FF00000000000001", port, 0, {{0, 16}}));
    QVERIFY(registry->addNewDevice(device("FF00000000000001", port)));
    QSignalSpy newData(registry, &CAllDeviceHandler::newDataForDevice);

    API::SApiDeviceData uplink;
    uplink.devEui = "FF00000000000001";
    uplink.data = QByteArray::fromHex("0112");
    registry->newPacketReceivedSlot(uplink);
    QTRY_VERIFY_WITH_TIMEOUT(
        logged(*logSpy, "WARNING: [CAllDeviceHandler::processDataSlot] Unknown packet type [01]"),
        WAIT_MS);

    // A device that is not configured is dropped without a word.
    const int entries = logSpy->count();
    uplink.devEui = "FF00000000000002";
    registry->newPacketReceivedSlot(uplink);
    QCoreApplication::processEvents();
    QCOMPARE(logSpy->count(), entries);
    QCOMPARE(newData.count(), 0);
    registry->removeDevice("FF00000000000001");
}

QTEST_GUILESS_MAIN(tst_RegistryDevices)
#include "tst_registrydevices.moc"
