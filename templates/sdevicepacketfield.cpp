#include "sdevicepacketfield.h"

#include "regsconstants.h"
#include "templatejson.h"

#include <QDebug>

namespace REGS {
SDevicePacketField::SDevicePacketField(const QJsonObject& object)
{
    if (object.isEmpty()) {
        qDebug().noquote() << "[SDevicePacketField] Empty input JSON";
        return;
    }
    // A wrong byte order would decode garbage, so it is refused before anything else.
    if (object.contains(REGS_JSON_KEY_ENDIANNESS)) {
        const QString endianness = object.value(REGS_JSON_KEY_ENDIANNESS).toString().toLower();
        if (endianness != REGS_JSON_KEY_ENDIAN_LE && endianness != REGS_JSON_KEY_ENDIAN_BE) {
            qDebug().noquote() << "[SDevicePacketField] Invalid endianness field value, can be "
                                  "\"le\" or \"be\"";
            return;
        }
        bigEndian = endianness == REGS_JSON_KEY_ENDIAN_BE;
    }
    const QStringList keys = {REGS_JSON_KEY_PACKETBIAS, REGS_JSON_KEY_DATABITBIAS,
        REGS_JSON_KEY_DATABITSIZE, REGS_JSON_KEY_DATATYPE, REGS_JSON_KEY_REGMAPBIAS,
        REGS_JSON_KEY_REGBITBIAS, REGS_JSON_KEY_REGBITSIZE, REGS_JSON_KEY_DATANAME};
    if (!hasRequiredKeys(object, keys, "SDevicePacketField"))
        return;

    packetBias = object.value(REGS_JSON_KEY_PACKETBIAS).toInt(0);
    dataBitBias = object.value(REGS_JSON_KEY_DATABITBIAS).toInt(0);
    dataBitSize = object.value(REGS_JSON_KEY_DATABITSIZE).toInt(0);
    dataType = object.value(REGS_JSON_KEY_DATATYPE).toString();
    regMapBias = object.value(REGS_JSON_KEY_REGMAPBIAS).toInt(0);
    regBitBias = object.value(REGS_JSON_KEY_REGBITBIAS).toInt(0);
    regBitSize = object.value(REGS_JSON_KEY_REGBITSIZE).toInt(0);
    dataName = object.value(REGS_JSON_KEY_DATANAME).toString();
    valid = true;
}
} // namespace REGS
