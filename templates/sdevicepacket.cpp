#include "sdevicepacket.h"

#include "regsconstants.h"
#include "templatejson.h"
#include "templatetexts.h"

#include <QDebug>
#include <QJsonArray>

namespace REGS {
SDevicePacket::SDevicePacket(const QJsonObject& object)
{
    if (object.isEmpty())
        return;
    const QStringList keys = {REGS_JSON_KEY_PACKETTYPE, REGS_JSON_KEY_PACKETFIELDS};
    if (!hasRequiredKeys(object, keys, "SDevicePacket"))
        return;

    packetType = object.value(REGS_JSON_KEY_PACKETTYPE).toInt(0);
    // Without a size no payload matches the packet, but the template stays usable.
    const QJsonValue size = object.value(REGS_JSON_KEY_PACKETSIZE);
    packetSize = size.isUndefined() || size.isNull() ? 0 : size.toInt(0);

    const QJsonArray fieldArray = object.value(REGS_JSON_KEY_PACKETFIELDS).toArray();
    if (fieldArray.isEmpty()) {
        qDebug().noquote() << TemplateTexts::PACKET_FIELDS_EMPTY;
        return;
    }
    for (const QJsonValue& element : fieldArray) {
        const SDevicePacketField field(element.toObject());
        if (field.valid)
            fields.append(field);
    }
    valid = !fields.isEmpty();
}
} // namespace REGS
