#include "cdatabasehandler.h"
#include "cfakenetworkserver.h"
#include "freeport.h"
#include "tarvexprocess.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <modbus.h>

namespace {
const QString DEV_EUI = "1122334455667788";
const int START = 100;

// A temperature/humidity/battery sensor with the radio values in front of its payload values.
const char* const TEMPLATE = R"({
    "app_eui": "0102030405060708", "dev_type": "TH sensor",
    "server_data": [
        {"data_code": "ts", "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 32, "data_name": "Time"},
        {"data_code": "rssi", "reg_map_bias": 2, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "RSSI"},
        {"data_code": "snr", "reg_map_bias": 3, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "SNR"}],
    "device_packets": [{"packet_type": 1, "packet_size": 6, "packet_fields": [
        {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "integer", "endianness": "le",
         "reg_map_bias": 4, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "Temperature"},
        {"packet_bias": 3, "data_bit_bias": 0, "data_bit_size": 8, "data_type": "uinteger",
         "reg_map_bias": 5, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "Humidity"},
        {"packet_bias": 4, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger", "endianness": "be",
         "reg_map_bias": 6, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "Battery"}]}]
})";

REGS::SRegisterInfo entry(const QString& name, int offset, int bits, const QString& type)
{
    REGS::SRegisterInfo info;
    info.name = name;
    info.regOffset = offset;
    info.bitSize = bits;
    info.dataType = type;
    return info;
}

QVector<quint16> readRegisters(quint16 port, int first, int count)
{
    QVector<quint16> values(count);
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    const bool ok = ctx && modbus_connect(ctx) == 0
        && modbus_read_registers(ctx, first, count, values.data()) == count;
    if (ctx) {
        modbus_close(ctx);
        modbus_free(ctx);
    }
    return ok ? values : QVector<quint16>();
}
} // namespace

class TestUplink : public QObject
{
    Q_OBJECT
private slots:
    void uplinkReachesAModbusMaster();
};

void TestUplink::uplinkReachesAModbusMaster()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("deviceFolder"));
    QFile templateFile(dir.filePath("deviceFolder/th.json"));
    QVERIFY(templateFile.open(QIODevice::WriteOnly));
    templateFile.write(TEMPLATE);
    templateFile.close();

    const quint16 modbusPort = freePort();
    DB::SDeviceRegMapDescription device;
    device.devEui = DEV_EUI;
    device.appEui = "0102030405060708";
    device.name = "TH sensor";
    device.startAddr = START;
    device.port = modbusPort;
    device.registers = {entry("Time", 0, 32, "uinteger"), entry("RSSI", 2, 16, "integer"),
        entry("SNR", 3, 16, "integer"), entry("Temperature", 4, 16, "integer"),
        entry("Humidity", 5, 16, "uinteger"), entry("Battery", 6, 16, "uinteger")};
    QString errorText;
    QVERIFY(CDataBaseHandler::getInstance()->init(dir.filePath("server.db")));
    QVERIFY(CDataBaseHandler::getInstance()->registerNewDevice(device, errorText));

    CFakeNetworkServer networkServer;
    QVERIFY(networkServer.listen());
    TarvexProcess tarvex(dir.path());
    tarvex.writeSettings(QString("[server]\naddress=%1\nlogin=gateway\npassword=secret\n")
                             .arg(networkServer.url().toString()));
    QVERIFY(tarvex.start());
    QTRY_COMPARE_WITH_TIMEOUT(networkServer.received("auth_req").size(), 1, 10000);
    // The service reads a device's registers as zeros until an uplink arrives.
    QTRY_COMPARE_WITH_TIMEOUT(readRegisters(modbusPort, START, 7), QVector<quint16>(7, 0), 5000);

    networkServer.pushRx(QJsonObject {{"devEui", DEV_EUI.toLower()}, {"type", "UNCONF_UP"},
        {"ts", 1700000000123LL}, {"gatewayId", "0000aabbccddeeff"}, {"fcnt", 7}, {"port", 2},
        {"rssi", -70}, {"snr", -7.5}, {"data", "01e6ff410bb8"}});
    const QVector<quint16> expected = {0x6553, 0xf100, 0xffba, 0xfff9, 0xffe6, 0x0041, 0x0bb8};
    QTRY_COMPARE_WITH_TIMEOUT(readRegisters(modbusPort, START, 7), expected, 5000);
}

QTEST_GUILESS_MAIN(TestUplink)
#include "tst_uplink.moc"
