#include "cdatabasehandler.h"
#include "cfakenetworkserver.h"
#include "freeport.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <memory>
#include <modbus.h>
#include <vector>

namespace {
// Bound of every wait for the service, generous for a loaded machine.
const int WAIT_MS = 10000;
// A port held at start-up is tried again every 10 s; its values are served within 15 s of its
// release.
const int PORT_RETRY_WAIT_MS = 15000;
// How long the service may take to stop once told to.
const int STOP_MS = 2000;
const int UPLINK_INTERVAL_MS = 2;
const int BROWSER_COUNT = 5;

// A battery sensor whose uplinks of packet type 01 carry the value in bytes 1-2, which the
// service serves in the device's only register.
const QString DEV_EUI = "1122334455667788";
const int BATTERY_REGISTER = 100;
const quint16 BATTERY = 0x0bb8;
const QByteArray TEMPLATE = R"({"app_eui": "0102030405060708", "dev_type": "Battery sensor",
    "device_packets": [{"packet_type": 1, "packet_size": 3, "packet_fields": [{"packet_bias": 1,
    "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger", "endianness": "be",
    "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "Battery"}]}]})";

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Writes the template into dir's device folder and stores the sensor in dir's server.db.
bool storeSensor(const QDir& dir, quint16 modbusPort)
{
    DB::SDeviceRegMapDescription sensor {
        DEV_EUI, "0102030405060708", "Battery sensor", BATTERY_REGISTER, {}, modbusPort};
    sensor.registers = {{"Battery", 0, 0, 16, "uinteger", 0, 1, {}}};
    QString errorText;
    return dir.mkpath("deviceFolder")
        && writeFile(dir.filePath("deviceFolder/battery.json"), TEMPLATE)
        && CDataBaseHandler::getInstance()->init(dir.filePath("server.db"))
        && CDataBaseHandler::getInstance()->registerNewDevice(sensor, errorText);
}

// The network server's rx record of one uplink of the sensor.
QJsonObject uplink(quint16 battery)
{
    return QJsonObject {{"devEui", DEV_EUI.toLower()}, {"type", "UNCONF_UP"},
        {"data", QString("01%1").arg(battery, 4, 16, QChar('0'))}};
}

// SQLite's verdict on the database file: "ok" when it is intact.
QString integrityCheck(const QString& dbPath)
{
    QString verdict;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "integrity");
        db.setDatabaseName(dbPath);
        QSqlQuery query(db);
        if (db.open() && query.exec("PRAGMA integrity_check") && query.next())
            verdict = query.value(0).toString();
    }
    QSqlDatabase::removeDatabase("integrity");
    return verdict;
}

// The battery register read by a libmodbus master; -1 when the read fails.
int readBattery(quint16 port)
{
    quint16 value = 0;
    modbus_t* context = modbus_new_tcp("127.0.0.1", port);
    const bool read = modbus_connect(context) == 0
        && modbus_read_registers(context, BATTERY_REGISTER, 1, &value) == 1;
    modbus_close(context);
    modbus_free(context);
    return read ? value : -1;
}
} // namespace

// The real executable (path from TARVEX_BINARY) run in a working directory of its own, as an
// operator runs it: started, fed by a network server, read by a Modbus master, stopped by a signal.
class TestService : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void runsWithoutLogFileAndDeviceFolder();
    void logsToTheFileNamedInSettings();
    void exitsWhenTheDatabaseCannotBeOpened();
    void uplinkOnTakenPortIsServedOnceFreed();
    void stopsInOrderDuringUplinks_data();
    void stopsInOrderDuringUplinks();
    void stopsWithBrowsersConnected();

private:
    bool start(const QByteArray& settings);
    bool startServing(quint16 modbusPort);
    QString console() const { return readFile(dir->filePath("console.txt")); }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QProcess> tarvex;
    std::unique_ptr<CFakeNetworkServer> networkServer;
    quint16 webPort = 0;
};

void TestService::init()
{
    dir = std::make_unique<QTemporaryDir>();
    tarvex = std::make_unique<QProcess>();
    tarvex->setWorkingDirectory(dir->path());
    tarvex->setProgram(QString::fromLocal8Bit(qgetenv("TARVEX_BINARY")));
    tarvex->setStandardErrorFile(dir->filePath("console.txt"));
}

void TestService::cleanup()
{
    tarvex->terminate();
    tarvex->waitForFinished(WAIT_MS);
    tarvex.reset(); // kills a service that did not stop
    networkServer.reset();
    dir.reset();
}

bool TestService::start(const QByteArray& settings)
{
    if (!writeFile(dir->filePath("settings.conf"), settings))
        return false;
    tarvex->start();
    return tarvex->waitForStarted(WAIT_MS);
}

// Starts the service with the sensor stored on the Modbus port and the web interface on a free
// loopback port; true once it has logged in to a network server on loopback.
bool TestService::startServing(quint16 modbusPort)
{
    networkServer = std::make_unique<CFakeNetworkServer>();
    webPort = freePort();
    const QString settings = QString("[server]\naddress=%1\nlogin=gateway\npassword=secret\n"
                                     "[webui]\nip=127.0.0.1\nport=%2\n");
    return storeSensor(dir->path(), modbusPort) && networkServer->listen()
        && start(settings.arg(networkServer->url().toString()).arg(webPort).toUtf8())
        && QTest::qWaitFor(
            [this] { return networkServer->received("auth_req").size() == 1; }, WAIT_MS);
}

void TestService::runsWithoutLogFileAndDeviceFolder()
{
    QVERIFY(start(QByteArray()));
    QTRY_VERIFY_WITH_TIMEOUT(
        console().contains("DB has been initialized, file: server.db"), WAIT_MS);
    QVERIFY(console().contains("Tarvex 2.2.1 has started"));
    QVERIFY(console().contains("History log disabled in settings"));
    QCOMPARE(tarvex->state(), QProcess::Running);
    QVERIFY(!QFile::exists(dir->filePath("history.log")));
}

void TestService::logsToTheFileNamedInSettings()
{
    QVERIFY(start("[debug]\nlog=true\nfile=run.log\n"));
    QTRY_VERIFY_WITH_TIMEOUT(readFile(dir->filePath("run.log")).contains("New session"), WAIT_MS);
}

void TestService::exitsWhenTheDatabaseCannotBeOpened()
{
    QVERIFY(start("[db]\nfile=missing/dir/server.db\n"));
    QVERIFY(tarvex->waitForFinished(WAIT_MS));
    QCOMPARE(tarvex->exitStatus(), QProcess::NormalExit);
    QCOMPARE(static_cast<qint8>(tarvex->exitCode()), qint8(-1));
    QVERIFY(!QFile::exists(dir->filePath("missing")));
}

// The port is held by another program at start-up: the uplink is stored all the same and
// served as soon as the port is free.
void TestService::uplinkOnTakenPortIsServedOnceFreed()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any));
    const quint16 modbusPort = occupant.serverPort();
    QVERIFY(startServing(modbusPort));
    networkServer->pushRx(uplink(BATTERY));

    occupant.close();
    QTRY_COMPARE_WITH_TIMEOUT(readBattery(modbusPort), int(BATTERY), PORT_RETRY_WAIT_MS);
}

void TestService::stopsInOrderDuringUplinks_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestService::stopsInOrderDuringUplinks()
{
    QFETCH(int, signalNumber);

    const quint16 modbusPort = freePort();
    QVERIFY(startServing(modbusPort));
    quint16 battery = 1;
    QTimer uplinks;
    connect(&uplinks, &QTimer::timeout, [&] { networkServer->pushRx(uplink(battery++)); });
    uplinks.start(UPLINK_INTERVAL_MS);
    QTRY_VERIFY_WITH_TIMEOUT(readBattery(modbusPort) > 0, WAIT_MS);

    ::kill(static_cast<pid_t>(tarvex->processId()), signalNumber);
    QTRY_COMPARE_WITH_TIMEOUT(tarvex->state(), QProcess::NotRunning, STOP_MS);
    uplinks.stop();
    QCOMPARE(tarvex->exitStatus(), QProcess::NormalExit);
    QCOMPARE(tarvex->exitCode(), 0);
    QCOMPARE(integrityCheck(dir->filePath("server.db")), QString("ok"));
}

// Browsers keep their connections open between the page's polls; they must not hold the
// service up.
void TestService::stopsWithBrowsersConnected()
{
    QVERIFY(startServing(freePort()));
    std::vector<std::unique_ptr<QTcpSocket>> browsers;
    for (int i = 0; i < BROWSER_COUNT; ++i) {
        auto browser = std::make_unique<QTcpSocket>();
        browser->connectToHost(QHostAddress::LocalHost, webPort);
        QVERIFY(browser->waitForConnected(WAIT_MS));
        browser->write("GET / HTTP/1.1\r\nHost: localhost\r\nConnection: keep-alive\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(browser->bytesAvailable() > 0, WAIT_MS);
        browsers.push_back(std::move(browser));
    }

    tarvex->terminate();
    QTRY_COMPARE_WITH_TIMEOUT(tarvex->state(), QProcess::NotRunning, STOP_MS);
    QCOMPARE(tarvex->exitStatus(), QProcess::NormalExit);
    QCOMPARE(tarvex->exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
