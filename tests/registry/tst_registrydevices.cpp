#include "modbustestfixture.h"

#include "calldevicehandler.h"

#include <QDir>
#include <QTemporaryDir>

using namespace ModbusTest;

// The registry started in a working directory without a device folder: devices and their ports.
class tst_RegistryDevices : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void devicesShareOnePort();
    void sameAndUnknownDevice();
    void portInUse();

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
    QVERIFY(registry->getDeviceTemplates().isEmpty() && registry->getTemplateInfo().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(logged("Directory with device signature is not existed"), 1, WAIT_MS);
}

void tst_RegistryDevices::devicesShareOnePort()
{
    const quint16 port = freePort();
    QVERIFY(registry->addNewDevice(device("AA00000000000001", port)));
    QVERIFY(registry->addNewDevice(device("AA00000000000002", port)));
    const QString shared
        = QString("INFO: [CAllDeviceHandler::addNewDevice] port [%1] is already open").arg(port);
    QTRY_COMPARE_WITH_TIMEOUT(logged(shared), 1, WAIT_MS);
    std::unique_ptr<QTcpSocket> master = connectTo(port);
    QVERIFY(master);

    registry->removeDevice("AA00000000000001");
    QVERIFY(connectTo(port));
    QCOMPARE(master->state(), QAbstractSocket::ConnectedState);
    // The last device closes the port and the connections on it.
    registry->removeDevice("AA00000000000002");
    QVERIFY(!connectTo(port));
    QTRY_COMPARE_WITH_TIMEOUT(master->state(), QAbstractSocket::UnconnectedState, WAIT_MS);

    // The port can be opened again straight away.
    QVERIFY(registry->addNewDevice(device("AA00000000000003", port)));
    QVERIFY(connectTo(port));
    registry->removeDevice("AA00000000000003");
}

void tst_RegistryDevices::sameAndUnknownDevice()
{
    // Added twice on one port, the device is kept once; added on another port, it moves there.
    const quint16 oldPort = freePort();
    QVERIFY(registry->addNewDevice(device("BB00000000000001", oldPort)));
    QVERIFY(registry->addNewDevice(device("BB00000000000001", oldPort)));
    const quint16 newPort = freePort(); // the old port is taken: this one differs
    QVERIFY(registry->addNewDevice(device("BB00000000000001", newPort)));
    QVERIFY(!connectTo(oldPort));
    // Removing an unknown EUI (they are not case-folded) leaves the device in place.
    registry->removeDevice("bb00000000000001");
    QTRY_COMPARE_WITH_TIMEOUT(
        logged("WARNING: [CAllDeviceHandler::removeDevice] device not found [bb00000000000001]!"),
        1, WAIT_MS);
    QVERIFY(connectTo(newPort));
    registry->removeDevice("BB00000000000001");
    QVERIFY(!connectTo(newPort));
}

void tst_RegistryDevices::portInUse()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    const quint16 port = occupant.serverPort();
    QVERIFY(!registry->addNewDevice(device("EE00000000000001", port)));
    const QString refused = QString("ERROR: [CAllDeviceHandler::addNewDevice] port [%1] is not "
                                    "opened: The bound address is already in use")
                                .arg(port);
    QTRY_COMPARE_WITH_TIMEOUT(logged(refused), 1, WAIT_MS);

    // The refused device was not kept; once the port is free it can be added.
    registry->removeDevice("EE00000000000001");
    QTRY_COMPARE_WITH_TIMEOUT(logged("device not found [EE00000000000001]"), 1, WAIT_MS);
    occupant.close();
    QVERIFY(registry->addNewDevice(device("EE00000000000001", port)));
    QVERIFY(connectTo(port));
    registry->removeDevice("EE00000000000001");
}

QTEST_GUILESS_MAIN(tst_RegistryDevices)
#include "tst_registrydevices.moc"
