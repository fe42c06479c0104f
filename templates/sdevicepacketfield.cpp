#include "sdevicepacketfield.h"

#include "regsconstants.h"
#include "templatejson.h"
#include "templatetexts.h"

#include <QDebug>

namespace REGS {
SDevicePacketField::SDevicePacketField(const QJsonObject& object)
{
    if (isEmptyRecord(object, "SDevicePacketField"))
        return;
    // A wrong byte order would decode garbage, so it is refused before anything else.
    if (object.contains(REGS_JSON_KEY_ENDIANNESS)) {
        const QString endianness = object.value(REGS_JSON_KEY_ENDIANNESS).toString().toLower();
        if (endianness != REGS_JSON_KEY_ENDIAN_LE && endianness != REGS_JSON_KEY_ENDIAN_BE) {
            qDebug().noquote() << TemplateTexts::INVALID_ENDIANNESS;
            return;
        }
        bigEndian = endianness == REGS_JSON_KEY_ENDIAN_BE;
    }
    const QStringList keys = QStringList {REGS_JSON_KEY_PACKETBIAS, REGS_JSON_KEY_DATABITBIAS,
                                 REGS_JSON_KEY_DATABITSIZE, REGS_JSON_KEY_DATATYPE}
        + registerPlacementKeys();
    if (!hasRequiredKeys(object, keys, "SDevicePacketField"))
        return;

    packetBias = object.value(REGS_JSON_KEY_PACKETBIAS).toInt(0);
    dataBitBias = object.value(REGS_JSON_KEY_DATABITBIAS).toInt(0);
    dataBitSize = object.value(REGS_JSON_KEY_DATABITSIZE).toInt(0);
    dataType = object.value(REGS_JSON_KEY_DATATYPE).toString();
    readRegisterPlacement(object, *this);
    valid = true;
}
} // namespace REGS
