#include "regsconstants.h"

namespace REGS {
const QString REGS_JSON_KEY_APPEUI = QStringLiteral("app_eui");
const QString REGS_JSON_KEY_DEVTYPE = QStringLiteral("dev_type");
const QString REGS_JSON_KEY_DEVPACKETS = QStringLiteral("device_packets");
const QString REGS_JSON_KEY_SERVERDATA = QStringLiteral("server_data");
const QString REGS_JSON_KEY_PACKETTYPE = QStringLiteral("packet_type");
const QString REGS_JSON_KEY_PACKETSIZE = QStringLiteral("packet_size");
const QString REGS_JSON_KEY_PACKETFIELDS = QStringLiteral("packet_fields");
const QString REGS_JSON_KEY_PACKETBIAS = QStringLiteral("packet_bias");
const QString REGS_JSON_KEY_DATABITBIAS = QStringLiteral("data_bit_bias");
const QString REGS_JSON_KEY_DATABITSIZE = QStringLiteral("data_bit_size");
const QString REGS_JSON_KEY_DATATYPE = QStringLiteral("data_type");
const QString REGS_JSON_KEY_ENDIANNESS = QStringLiteral("endianness");
const QString REGS_JSON_KEY_DATACODE = QStringLiteral("data_code");
const QString REGS_JSON_KEY_REGMAPBIAS = QStringLiteral("reg_map_bias");
const QString REGS_JSON_KEY_REGBITBIAS = QStringLiteral("reg_bit_bias");
const QString REGS_JSON_KEY_REGBITSIZE = QStringLiteral("reg_bit_size");
const QString REGS_JSON_KEY_DATANAME = QStringLiteral("data_name");
const QString REGS_JSON_KEY_COLOR = QStringLiteral("color");

const QString REGS_JSON_KEY_ENDIAN_LE = QStringLiteral("le");
const QString REGS_JSON_KEY_ENDIAN_BE = QStringLiteral("be");

const QString REGS_JSON_KEY_TYPE_INT = QStringLiteral("integer");
const QString REGS_JSON_KEY_TYPE_UINT = QStringLiteral("uinteger");
const QString REGS_JSON_KEY_TYPE_BOOL = QStringLiteral("boolean");
const QString REGS_JSON_KEY_TYPE_TEXT = QStringLiteral("text");

const QString REGS_JSON_KEY_CODE_TS = QStringLiteral("ts");
const QString REGS_JSON_KEY_CODE_RSSI = QStringLiteral("rssi");
const QString REGS_JSON_KEY_CODE_GATEWAYID = QStringLiteral("gatewayId");
const QString REGS_JSON_KEY_CODE_DEVEUI = QStringLiteral("devEui");
const QString REGS_JSON_KEY_CODE_SNR = QStringLiteral("snr");
const QString REGS_JSON_KEY_CODE_FCNT = QStringLiteral("fcnt");

// Uses the keyword and type constants above, which this file defines first.
const QMap<QString, SServerDataTemplate> RegsServerDataTemplates = {
    {REGS_JSON_KEY_CODE_TS, {REGS_JSON_KEY_CODE_TS, 64, REGS_JSON_KEY_TYPE_UINT}},
    {REGS_JSON_KEY_CODE_RSSI, {REGS_JSON_KEY_CODE_RSSI, 16, REGS_JSON_KEY_TYPE_INT}},
    {REGS_JSON_KEY_CODE_GATEWAYID, {REGS_JSON_KEY_CODE_GATEWAYID, 64, REGS_JSON_KEY_TYPE_TEXT}},
    {REGS_JSON_KEY_CODE_DEVEUI, {REGS_JSON_KEY_CODE_DEVEUI, 64, REGS_JSON_KEY_TYPE_TEXT}},
    {REGS_JSON_KEY_CODE_SNR, {REGS_JSON_KEY_CODE_SNR, 16, REGS_JSON_KEY_TYPE_INT}},
    {REGS_JSON_KEY_CODE_FCNT, {REGS_JSON_KEY_CODE_FCNT, 32, REGS_JSON_KEY_TYPE_UINT}},
};
} // namespace REGS
