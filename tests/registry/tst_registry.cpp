#include "modbustestfixture.h"

#include "calldevicehandler.h"
#include "cdevicehandler.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace ModbusTest;

namespace {
// A port held by another program is tried again every 10 s.
const int PORT_RETRY_WAIT_MS = CDeviceHandler::LISTEN_RETRY_MS + WAIT_MS;

// A template whose packet 01 carries an 8-bit count stored in register 0.
QByteArray templateJson(const QString& appEui, const QString& devType)
{
    return QString(R"({"app_eui": "%1", "dev_type": "%2", "device_packets": [{"packet_type": 1,
        "packet_size": 2, "packet_fields": [{"packet_bias": 1, "data_bit_bias": 0,
        "data_bit_size": 8, "data_type": "uinteger", "reg_map_bias": 0, "reg_bit_bias": 0,
        "reg_bit_size": 16, "data_name": "Count"}]}]})")
        .arg(appEui, devType)
        .toUtf8();
}
} // namespace

// The registry started with a device folder of a good and a duplicate template file,
// then opening and closing devices. Every device test uses EUIs and ports of its own and removes
// its devices again.
class tst_Registry : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void firstFileByNameWinsADuplicateAppEui();
    void portClosesWithTheLastDeviceOnIt();
    void freedPortIsRetriedOnlyForDevicesStillOnIt();

private:
    QTemporaryDir dir;
    CAllDeviceHandler* registry = nullptr;
};

void tst_Registry::initTestCase()
{
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(QDir().mkpath("deviceFolder"));
    const QList<QPair<QString, QByteArray>> files = {
        {"a_first.json", templateJson("a1b2c3d4e5f60708", "First")},
        {"b_duplicate.json", templateJson("A1B2C3D4E5F60708", "Second")},
    };
    for (const auto& file : files) {
        QFile out("deviceFolder/" + file.first);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(file.second), qint64(file.second.size()));
    }
    logged(QString()); // starts listening to the history log
    QVERIFY(CDataBaseHandler::getInstance()->init(dir.filePath("server.db")));
    registry = CAllDeviceHandler::getInstance();
    registry->init(dir.filePath("deviceFolder"), CDataBaseHandler::getInstance());
}

void tst_Registry::firstFileByNameWinsADuplicateAppEui()
{
    QCOMPARE(registry->getDeviceTemplates().value("A1B2C3D4E5F60708").devType, QString("First"));
    QTRY_COMPARE_WITH_TIMEOUT(logged("Device [A1B2C3D4E5F60708] inited SUCCESSULLY"), 1, WAIT_MS);
    QCOMPARE(logged("Device [A1B2C3D4E5F60708] already inited. Skip"), 1);
}

// The port is free at once, not only once the listener is deleted, so it can be reopened straight
// away.
void tst_Registry::portClosesWithTheLastDeviceOnIt()
{
    const quint16 port = freePort();
    QVERIFY(registry->addNewDevice(device("A200000000000001", port)));
    QVERIFY(registry->addNewDevice(device("A200000000000002", port)));
    std::unique_ptr<QTcpSocket> master = connectTo(port);
    QVERIFY(master);

    registry->removeDevice("A200000000000001");
    QVERIFY(connectTo(port));
    QCOMPARE(master->state(), QAbstractSocket::ConnectedState);
    registry->removeDevice("A200000000000002");
    QVERIFY(!connectTo(port));
    QTRY_COMPARE_WITH_TIMEOUT(master->state(), QAbstractSocket::UnconnectedState, WAIT_MS);
}

// Only waiting for a retry proves that a removed device's port is no longer tried. Its listener
// is made first: retries of equal interval come in the order they were started.
void tst_Registry::freedPortIsRetriedOnlyForDevicesStillOnIt()
{
    QTcpServer removedOccupant, keptOccupant;
    QVERIFY(removedOccupant.listen(QHostAddress::Any));
    QVERIFY(keptOccupant.listen(QHostAddress::Any));
    const quint16 removedPort = removedOccupant.serverPort();
    const quint16 keptPort = keptOccupant.serverPort();
    registry->addNewDevice(device("B300000000000001", removedPort));
    registry->addNewDevice(device("B300000000000002", keptPort));
    registry->removeDevice("B300000000000001");
    removedOccupant.close();
    keptOccupant.close();

    QTRY_COMPARE_WITH_TIMEOUT(
        logged(QString("INFO: [CDeviceHandler::listenSlot] port [%1] is opened").arg(keptPort)), 1,
        PORT_RETRY_WAIT_MS);
    QVERIFY(connectTo(keptPort));
    QVERIFY(!connectTo(removedPort));
    registry->removeDevice("B300000000000002");
}

QTEST_GUILESS_MAIN(tst_Registry)
#include "tst_registry.moc"
