#include "cfakenetworkserver.h"
#include "freeport.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <modbus.h>

namespace {
// Bound of every wait for the service, generous for a loaded machine.
const int WAIT_MS = 15000;

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

// The real executable (path from TARVEX_BINARY) driven through its web API only, as an operator
// drives it from the browser: no network server in the settings, the connection made, a device
// picked from the network server's list, its value watched, the device removed again.
class TestOperatorRoad : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void addsReadsAndRemovesADeviceThroughTheWebApi();

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

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QProcess> tarvex;
    std::unique_ptr<QNetworkAccessManager> browser;
    quint16 webPort = 0;
};

void TestOperatorRoad::init()
{
    dir = std::make_unique<QTemporaryDir>();
    tarvex = std::make_unique<QProcess>();
    tarvex->setWorkingDirectory(dir->path());
    tarvex->setProgram(QString::fromLocal8Bit(qgetenv("TARVEX_BINARY")));
    tarvex->setStandardErrorFile(dir->filePath("console.txt"));
    browser = std::make_unique<QNetworkAccessManager>();
    browser->setProxy(QNetworkProxy::NoProxy);
}

void TestOperatorRoad::cleanup()
{
    browser.reset();
    tarvex->terminate();
    tarvex->waitForFinished(WAIT_MS);
    tarvex.reset(); // kills a service that did not stop
    dir.reset();
}

// One POST as the browser sends it; the session cookie travels in the manager's cookie jar.
TestOperatorRoad::SAnswer TestOperatorRoad::post(
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

QJsonObject TestOperatorRoad::call(const QString& path, const QJsonObject& body)
{
    const SAnswer answer = post(path, QJsonDocument(body).toJson(), "application/json");
    return QJsonDocument::fromJson(answer.body).object();
}

// The web page's text of the thermometer's first register; empty when the call fails.
QString TestOperatorRoad::temperatureText()
{
    const QJsonArray registers
        = call("app/getRegisterValues", {{"devEui", DEV_EUI}}).value("registers").toArray();
    return registers.at(0).toObject().value("value").toString();
}

void TestOperatorRoad::addsReadsAndRemovesADeviceThroughTheWebApi()
{
    CFakeNetworkServer networkServer;
    networkServer.setDevicesList(networkServerDevices());
    QVERIFY2(networkServer.listen(), "the network server double listens");
    QVERIFY(QDir(dir->path()).mkpath("deviceFolder"));
    QVERIFY(writeFile(dir->filePath("deviceFolder/thermometer.json"), TEMPLATE));
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
        {"addr", networkServer.url().toString()}, {"login", "gateway"}, {"pw", "secret"}};
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
    networkServer.pushRx(
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

QTEST_GUILESS_MAIN(TestOperatorRoad)
#include "tst_operatorroad.moc"
