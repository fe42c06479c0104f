#pragma once

#include <QMap>
#include <QString>

// Keys and keywords of the device template files, and the values the network server supplies.
namespace REGS {
extern const QString REGS_JSON_KEY_APPEUI;
extern const QString REGS_JSON_KEY_DEVTYPE;
extern const QString REGS_JSON_KEY_DEVPACKETS;
extern const QString REGS_JSON_KEY_SERVERDATA;
extern const QString REGS_JSON_KEY_PACKETTYPE;
extern const QString REGS_JSON_KEY_PACKETSIZE;
extern const QString REGS_JSON_KEY_PACKETFIELDS;
extern const QString REGS_JSON_KEY_PACKETBIAS;
extern const QString REGS_JSON_KEY_DATABITBIAS;
extern const QString REGS_JSON_KEY_DATABITSIZE;
extern const QString REGS_JSON_KEY_DATATYPE;
extern const QString REGS_JSON_KEY_ENDIANNESS;
extern const QString REGS_JSON_KEY_DATACODE;
extern const QString REGS_JSON_KEY_REGMAPBIAS;
extern const QString REGS_JSON_KEY_REGBITBIAS;
extern const QString REGS_JSON_KEY_REGBITSIZE;
extern const QString REGS_JSON_KEY_DATANAME;
extern const QString REGS_JSON_KEY_COLOR;

// Values of "endianness".
extern const QString REGS_JSON_KEY_ENDIAN_LE;
extern const QString REGS_JSON_KEY_ENDIAN_BE;

// Values of "data_type".
extern const QString REGS_JSON_KEY_TYPE_INT;
extern const QString REGS_JSON_KEY_TYPE_UINT;
extern const QString REGS_JSON_KEY_TYPE_BOOL;
extern const QString REGS_JSON_KEY_TYPE_TEXT;

// Values of "data_code": what the network server reports about an uplink.
extern const QString REGS_JSON_KEY_CODE_TS;
extern const QString REGS_JSON_KEY_CODE_RSSI;
extern const QString REGS_JSON_KEY_CODE_GATEWAYID;
extern const QString REGS_JSON_KEY_CODE_DEVEUI;
extern const QString REGS_JSON_KEY_CODE_SNR;
extern const QString REGS_JSON_KEY_CODE_FCNT;

// Fixed size and type of one server-supplied value.
struct SServerDataTemplate
{
    QString code;
    int bitSize = 0;
    QString dataType;
};

// The server-supplied values a template may place in registers, keyed by data code.
extern const QMap<QString, SServerDataTemplate> RegsServerDataTemplates;
} // namespace REGS
