#include "apiconstants.h"

namespace API {
const QString API_JSON_KEY_CMD = QStringLiteral("cmd");

const QString API_JSON_CMD_PINGREQ = QStringLiteral("ping_req");
const QString API_JSON_CMD_PINGRESP = QStringLiteral("ping_resp");
const QString API_JSON_CMD_AUTHREQ = QStringLiteral("auth_req");
const QString API_JSON_CMD_AUTHRESP = QStringLiteral("auth_resp");
const QString API_JSON_CMD_RX = QStringLiteral("rx");
const QString API_JSON_CMD_GETDEVREGINFOREQ = QStringLiteral("get_devices_req");
const QString API_JSON_CMD_GETDEVREGINFORESP = QStringLiteral("get_devices_resp");
const QString API_JSON_CMD_GETDEVDATAREQ = QStringLiteral("get_data_req");
const QString API_JSON_CMD_GETDEVDATARESP = QStringLiteral("get_data_resp");

const QString API_JSON_KEY_LOGIN = QStringLiteral("login");
const QString API_JSON_KEY_PASSWORD = QStringLiteral("password");
const QString API_JSON_KEY_STATUS = QStringLiteral("status");
const QString API_JSON_KEY_ERRSTRING = QStringLiteral("err_string");
const QString API_JSON_KEY_TOKEN = QStringLiteral("token");
const QString API_JSON_KEY_DEVLIST = QStringLiteral("devices_list");
const QString API_JSON_KEY_DEVEUI = QStringLiteral("devEui");
const QString API_JSON_KEY_DEVNAME = QStringLiteral("devName");
const QString API_JSON_KEY_OTAA = QStringLiteral("OTAA");
const QString API_JSON_KEY_OTAA_APPEUI = QStringLiteral("appEui");
const QString API_JSON_KEY_DATALIST = QStringLiteral("data_list");
const QString API_JSON_KEY_SELECT = QStringLiteral("select");
const QString API_JSON_KEY_LIMIT = QStringLiteral("limit");
const QString API_JSON_KEY_DIRECTION = QStringLiteral("direction");
const QString API_JSON_KEY_TYPE = QStringLiteral("type");
const QString API_JSON_KEY_DATA = QStringLiteral("data");
const QString API_JSON_KEY_TS = QStringLiteral("ts");
const QString API_JSON_KEY_MACBS = QStringLiteral("gatewayId");
const QString API_JSON_KEY_ACK = QStringLiteral("ack");
const QString API_JSON_KEY_FCNT = QStringLiteral("fcnt");
const QString API_JSON_KEY_PORT = QStringLiteral("port");
const QString API_JSON_KEY_FREQ = QStringLiteral("freq");
const QString API_JSON_KEY_DR = QStringLiteral("dr");
const QString API_JSON_KEY_RSSI = QStringLiteral("rssi");
const QString API_JSON_KEY_SNR = QStringLiteral("snr");

const QString API_JSON_VAL_DIRECTION_UPLINK = QStringLiteral("UPLINK");
const int API_GETDEVDATA_LIMIT = 10;

const QStringList ApiLorawanPacketType = {
    QStringLiteral("UNCONF_UP"),
    QStringLiteral("UNCONF_DOWN"),
    QStringLiteral("CONF_UP"),
    QStringLiteral("CONF_DOWN"),
    QStringLiteral("JOIN_REQ"),
    QStringLiteral("JOIN_ACC"),
    QStringLiteral("MAC_LINKCHECK_REQ"),
    QStringLiteral("MAC_LINKCHECK_ANS"),
    QStringLiteral("MAC_LINKADR_REQ"),
    QStringLiteral("MAC_LINKADR_ANS"),
    QStringLiteral("MAC_DUTYCYCLE_REQ"),
    QStringLiteral("MAC_DUTYCYCLE_ANS"),
    QStringLiteral("MAC_RXPARAMSETUP_REQ"),
    QStringLiteral("MAC_RXPARAMSETUP_ANS"),
    QStringLiteral("MAC_DEVSTATUS_REQ"),
    QStringLiteral("MAC_DEVSTATUS_ANS"),
    QStringLiteral("MAC_NEWCHAN_REQ"),
    QStringLiteral("MAC_NEWCHAN_ANS"),
    QStringLiteral("MAC_RXTIMING_REQ"),
    QStringLiteral("MAC_RXTIMING_ANS"),
    QStringLiteral("MAC_TXPARAM_REQ"),
    QStringLiteral("MAC_TXPARAM_ANS"),
    QStringLiteral("MAC_DLCHAN_REQ"),
    QStringLiteral("MAC_DLCHAN_ANS"),
    QStringLiteral("MAC_PROPRIETARY"),
};
} // namespace API
