// Reads arbitrary bytes as a device template file, the way the registry loads one, and decodes a
// payload of each packet's size with every template that comes out valid: an operator's file
// must never make the service read out of bounds or compute undefined values.

#include "cpayloaddecoder.h"
#include "fuzzsupport.h"
#include "regsconstants.h"
#include "sdevicetemplate.h"

#include <cstdint>

namespace {
// Real packets are a few dozen bytes; larger sizes only cost allocation.
const int MAX_DECODED_PACKET_SIZE = 256;

void checkTemplate(const REGS::SDeviceTemplate& deviceTemplate)
{
    if (!deviceTemplate.valid)
        return;
    check(!deviceTemplate.packets.isEmpty());
    check(deviceTemplate.appEui == deviceTemplate.appEui.toUpper());
    for (auto packet = deviceTemplate.packets.cbegin(); packet != deviceTemplate.packets.cend();
         ++packet) {
        check(packet->valid);
        check(!packet->fields.isEmpty());
        check(packet.key() == static_cast<unsigned int>(packet->packetType));
    }
    for (auto entry = deviceTemplate.serverData.cbegin(); entry != deviceTemplate.serverData.cend();
         ++entry) {
        check(entry->valid);
        check(entry.key() == entry->dataCode);
        check(REGS::RegsServerDataTemplates.contains(entry->dataCode));
    }
}

// Decodes a payload of the packet's size whose bytes run up from the type byte, with a scaling
// that makes every number go through the floating-point path.
void decodePackets(const REGS::SDeviceTemplate& deviceTemplate)
{
    API::SApiDeviceData uplink;
    uplink.devEui = QStringLiteral("0011223344556677");
    uplink.gatewayId = QStringLiteral("8899AABBCCDDEEFF");
    uplink.ts = 1700000000123;
    uplink.rssi = -70;
    uplink.snr = -7.5;
    uplink.fcnt = 70000;
    DB::SDeviceRegMapDescription device;
    device.devEui = uplink.devEui;
    device.startAddr = 100;
    const CPayloadDecoder::RegisterParamLookup scaling = [](const QString&, uint regAddr) {
        DB::SDbDevRegParam param;
        param.regAddr = regAddr;
        param.startValue = -1.5;
        param.gratingPeriod = 0.1;
        return param;
    };
    for (const REGS::SDevicePacket& packet : deviceTemplate.packets) {
        // Only types 0 to 255 can be a payload's first byte.
        if (packet.packetType < 0 || packet.packetType > 255 || packet.packetSize < 1
            || packet.packetSize > MAX_DECODED_PACKET_SIZE)
            continue;
        uplink.data.resize(packet.packetSize);
        for (int i = 0; i < packet.packetSize; ++i)
            uplink.data[i] = static_cast<char>(packet.packetType + i);
        DB::SDbDeviceRegDataSet dataSet;
        check(CPayloadDecoder::decode(uplink, device, deviceTemplate, scaling, dataSet));
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    silenceQtMessages();

    // The registry reads each file once, so Qt's loss of memory on a repeated key costs it
    // nothing; here such files are left out all the same. Text that is not JSON gives an empty
    // document, which the registry skips.
    const std::optional<QJsonDocument> document = readJson(inputBytes(data, size));
    if (!document || document->isEmpty())
        return 0;
    const REGS::SDeviceTemplate deviceTemplate(document->object());
    checkTemplate(deviceTemplate);
    if (deviceTemplate.valid)
        decodePackets(deviceTemplate);
    return 0;
}
