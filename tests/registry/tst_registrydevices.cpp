#include "modbustestfixture.h"

#include "calldevicehandler.h"
#include "cconsolecatcher.h"
#include "cdevicehandler.h"

#include <QDir>
#include <QTemporaryDir>

using namespace ModbusTest;

namespace {
// A port held at start-up is tried again every 10 s.
const int PORT_RETRY_WAIT_MS = CDeviceHandler::LISTEN_RETRY_MS + WAIT_MS;
} // namespace

// The registry started in a working directory without a device folder: devices and their ports.
// Every test uses device EUIs and ports of its own and removes its devices again.
class tst_RegistryDevices : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void missingFolderLeavesNoTemplates();
    void devicesOnOnePortShareItsListener();
    void removingOneDeviceKeepsTheSharedPortOpen();
    void removingTheLastDeviceClosesThePortAndItsConnections();
    void closedPortCanBeOpenedAgainAtOnce();
    void deviceAddedTwiceOnOnePortIsKeptOnce();
    void deviceAddedOnAnotherPortMovesThere();
    void removingAnUnknownDeviceOnlyWarns_data();
    void removingAnUnknownDeviceOnlyWarns();
    void deviceOnTakenPortIsReported();
    void deviceOnTakenPortStaysRegistered();
    void takenPortListensOnceFreed();
    void removingTheDeviceStopsRetryingItsPort();

private:
    QTemporaryDir dir;
    CAllDeviceHandler* registry = nullptr;
};

void tst_RegistryDevices::initTestCase()
{
    QVERIFY(QDir::setCurrent(dir.path()));
    logged(QString()); // starts listening to the history log
    QVERIFY(CDataBaseHandler::getInstance()->init(dir.filePath("server.db")));
    registry = CAllDeviceHandler::getInstance();
    registry->init(dir.filePath("deviceFolder"), CDataBaseHandler::getInstance());
}

void tst_RegistryDevices::missingFolderLeavesNoTemplates()
{
    QTRY_COMPARE_WITH_TIMEOUT(
        logged("[CAllDeviceHandler::init] Directory with device signature is not existed"), 1,
        WAIT_MS);
    QCOMPARE(registry->getDeviceTemplates().size(), 0);
    QCOMPARE(registry->getTemplateInfo().size(), 0);
}

void tst_RegistryDevices::devicesOnOnePortShareItsListener()
{
    const quint16 port = freePort();
    QVERIFY(registry->addNewDevice(device("A100000000000001", port)));
    QVERIFY(registry->addNewDevice(device("A100000000000002", port)));
    QTRY_COMPARE_WITH_TIMEOUT(
        logged(
            QString("INFO: [CAllDeviceHandler::addNewDevice] port [%1] is already open").arg(port)),
        1, WAIT_MS);
    registry->removeDevice("A100000000000001");
    registry->removeDevice("A100000000000002");
}

void tst_RegistryDevices::removingOneDeviceKeepsTheSharedPortOpen()
{
    const quint16 port = freePort();
    registry->addNewDevice(device("A200000000000001", port));
    registry->addNewDevice(device("A200000000000002", port));
    std::unique_ptr<QTcpSocket> master = connectTo(port);
    QVERIFY(master);

    registry->removeDevice("A200000000000001");
    QVERIFY(connectTo(port));
    QCOMPARE(master->state(), QAbstractSocket::ConnectedState);
    registry->removeDevice("A200000000000002");
}

void tst_RegistryDevices::removingTheLastDeviceClosesThePortAndItsConnections()
{
    const quint16 port = freePort();
    registry->addNewDevice(device("A300000000000001", port));
    std::unique_ptr<QTcpSocket> master = connectTo(port);
    QVERIFY(master);

    registry->removeDevice("A300000000000001");
    QVERIFY(!connectTo(port));
    QTRY_COMPARE_WITH_TIMEOUT(master->state(), QAbstractSocket::UnconnectedState, WAIT_MS);
}

void tst_RegistryDevices::closedPortCanBeOpenedAgainAtOnce()
{
    const quint16 port = freePort();
    registry->addNewDevice(device("A400000000000001", port));
    registry->removeDevice("A400000000000001");

    QVERIFY(registry->addNewDevice(device("A400000000000002", port)));
    QVERIFY(connectTo(port));
    registry->removeDevice("A400000000000002");
}

void tst_RegistryDevices::deviceAddedTwiceOnOnePortIsKeptOnce()
{
    const quint16 port = freePort();
    CConsoleCatcher console;
    registry->addNewDevice(device("A500000000000001", port));
    registry->addNewDevice(device("A500000000000001", port));
    QCOMPARE(
        console.count("[CDeviceHandler::appendDevice] Device [A500000000000001] already exist!"),
        1);
    // Kept once, so one removal closes the port.
    registry->removeDevice("A500000000000001");
    QVERIFY(!connectTo(port));
}

void tst_RegistryDevices::deviceAddedOnAnotherPortMovesThere()
{
    const quint16 oldPort = freePort();
    registry->addNewDevice(device("A600000000000001", oldPort));
    const quint16 newPort = freePort(); // the old port is taken: this one differs
    QVERIFY(registry->addNewDevice(device("A600000000000001", newPort)));
    QVERIFY(!connectTo(oldPort));
    QVERIFY(connectTo(newPort));
    registry->removeDevice("A600000000000001");
}

void tst_RegistryDevices::removingAnUnknownDeviceOnlyWarns_data()
{
    QTest::addColumn<QString>("removedEui");

    QTest::newRow("never added") << "A7000000000000FF";
    QTest::newRow("added one in other letter case") << "a700000000000001";
}

void tst_RegistryDevices::removingAnUnknownDeviceOnlyWarns()
{
    QFETCH(QString, removedEui);

    const quint16 port = freePort();
    registry->addNewDevice(device("A700000000000001", port));
    const QString warning
        = QString("WARNING: [CAllDeviceHandler::removeDevice] device not found [%1]!")
              .arg(removedEui);
    const int warnings = logged(warning);
    registry->removeDevice(removedEui);
    QTRY_COMPARE_WITH_TIMEOUT(logged(warning), warnings + 1, WAIT_MS);
    QVERIFY(connectTo(port));
    registry->removeDevice("A700000000000001");
}

void tst_RegistryDevices::deviceOnTakenPortIsReported()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any));
    const quint16 port = occupant.serverPort();
    QVERIFY(!registry->addNewDevice(device("B100000000000001", port)));
    QTRY_COMPARE_WITH_TIMEOUT(logged(QString("ERROR: [CAllDeviceHandler::addNewDevice] port [%1] "
                                             "is not opened: The bound address is already in use")
                                         .arg(port)),
        1, WAIT_MS);
    registry->removeDevice("B100000000000001");
}

void tst_RegistryDevices::deviceOnTakenPortStaysRegistered()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any));
    registry->addNewDevice(device("B200000000000001", occupant.serverPort()));
    // Without templates a registered device's uplink is reported as of unknown type.
    const int unknown = logged("Unknown packet type [01]");
    registry->newPacketReceivedSlot(uplink("B200000000000001", "0102"));
    QTRY_COMPARE_WITH_TIMEOUT(logged("Unknown packet type [01]"), unknown + 1, WAIT_MS);
    registry->removeDevice("B200000000000001");
}

void tst_RegistryDevices::takenPortListensOnceFreed()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any));
    const quint16 port = occupant.serverPort();
    registry->addNewDevice(device("B300000000000001", port));

    occupant.close();
    QTRY_VERIFY_WITH_TIMEOUT(connectTo(port), PORT_RETRY_WAIT_MS);
    QTRY_COMPARE_WITH_TIMEOUT(
        logged(QString("INFO: [CDeviceHandler::listenSlot] port [%1] is opened").arg(port)), 1,
        WAIT_MS);
    registry->removeDevice("B300000000000001");
}

void tst_RegistryDevices::removingTheDeviceStopsRetryingItsPort()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any));
    const quint16 port = occupant.serverPort();
    registry->addNewDevice(device("B400000000000001", port));
    registry->removeDevice("B400000000000001");
    occupant.close();

    // Nothing to wait for: the port must stay closed past the time a retry would open it.
    QTest::qWait(PORT_RETRY_WAIT_MS);
    QVERIFY(!connectTo(port));
}

QTEST_GUILESS_MAIN(tst_RegistryDevices)
#include "tst_registrydevices.moc"
