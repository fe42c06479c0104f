#include "cdatabasehandler.h"
#include "cfakenetworkserver.h"
#include "freeport.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
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
const int WAIT_MS = 15000;
// How long the service may take to stop once told to.
const int STOP_MS = 2000;
const int UPLINK_INTERVAL_MS = 2;
// A port held at start-up is tried again every 10 s; its values are served within 15 s of its
// release.
const int PORT_RETRY_WAIT_MS = 15000;
const int BROWSER_COUNT = 5;
// Peers holding half a request are closed after 30 s; the bound allows for a loaded machine.
const int STALLED_CLOSE_WAIT_MS = 45000;

// A thermometer whose uplinks of packet type 01 carry the raw temperature in bytes 1-2.
const QString DEV_EUI = "A1B2C3D4E5F60718";
const QString APP_EUI = "0102030405060708";
const int START_REGISTER = 100;
const QByteArray TEMPLATE = R"({"app_eui": "0102030405060708", "dev_type": "Thermometer",
    "device_packets": [{"packet_type": 1, "packet_size": 3, "packet_fields": [{"packet_bias": 1,
    "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger", "endianness": "be",
    "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "Temperature"}]}]})";

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Stores the thermometer in dir's server.db, its first register on the Modbus port.
bool storeThermometer(const QDir& dir, quint16 modbusPort)
{
    DB::SDeviceRegMapDescription thermometer {
        DEV_EUI, APP_EUI, "Thermometer", START_REGISTER, {}, modbusPort};
    thermometer.registers = {{"Temperature", 0, 0, 16, "uinteger", 0, 1, {}}};
    QString errorText;
    return CDataBaseHandler::getInstance()->init(dir.filePath("server.db"))
        && CDataBaseHandler::getInstance()->registerNewDevice(thermometer, errorText);
}

// The network server's rx record of one uplink of the thermometer.
QJsonObject uplink(quint16 raw)
{
    return QJsonObject {{"devEui", DEV_EUI.toLower()}, {"type", "UNCONF_UP"},
        {"data", QString("01%1").arg(raw, 4, 16, QChar('0'))}};
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

// What the network server lists: the thermometer, and a device no template describes.
QJsonArray networkServerDevices()
{
    return {QJsonObject {{"devEui", DEV_EUI}, {"devName", "Thermometer in hall"},
                {"OTAA", QJsonObject {{"appEui", APP_EUI}}}},
        QJsonObject {{"devEui", "0000000000000001"}, {"devName", "Unknown kind"},
            {"OTAA", QJsonObject {{"appEui", "FFFFFFFFFFFFFFFF"}}}}};
}

// The first register of the thermometer read by a libmodbus master; -1 when the read fails.
int readTemperature(quint16 port)
{
    quint16 value = 0;
    modbus_t* context = modbus_new_tcp("127.0.0.1", port);
    const bool read = modbus_connect(context) == 0
        && modbus_read_registers(context, START_REGISTER, 1, &value) == 1;
    modbus_close(context);
    modbus_free(context);
    return read ? value : -1;
}

bool modbusPortAccepts(quint16 port)
{
    modbus_t* context = modbus_new_tcp("127.0.0.1", port);
    const bool connected = modbus_connect(context) == 0;
    modbus_close(context);
    modbus_free(context);
    return connected;
}
} // namespace

// The real executable (path from TARVEX_BINARY) run in a working directory of its own with the
// thermometer's template, as an operator runs it: driven through its web API, fed by a network
// server, read by a Modbus master, stopped by a signal.
class TestService : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void addsReadsAndRemovesADeviceThroughTheWebApi();
    void uplinkOnTakenPortIsServedOnceFreed();
    void takenWebPortLeavesModbusAndUplinks();
    void peerHoldingHalfARequestIsClosed();
    void stopsInOrderDuringUplinks_data();
    void stopsInOrderDuringUplinks();

private:
    struct SAnswer
    {
        int status = 0;
        QByteArray body;
    };

    SAnswer post(const QString& path, const QByteArray& body, const QByteArray& contentType);
    QJsonObject call(const QString& path, const QJsonObject& body = {});
    QString serverStatus() { return call("server/reqServerState").value("status").toString(); }
    QString temperatureText();
    bool startServing(quint16 modbusPort);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QProcess> tarvex;
    std::unique_ptr<QNetworkAccessManager> browser;
    std::unique_ptr<CFakeNetworkServer> networkServer;
    quint16 webPort = 0;
};

void TestService::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(dir->path()).mkpath("deviceFolder"));
    QVERIFY(writeFile(dir->filePath("deviceFolder/thermometer.json"), TEMPLATE));
    tarvex = std::make_unique<QProcess>();
    tarvex->setWorkingDirectory(dir->path());
    tarvex->setProgram(QString::fromLocal8Bit(qgetenv("TARVEX_BINARY")));
    tarvex->setStandardErrorFile(dir->filePath("console.txt"));
    webPort = 0;
    browser = std::make_unique<QNetworkAccessManager>();
    browser->setProxy(QNetworkProxy::NoProxy);
}

void TestService::cleanup()
{
    browser.reset();
    tarvex->terminate();
    tarvex->waitForFinished(WAIT_MS);
    tarvex.reset(); // kills a service that did not stop
    networkServer.reset();
    dir.reset();
}

// Starts the service with the thermometer stored on the Modbus port and the web interface on a
// free loopback port; true once it has logged in to a network server on loopback.
bool TestService::startServing(quint16 modbusPort)
{
    networkServer = std::make_unique<CFakeNetworkServer>();
    if (webPort == 0)
        webPort = freePort();
    const QString settings = QString("[server]\naddress=%1\nlogin=gateway\npassword=secret\n"
                                     "[webui]\nip=127.0.0.1\nport=%2\n");
    if (!storeThermometer(dir->path(), modbusPort) || !networkServer->listen()
        || !writeFile(dir->filePath("settings.conf"),
            settings.arg(networkServer->url().toString()).arg(webPort).toUtf8()))
        return false;
    tarvex->start();
    return tarvex->waitForStarted(WAIT_MS)
        && QTest::qWaitFor(
            [this] { return networkServer->received("auth_req").size() == 1; }, WAIT_MS);
}

// One POST as the browser sends it; the session cookie travels in the manager's cookie jar.
TestService::SAnswer TestService::post(
    const QString& path, const QByteArray& body, const QByteArray& contentType)
{
    QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1/api/v1/%2").arg(webPort).arg(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setTransferTimeout(WAIT_MS);
    QNetworkReply* reply = browser->post(request, body);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const SAnswer answer {
        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    reply->deleteLater();
    return answer;
}

QJsonObject TestService::call(const QString& path, const QJsonObject& body)
{
    const SAnswer answer = post(path, QJsonDocument(body).toJson(), "application/json");
    return QJsonDocument::fromJson(answer.body).object();
}

// The web page's text of the thermometer's first register; empty when the call fails.
QString TestService::temperatureText()
{
    const QJsonArray registers
        = call("app/getRegisterValues", {{"devEui", DEV_EUI}}).value("registers").toArray();
    return registers.at(0).toObject().value("value").toString();
}

void TestService::addsReadsAndRemovesADeviceThroughTheWebApi()
{
    networkServer = std::make_unique<CFakeNetworkServer>();
    networkServer->setDevicesList(networkServerDevices());
    QVERIFY2(networkServer->listen(), "the network server double listens");
    webPort = freePort();
    const QString settings("[webui]\nip=127.0.0.1\nport=%1\nlogin=operator\npassword=hall-7\n");
    QVERIFY(writeFile(dir->filePath("settings.conf"), settings.arg(webPort).toUtf8()));
    tarvex->start();
    QVERIFY2(tarvex->waitForStarted(WAIT_MS), "the service starts");

    // The web server may not listen yet right after start: the login is retried until it answers.
    QTRY_COMPARE_WITH_TIMEOUT(
        post("auth/login", "username=operator&password=hall-7", "application/x-www-form-urlencoded")
            .body,
        QByteArray("Ok."), WAIT_MS);

    const QJsonObject credentials {
        {"addr", networkServer->url().toString()}, {"login", "gateway"}, {"pw", "secret"}};
    QCOMPARE(
        post("server/auth", QJsonDocument(credentials).toJson(), "application/json").status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(serverStatus(), QString("ONLINE"), WAIT_MS);

    const QJsonObject listing = call("server/getDeviceList");
    QCOMPARE(listing.value("result").toString(), QString("success"));
    const QJsonArray offered = listing.value("devices").toArray();
    QCOMPARE(offered.size(), 1); // the device without a template is not offered
    const QJsonObject device = offered.first().toObject();
    QCOMPARE(device.value("devEui").toString(), DEV_EUI);

    const quint16 modbusPort = freePort();
    const QJsonObject temperature {{"data_name", "Temperature"}, {"reg_map_bias", 0},
        {"reg_bit_size", 16}, {"data_type", "uinteger"}, {"addition", 0}, {"multiplication", 0.1},
        {"units", "C"}};
    const QJsonObject added = call("app/addDevice",
        {{"port", modbusPort}, {"startAddr", START_REGISTER}, {"devEui", device.value("devEui")},
            {"app_eui", device.value("appEui")}, {"dev_type", "Thermometer"},
            {"devRegisters", QJsonArray {temperature}}});
    QVERIFY2(added.value("result").toBool(), qPrintable(added.value("error").toString()));
    QCOMPARE(temperatureText(), QString("-")); // nothing received yet

    // Raw 215 (0x00d7) times 0.1 is 21.5; the register holds it rounded half up.
    networkServer->pushRx(
        QJsonObject {{"devEui", DEV_EUI}, {"type", "UNCONF_UP"}, {"data", "0100d7"}});
    QTRY_COMPARE_WITH_TIMEOUT(temperatureText(), QString("22"), WAIT_MS);
    QCOMPARE(readTemperature(modbusPort), 22);

    const SAnswer removed = post("app/removeDevice",
        QJsonDocument(QJsonObject {{"devEui", DEV_EUI}}).toJson(), "application/json");
    QCOMPARE(removed.status, 200);
    QCOMPARE(QJsonDocument::fromJson(removed.body).object().value("result").toBool(), true);
    QTRY_VERIFY2_WITH_TIMEOUT(!modbusPortAccepts(modbusPort),
        "the device's Modbus port is closed once its last device is gone", WAIT_MS);
}

// The port is held by another program at start-up: the uplink is stored all the same and
// served as soon as the port is free.
void TestService::uplinkOnTakenPortIsServedOnceFreed()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any));
    const quint16 modbusPort = occupant.serverPort();
    QVERIFY(startServing(modbusPort));
    networkServer->pushRx(uplink(215));

    occupant.close();
    QTRY_COMPARE_WITH_TIMEOUT(readTemperature(modbusPort), 215, PORT_RETRY_WAIT_MS);
}

// Without its web interface the service still logs in to the network server and serves Modbus.
void TestService::takenWebPortLeavesModbusAndUplinks()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost));
    webPort = occupant.serverPort();
    const quint16 modbusPort = freePort();
    QVERIFY(startServing(modbusPort));

    networkServer->pushRx(uplink(215));

    QTRY_COMPARE_WITH_TIMEOUT(readTemperature(modbusPort), 215, WAIT_MS);
}

void TestService::peerHoldingHalfARequestIsClosed()
{
    const quint16 modbusPort = freePort();
    QVERIFY(startServing(modbusPort));
    networkServer->pushRx(uplink(215));
    QTRY_COMPARE_WITH_TIMEOUT(readTemperature(modbusPort), 215, WAIT_MS);
    QTcpSocket stalled;
    stalled.connectToHost(QHostAddress::LocalHost, modbusPort);
    QVERIFY(stalled.waitForConnected(WAIT_MS));
    stalled.write(QByteArray::fromHex("00010000000601"));

    QTRY_COMPARE_WITH_TIMEOUT(
        stalled.state(), QAbstractSocket::UnconnectedState, STALLED_CLOSE_WAIT_MS);
    QCOMPARE(readTemperature(modbusPort), 215);
}

void TestService::stopsInOrderDuringUplinks_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

// Browsers keep their connections open between the page's polls; they must not hold the
// service up, nor may the uplinks still arriving leave the database file damaged.
void TestService::stopsInOrderDuringUplinks()
{
    QFETCH(int, signalNumber);

    const quint16 modbusPort = freePort();
    QVERIFY(startServing(modbusPort));
    quint16 raw = 1;
    QTimer uplinks;
    connect(&uplinks, &QTimer::timeout, [&] { networkServer->pushRx(uplink(raw++)); });
    uplinks.start(UPLINK_INTERVAL_MS);
    QTRY_VERIFY_WITH_TIMEOUT(readTemperature(modbusPort) > 0, WAIT_MS);
    std::vector<std::unique_ptr<QTcpSocket>> browsers;
    for (int i = 0; i < BROWSER_COUNT; ++i) {
        auto browser = std::make_unique<QTcpSocket>();
        browser->connectToHost(QHostAddress::LocalHost, webPort);
        QVERIFY(browser->waitForConnected(WAIT_MS));
        browser->write("GET / HTTP/1.1\r\nHost: localhost\r\nConnection: keep-alive\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(browser->bytesAvailable() > 0, WAIT_MS);
        browsers.push_back(std::move(browser));
    }

    ::kill(static_cast<pid_t>(tarvex->processId()), signalNumber);
    QTRY_COMPARE_WITH_TIMEOUT(tarvex->state(), QProcess::NotRunning, STOP_MS);
    uplinks.stop();
    QCOMPARE(tarvex->exitStatus(), QProcess::NormalExit);
    QCOMPARE(tarvex->exitCode(), 0);
    QCOMPARE(integrityCheck(dir->filePath("server.db")), QString("ok"));
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
