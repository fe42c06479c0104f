// Reads arbitrary bytes as a text message from the network server and hands the object to every
// parser of the client's incoming messages: the uplink record of rx, the device list of
// get_devices_resp and the uplink choice of get_data_resp. Each parser only looks for its own
// keys, so every input goes to all three.

#include "apimessages.h"
#include "fuzzsupport.h"

#include <cstdint>

namespace {
// A record the client forwards has its EUIs upper-cased and one gateway only; one it drops is
// recognised by its empty device EUI.
void checkUplink(const API::SApiDeviceData& record)
{
    if (!record.valid) {
        check(record.devEui.isEmpty());
        return;
    }
    check(record.devEui == record.devEui.toUpper());
    check(record.gatewayId == record.gatewayId.toUpper());
    check(!record.gatewayId.contains(QLatin1Char('+')));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    silenceQtMessages();

    // The WebSocket hands the client text; invalid UTF-8 arrives as replacement characters.
    const QString message
        = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const std::optional<QJsonDocument> document = readJson(message.toUtf8());
    if (!document || !document->isObject())
        return 0;
    const QJsonObject object = document->object();

    checkUplink(API::readUplink(object));
    for (const API::SServerDeviceInfo& device : API::readDevicesList(object))
        check(!device.appEui.isEmpty());
    const API::SApiDeviceData chosen = API::chooseLastUplink(object);
    checkUplink(chosen);
    if (chosen.valid)
        check(!chosen.devEui.isEmpty());
    return 0;
}
