#include "sdevicetemplate.h"

#include "regsconstants.h"
#include "templatejson.h"
#include "templatetexts.h"

#include <QDebug>
#include <QJsonArray>

namespace REGS {
SDeviceTemplate::SDeviceTemplate(const QJsonObject& object) : json(object)
{
    if (isEmptyRecord(object, "SDeviceTemplate"))
        return;
    const QStringList keys
        = {REGS_JSON_KEY_APPEUI, REGS_JSON_KEY_DEVTYPE, REGS_JSON_KEY_DEVPACKETS};
    if (!hasRequiredKeys(object, keys, "SDeviceTemplate"))
        return;

    appEui = object.value(REGS_JSON_KEY_APPEUI).toString().toUpper();
    devType = object.value(REGS_JSON_KEY_DEVTYPE).toString();
    // A later packet of the same type replaces an earlier one.
    for (const QJsonValue& element : object.value(REGS_JSON_KEY_DEVPACKETS).toArray()) {
        const SDevicePacket packet(element.toObject());
        if (packet.valid)
            packets.insert(static_cast<unsigned int>(packet.packetType), packet);
    }
    if (packets.isEmpty()) {
        qDebug().noquote() << TemplateTexts::DEVICE_PACKETS_EMPTY;
        return;
    }
    valid = true;

    // Server data is optional; a missing, null or non-array value leaves the map empty.
    for (const QJsonValue& element : object.value(REGS_JSON_KEY_SERVERDATA).toArray()) {
        const SServerData entry(element.toObject());
        if (entry.valid)
            serverData.insert(entry.dataCode, entry);
    }
}
} // namespace REGS
