#pragma once

#include <QString>

// Words of the network server's WebSocket JSON protocol, as the simulator writes and reads them.
namespace SimProtocol {
inline const QString KEY_CMD = QStringLiteral("cmd");
inline const QString CMD_PING_REQ = QStringLiteral("ping_req");
inline const QString CMD_PING_RESP = QStringLiteral("ping_resp");
inline const QString CMD_AUTH_REQ = QStringLiteral("auth_req");
inline const QString CMD_AUTH_RESP = QStringLiteral("auth_resp");
inline const QString CMD_GET_DEVICES_REQ = QStringLiteral("get_devices_req");
inline const QString CMD_GET_DEVICES_RESP = QStringLiteral("get_devices_resp");
inline const QString CMD_GET_DATA_REQ = QStringLiteral("get_data_req");
inline const QString CMD_GET_DATA_RESP = QStringLiteral("get_data_resp");
inline const QString CMD_RX = QStringLiteral("rx");

inline const QString KEY_LOGIN = QStringLiteral("login");
inline const QString KEY_PASSWORD = QStringLiteral("password");
inline const QString KEY_STATUS = QStringLiteral("status");
inline const QString KEY_ERR_STRING = QStringLiteral("err_string");
inline const QString KEY_TOKEN = QStringLiteral("token");
inline const QString KEY_DEVICES_LIST = QStringLiteral("devices_list");
inline const QString KEY_DEV_NAME = QStringLiteral("devName");
inline const QString KEY_OTAA = QStringLiteral("OTAA");
inline const QString KEY_APP_EUI = QStringLiteral("appEui");
inline const QString KEY_DATA_LIST = QStringLiteral("data_list");
inline const QString KEY_SELECT = QStringLiteral("select");
inline const QString KEY_LIMIT = QStringLiteral("limit");

// Keys of one uplink record.
inline const QString KEY_DEV_EUI = QStringLiteral("devEui");
inline const QString KEY_TYPE = QStringLiteral("type");
inline const QString KEY_TS = QStringLiteral("ts");
inline const QString KEY_GATEWAY_ID = QStringLiteral("gatewayId");
inline const QString KEY_ACK = QStringLiteral("ack");
inline const QString KEY_FCNT = QStringLiteral("fcnt");
inline const QString KEY_PORT = QStringLiteral("port");
inline const QString KEY_DATA = QStringLiteral("data");
inline const QString KEY_FREQ = QStringLiteral("freq");
inline const QString KEY_DR = QStringLiteral("dr");
inline const QString KEY_RSSI = QStringLiteral("rssi");
inline const QString KEY_SNR = QStringLiteral("snr");

inline const QString TYPE_UNCONF_UP = QStringLiteral("UNCONF_UP");

// Answers to requests the simulator refuses.
inline const QString ERR_BAD_CREDENTIALS = QStringLiteral("invalid login or password");
inline const QString ERR_NOT_LOGGED_IN = QStringLiteral("not logged in");
inline const QString ERR_UNKNOWN_DEVICE = QStringLiteral("unknown device");
} // namespace SimProtocol
