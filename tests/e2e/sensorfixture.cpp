#include "sensorfixture.h"

#include "cdatabasehandler.h"
#include "freeport.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <functional>
#include <modbus.h>

namespace SensorFixture {

const QString DEV_EUI = QStringLiteral("1122334455667788");
const int START = 100;

namespace {
const QString APP_EUI = QStringLiteral("0102030405060708");

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

bool writeTemplate(const QString& dir)
{
    QFile file(QDir(dir).filePath(QStringLiteral("deviceFolder/th.json")));
    return QDir(dir).mkpath(QStringLiteral("deviceFolder")) && file.open(QIODevice::WriteOnly)
        && file.write(TEMPLATE) > 0;
}

bool storeDevice(const QString& dir, quint16 modbusPort)
{
    DB::SDeviceRegMapDescription device;
    device.devEui = DEV_EUI;
    device.appEui = APP_EUI;
    device.name = QStringLiteral("TH sensor");
    device.startAddr = START;
    device.port = modbusPort;
    device.registers = {entry("Time", 0, 32, "uinteger"), entry("RSSI", 2, 16, "integer"),
        entry("SNR", 3, 16, "integer"), entry("Temperature", 4, 16, "integer"),
        entry("Humidity", 5, 16, "uinteger"), entry("Battery", 6, 16, "uinteger")};
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    QString errorText;
    return database->init(QDir(dir).filePath(QStringLiteral("server.db")))
        && database->registerNewDevice(device, errorText);
}

// Runs one query on a connection of its own and returns the first column of the first row.
QString queryText(const QString& dbPath, const std::function<void(QSqlQuery&)>& run)
{
    const QString name = QStringLiteral("sensorfixture");
    QString text;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dbPath);
        if (db.open()) {
            QSqlQuery query(db);
            run(query);
            if (query.next())
                text = query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return text;
}
} // namespace

QString serverSettings(const QUrl& networkServer, quint16 webPort)
{
    return QStringLiteral("[server]\naddress=%1\nlogin=gateway\npassword=secret\n"
                          "[webui]\nip=127.0.0.1\nport=%2\n")
        .arg(networkServer.toString())
        .arg(webPort ? webPort : freePort());
}

bool prepare(const QString& dir, quint16 modbusPort)
{
    return writeTemplate(dir) && storeDevice(dir, modbusPort);
}

QJsonObject uplink(quint16 battery)
{
    const QString payload = QStringLiteral("01e6ff41%1").arg(battery, 4, 16, QChar('0'));
    return QJsonObject {{"devEui", DEV_EUI.toLower()}, {"type", "UNCONF_UP"},
        {"ts", 1700000000123LL}, {"gatewayId", "0000aabbccddeeff"}, {"fcnt", 7}, {"port", 2},
        {"rssi", -70}, {"snr", -7.5}, {"data", payload}};
}

QVector<quint16> registersAfterUplink(quint16 battery)
{
    return {0x6553, 0xf100, 0xffba, 0xfff9, 0xffe6, 0x0041, battery};
}

QVector<quint16> readRegisters(quint16 port)
{
    QVector<quint16> values(REGISTER_COUNT);
    modbus_t* context = modbus_new_tcp("127.0.0.1", port);
    const bool connected = modbus_connect(context) == 0;
    const bool read = connected
        && modbus_read_registers(context, START, REGISTER_COUNT, values.data()) == REGISTER_COUNT;
    modbus_close(context);
    modbus_free(context);
    return read ? values : QVector<quint16>();
}

QString storedFullValue(const QString& dbPath, int offset)
{
    return queryText(dbPath, [offset](QSqlQuery& query) {
        query.prepare(QStringLiteral("SELECT full_value FROM dev_data WHERE reg_addr = ?"));
        query.addBindValue(START + offset);
        query.exec();
    });
}

QString integrityCheck(const QString& dbPath)
{
    return queryText(
        dbPath, [](QSqlQuery& query) { query.exec(QStringLiteral("PRAGMA integrity_check")); });
}

} // namespace SensorFixture
