#include "modbustestfixture.h"

#include "calldevicehandler.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>

using namespace ModbusTest;

namespace {
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

API::SApiDeviceData uplink(const QString& devEui, quint8 count)
{
    API::SApiDeviceData data;
    data.devEui = devEui;
    data.data = QByteArray::fromHex("01") + char(count);
    return data;
}

// Register 0 of the port as one Modbus master reads it, or -1 without an answer.
int readRegisterZero(quint16 port)
{
    std::unique_ptr<QTcpSocket> master = connectTo(port);
    if (!master)
        return -1;
    master->write(QByteArray::fromHex("000100000006010300000001"));
    // The listener answers in this thread: wait with its events running.
    if (!QTest::qWaitFor([&master] { return master->bytesAvailable() >= 11; }, WAIT_MS))
        return -1;
    const QByteArray answer = master->readAll();
    return (quint8(answer.at(9)) << 8) | quint8(answer.at(10));
}
} // namespace

// The registry started with a device folder of a good and a duplicate template file and the
// database in a thread of its own, as the service runs them; then opening and closing devices.
// Every device test uses EUIs and ports of its own and removes its devices again.
class tst_Registry : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void firstFileByNameWinsADuplicateAppEui();
    void portClosesWithTheLastDeviceOnIt();
    void modbusIsAnsweredWhileUplinksWait();
    void cleanupTestCase();

private:
    QTemporaryDir dir;
    QThread databaseThread;
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
    CDataBaseHandler::getInstance()->moveToThread(&databaseThread);
    databaseThread.start();
    registry = CAllDeviceHandler::getInstance();
    registry->init(dir.filePath("deviceFolder"), CDataBaseHandler::getInstance());
}

void tst_Registry::cleanupTestCase()
{
    databaseThread.quit();
    databaseThread.wait();
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

// A master is answered from the stored values while the database thread is held up with a full
// backlog of uplinks; uplinks beyond the backlog are dropped and counted, the rest are stored.
void tst_Registry::modbusIsAnsweredWhileUplinksWait()
{
    const int queued = CAllDeviceHandler::MAX_UPLINK_BACKLOG;
    const int extra = 5;
    const quint16 port = freePort();
    DB::SDeviceRegMapDescription counter = device("C400000000000001", port, {{0, 16}});
    counter.appEui = "A1B2C3D4E5F60708";
    QString errorText;
    QVERIFY2(CDataBaseHandler::getInstance()->registerNewDevice(counter, errorText),
        qPrintable(errorText));
    QVERIFY(registry->addNewDevice(counter));
    registry->newPacketReceivedSlot(uplink(counter.devEui, 7));
    QTRY_COMPARE_WITH_TIMEOUT(readRegisterZero(port), 7, WAIT_MS);

    QSemaphore gate;
    QMetaObject::invokeMethod(CDataBaseHandler::getInstance(), [&gate] { gate.acquire(); });
    for (int i = 1; i <= queued + extra; ++i)
        registry->newPacketReceivedSlot(uplink(counter.devEui, quint8(i)));
    QCOMPARE(readRegisterZero(port), 7);
    QCOMPARE(logged("uplinks wait to be stored"), 1);

    gate.release();
    QTRY_COMPARE_WITH_TIMEOUT(
        logged(QString("%1 uplinks were dropped while the backlog was full").arg(extra)), 1,
        10 * WAIT_MS);
    QCOMPARE(readRegisterZero(port), int(quint8(queued)));
    registry->removeDevice(counter.devEui);
}

QTEST_GUILESS_MAIN(tst_Registry)
#include "tst_registry.moc"
