#pragma once

#include <QString>

// Texts of the register database that operators and their tools read in the log file and on the
// console. They stay exactly as they are, odd wording and spelling included.
namespace DbTexts {

// Start-up
inline const QString OPEN_FAILED
    = QStringLiteral("CRITICAL_ERROR! Data base hasn't been created/opened! Error_text[%1]. "
                     "DataBaseHandler is not running!");
inline const QString BAD_COLUMN_COUNT = QStringLiteral(
    "ERROR! Invalid size of colums in table \"%1\"! DataBaseHandler is not running!");
inline const QString TABLE_NOT_CREATED = QStringLiteral("ERROR! Table \"%1\" is not created!");
inline const QString INDEX_NOT_CREATED
    = QStringLiteral("ERROR [operator()-185]: invalid sql request 3 for <%1.%2>!");
inline const QString WAL_NOT_SET
    = QStringLiteral("WARNING: [CDataBaseHandler::init] WAL journal mode is not set!");
inline const QString MIRROR_NOT_READ
    = QStringLiteral("ERROR: [CDataBaseHandler::init] Invalid SQL request [1]");
inline const QString DB_INITIALIZED = QStringLiteral("DB has been initialized, file:");
// %1 = the file name, %2 = why it cannot be used (SQLite's reason where SQLite gave one).
inline const QString FILE_REFUSED = QStringLiteral(
    "CRITICAL_ERROR! Data base file [%1] cannot be used: %2. DataBaseHandler is not running!");
// Reasons of FILE_REFUSED that SQLite does not give; %1 = table, %2 = what the file holds.
inline const QString NOT_A_TABLE = QStringLiteral("\"%1\" is a %2, not a table");
// %2 = the columns found, %3 = the columns needed first, in this order.
inline const QString FOREIGN_COLUMNS
    = QStringLiteral("table \"%1\" has the columns (%2) instead of (%3)");
inline const QString NOT_WRITABLE = QStringLiteral("it cannot be written: %1");
// %1 = the method that met the row
inline const QString ROW_SIZE_IGNORED
    = QStringLiteral("WARNING: [CDataBaseHandler::%1] Register [%2] of device [%3] has bit size "
                     "[%4] and is left out of the register image!");

// Connections and transactions
inline const QString CONNECTION_NOT_OPENED = QStringLiteral(
    "ERROR: [CDataBaseHandler] Data base connection is not opened! Error_text[%1]");
inline const QString TRANSACTION_NOT_STARTED
    = QStringLiteral("ERROR: [CDataBaseHandler::%1] Transaction is not started!");
inline const QString TRANSACTION_NOT_COMMITTED
    = QStringLiteral("ERROR: [CDataBaseHandler::%1] Transaction is not committed!");
// Reported once per cause, and once more when values are stored again; %1 = SQLite's reason.
inline const QString VALUES_NOT_STORED = QStringLiteral(
    "ERROR: [CDataBaseHandler::saveRegisterData] Register values are not stored: %1");
inline const QString VALUES_STORED_AGAIN
    = QStringLiteral("INFO: [CDataBaseHandler::saveRegisterData] Register values are stored again");
// A deleted data base file is written anew from the open data base; %1 = the file name,
// %2 = why the copy could not be written (reported once per cause).
inline const QString FILE_NOT_RESTORED = QStringLiteral(
    "ERROR: [CDataBaseHandler] Data base file [%1] has been deleted and is not restored yet: %2");
inline const QString FILE_RESTORED = QStringLiteral(
    "INFO: [CDataBaseHandler] Data base file [%1] has been deleted and is restored with every "
    "device and the last values");
inline const QString MIRROR_ROWS_NOT_READ
    = QStringLiteral("ERROR: [CDataBaseHandler::readMirrorRows] Invalid SQL request [1]");

// Registration
inline const QString REGISTER_SQL_1
    = QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [1]");
inline const QString DEVICE_EXISTS
    = QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Device [%1] already exist!");
inline const QString DEVICE_EXISTS_FOR_USER = QStringLiteral("устройство %1 уже зарегистрировано");
inline const QString REGISTER_USED = QStringLiteral(
    "ERROR: [CDataBaseHandler::registerNewDevice] Register [%1] is already used! Port %2");
inline const QString REGISTER_USED_FOR_USER
    = QStringLiteral("регистр %1 на порту %2 уже используется другим устройством");
inline const QString REGISTER_SQL_2
    = QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [2]");
inline const QString REGISTER_SQL_3
    = QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [3]");
inline const QString DEVICE_NOT_CREATED
    = QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Device [%1] is not created!");
inline const QString DEVICE_NULL_ID = QStringLiteral(
    "ERROR: [CDataBaseHandler::registerNewDevice] Device [%1] is not created [NULL ID]!");
// %1 = the address as four lower-case hexadecimal digits
inline const QString REGISTER_TWICE = QStringLiteral(
    "WARNING: [CDataBaseHandler::registerNewDevice] Register [0x%1] for device [%2] already "
    "exist!");
inline const QString REGISTER_SQL_4
    = QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [4]");

// Devices
inline const QString DELETE_SQL_1
    = QStringLiteral("[CDataBaseHandler::deleteDevice] Invalid SQL request [1]");
inline const QString DELETE_SQL_2
    = QStringLiteral("[CDataBaseHandler::deleteDevice] Invalid SQL request [2]");
inline const QString DEVICES_SQL_1
    = QStringLiteral("[CDataBaseHandler::getDevices] Invalid SQL request [1]");
inline const QString REGISTERED_DEVICES_SQL_1
    = QStringLiteral("[CDataBaseHandler::getRegisteredDevices] Invalid SQL request [1]");

// Register image and usage; the statement texts are logged after the message even where the
// answer came from memory and no statement ran.
inline const QString REGISTER_DATA_SQL_1
    = QStringLiteral("ERROR: [CDataBaseHandler::getRegisterData] Invalid SQL request [1]");
inline const QString REGISTER_IMAGE_STATEMENT
    = QStringLiteral("SELECT * FROM dev_data WHERE port=%1 AND reg_addr BETWEEN %2 AND %3;");
inline const QString REGISTER_USAGE_STATEMENT
    = QStringLiteral("SELECT * FROM dev_data WHERE port=:port;");

// Register values and scaling
inline const QString SAVE_EMPTY
    = QStringLiteral("INFO: [CDataBaseHandler::saveRegisterData] Empty input data");
inline const QString SAVE_SQL_1
    = QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Invalid SQL request [1]");
inline const QString UNKNOWN_DEV_EUI
    = QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Unknown DevEUI [%1]");
inline const QString UNKNOWN_DEV_EUI_ID_0
    = QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Unknown DevEUI [ID=0] [%1]");
inline const QString SAVE_SQL_2
    = QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Invalid SQL request [2]");
inline const QString SAVE_QUERY = QStringLiteral("    Query [%1]");
inline const QString SAVE_SET = QStringLiteral("    Set: deviceId[%1], regAddr[%2]");
inline const QString PARAM_SQL_1
    = QStringLiteral("ERROR: [CDataBaseHandler::getRegisterParam] Invalid SQL request [1]");
inline const QString PARAM_MISSING
    = QStringLiteral("ERROR: [CDataBaseHandler::getRegisterParam] Register is not exist!");
inline const QString REGISTER_PARAM_STATEMENT = QStringLiteral(
    "SELECT * FROM dev_data WHERE dev_data.device IN ( SELECT devices.device FROM devices WHERE "
    "devices.dev_eui=:dev_eui ) AND dev_data.reg_addr=:reg_addr;");
inline const QString REGISTERS_SQL_1
    = QStringLiteral("[CDataBaseHandler::getRegisters] Invalid SQL request [1]");
inline const QString UPDATE_INFO_SQL_1
    = QStringLiteral("ERROR: [CDataBaseHandler::updateRegInfo] Invalid SQL request [1]");

// Value texts for the web interface
inline const QString BOOLEAN_UNSUPPORTED
    = QStringLiteral("[CRegisterDelegat::paint] Unsupporting dataType: BOOLEAN");
inline const QString UNKNOWN_DATA_TYPE
    = QStringLiteral("[CRegisterDelegat::paint] Unknown data type! %1");

} // namespace DbTexts
