#pragma once

#include <QString>
#include <QStringList>

// Words of the network server's WebSocket JSON protocol that the client sends or reads.
namespace API {
extern const QString API_JSON_KEY_CMD;

extern const QString API_JSON_CMD_PINGREQ;
extern const QString API_JSON_CMD_PINGRESP;
extern const QString API_JSON_CMD_AUTHREQ;
extern const QString API_JSON_CMD_AUTHRESP;
extern const QString API_JSON_CMD_RX;
extern const QString API_JSON_CMD_GETDEVREGINFOREQ;
extern const QString API_JSON_CMD_GETDEVREGINFORESP;
extern const QString API_JSON_CMD_GETDEVDATAREQ;
extern const QString API_JSON_CMD_GETDEVDATARESP;

extern const QString API_JSON_KEY_LOGIN;
extern const QString API_JSON_KEY_PASSWORD;
extern const QString API_JSON_KEY_STATUS;
extern const QString API_JSON_KEY_ERRSTRING;
extern const QString API_JSON_KEY_TOKEN;
extern const QString API_JSON_KEY_DEVLIST;
extern const QString API_JSON_KEY_DEVEUI;
extern const QString API_JSON_KEY_DEVNAME;
extern const QString API_JSON_KEY_OTAA;
extern const QString API_JSON_KEY_OTAA_APPEUI;
extern const QString API_JSON_KEY_DATALIST;
extern const QString API_JSON_KEY_SELECT;
extern const QString API_JSON_KEY_LIMIT;
extern const QString API_JSON_KEY_DIRECTION;
extern const QString API_JSON_KEY_TYPE;
extern const QString API_JSON_KEY_DATA;
extern const QString API_JSON_KEY_TS;
extern const QString API_JSON_KEY_MACBS;
extern const QString API_JSON_KEY_ACK;
extern const QString API_JSON_KEY_FCNT;
extern const QString API_JSON_KEY_PORT;
extern const QString API_JSON_KEY_FREQ;
extern const QString API_JSON_KEY_DR;
extern const QString API_JSON_KEY_RSSI;
extern const QString API_JSON_KEY_SNR;

// Values of "select" in get_data_req.
extern const QString API_JSON_VAL_DIRECTION_UPLINK;
extern const int API_GETDEVDATA_LIMIT;

// Packet type names in the network server's order; the uplinks with application data are the
// entries UNCONF_UP and CONF_UP.
extern const QStringList ApiLorawanPacketType;
enum EApiLorawanPacketTypeIndex { PACKET_TYPE_UNCONF_UP = 0, PACKET_TYPE_CONF_UP = 2 };
} // namespace API
