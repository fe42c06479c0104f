#include "cfakenetworkserver.h"
#include "freeport.h"
#include "sensorfixture.h"
#include "tarvexprocess.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace SensorFixture;

namespace {
// A port held at start-up is tried again every 10 s.
const int PORT_RETRY_WAIT_MS = 15000;
const quint16 BATTERY = 0x0bb8;
} // namespace

// The service run as an operator runs it, fed by a network server, read by a Modbus master.
class TestUplink : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void uplinkReachesAModbusMaster();
    void uplinkOfDeviceOnTakenPortIsStored();
    void takenPortServesOnceFreed();

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<CFakeNetworkServer> networkServer;
    std::unique_ptr<TarvexProcess> tarvex;
};

void TestUplink::init()
{
    dir = std::make_unique<QTemporaryDir>();
    networkServer = std::make_unique<CFakeNetworkServer>();
    QVERIFY(networkServer->listen());
    tarvex = std::make_unique<TarvexProcess>(dir->path());
    tarvex->writeSettings(serverSettings(networkServer->url()));
}

void TestUplink::cleanup()
{
    tarvex.reset();
    networkServer.reset();
    dir.reset();
}

void TestUplink::uplinkReachesAModbusMaster()
{
    const quint16 modbusPort = freePort();
    QVERIFY(prepare(dir->path(), modbusPort));
    QVERIFY(tarvex->start());
    QTRY_COMPARE_WITH_TIMEOUT(networkServer->received("auth_req").size(), 1, WAIT_MS);
    // The service reads a device's registers as zeros until an uplink arrives.
    QTRY_COMPARE_WITH_TIMEOUT(
        readRegisters(modbusPort), QVector<quint16>(REGISTER_COUNT, 0), WAIT_MS);

    networkServer->pushRx(uplink(BATTERY));
    QTRY_COMPARE_WITH_TIMEOUT(readRegisters(modbusPort), registersAfterUplink(BATTERY), WAIT_MS);
}

void TestUplink::uplinkOfDeviceOnTakenPortIsStored()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any));
    QVERIFY(prepare(dir->path(), occupant.serverPort()));
    QVERIFY(tarvex->start());
    QTRY_COMPARE_WITH_TIMEOUT(networkServer->received("auth_req").size(), 1, WAIT_MS);

    networkServer->pushRx(uplink(BATTERY));
    QTRY_COMPARE_WITH_TIMEOUT(
        storedFullValue(dir->filePath("server.db"), 6), QString("0bb8"), WAIT_MS);
}

void TestUplink::takenPortServesOnceFreed()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any));
    const quint16 modbusPort = occupant.serverPort();
    QVERIFY(prepare(dir->path(), modbusPort));
    QVERIFY(tarvex->start());
    QTRY_COMPARE_WITH_TIMEOUT(networkServer->received("auth_req").size(), 1, WAIT_MS);
    networkServer->pushRx(uplink(BATTERY));

    occupant.close();
    QTRY_COMPARE_WITH_TIMEOUT(
        readRegisters(modbusPort), registersAfterUplink(BATTERY), PORT_RETRY_WAIT_MS);
}

QTEST_GUILESS_MAIN(TestUplink)
#include "tst_uplink.moc"
