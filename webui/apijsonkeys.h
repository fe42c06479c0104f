#pragma once

#include <QString>

// Keys and words of the JSON bodies that the browser pages and the server and app scopes of the
// API exchange.
namespace HTTP {

// server/auth
inline const QString API_JSON_KEY_ADDR = QStringLiteral("addr");
inline const QString API_JSON_KEY_LOGIN = QStringLiteral("login");
inline const QString API_JSON_KEY_PW = QStringLiteral("pw");

// server/reqServerState
inline const QString API_JSON_KEY_STATUS = QStringLiteral("status");
inline const QString API_JSON_KEY_ADDRESS = QStringLiteral("address");

// server/getDeviceList
inline const QString API_JSON_KEY_DEVICES = QStringLiteral("devices");
inline const QString API_JSON_KEY_NAME = QStringLiteral("name");
inline const QString API_JSON_KEY_APP_EUI = QStringLiteral("appEui");
inline const QString API_JSON_RESULT_SUCCESS = QStringLiteral("success");
inline const QString API_JSON_RESULT_ERROR = QStringLiteral("error");

// Shared by both scopes.
inline const QString API_JSON_KEY_DEV_EUI = QStringLiteral("devEui");
inline const QString API_JSON_KEY_RESULT = QStringLiteral("result");
inline const QString API_JSON_KEY_ERROR = QStringLiteral("error");

// app: devices
inline const QString API_JSON_KEY_FILTER = QStringLiteral("filter");
inline const QString API_JSON_KEY_TEMPLATES = QStringLiteral("templates");
inline const QString API_JSON_KEY_DEV_APP_EUI = QStringLiteral("app_eui");
inline const QString API_JSON_KEY_DEV_TYPE = QStringLiteral("dev_type");
inline const QString API_JSON_KEY_START_ADDR = QStringLiteral("startAddr");
inline const QString API_JSON_KEY_PORT = QStringLiteral("port");
inline const QString API_JSON_KEY_ID = QStringLiteral("id");
inline const QString API_JSON_KEY_DEV_REGISTERS = QStringLiteral("devRegisters");
inline const QString API_JSON_KEY_REGISTERS = QStringLiteral("registers");
inline const QString API_JSON_KEY_REGISTER = QStringLiteral("register");

// app: register entries
inline const QString API_JSON_KEY_DATA_NAME = QStringLiteral("data_name");
inline const QString API_JSON_KEY_SOURCE = QStringLiteral("source");
inline const QString API_JSON_KEY_REG_MAP_BIAS = QStringLiteral("reg_map_bias");
inline const QString API_JSON_KEY_REG_BIT_SIZE = QStringLiteral("reg_bit_size");
inline const QString API_JSON_KEY_DATA_TYPE = QStringLiteral("data_type");
inline const QString API_JSON_KEY_ADDITION = QStringLiteral("addition");
inline const QString API_JSON_KEY_MULTIPLICATION = QStringLiteral("multiplication");
inline const QString API_JSON_KEY_UNITS = QStringLiteral("units");
inline const QString API_JSON_KEY_VALUE = QStringLiteral("value");
inline const QString API_JSON_KEY_TIME = QStringLiteral("time");

// app/about
inline const QString API_JSON_KEY_VERSION = QStringLiteral("version");
inline const QString API_JSON_KEY_BUILD = QStringLiteral("build");

} // namespace HTTP
