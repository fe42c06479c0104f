// Decodes arbitrary uplinks (server values, register scaling and payload bytes all taken from
// the input) with a fixed template that holds every kind of field the decoder knows, and checks
// that every register text it writes fits a register.

#include "cpayloaddecoder.h"
#include "fuzzsupport.h"

#include <QJsonDocument>

#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

namespace {
// Packet 1 holds each numeric size in both byte orders and both signs, packet 2 text fields and
// fields the decoder skips (bit layouts, odd sizes, unknown types, bytes past the payload).
const char TEMPLATE[] = R"({
  "app_eui": "0102030405060708", "dev_type": "every field",
  "server_data": [
    {"data_code": "ts", "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 32, "data_name": "ts"},
    {"data_code": "rssi", "reg_map_bias": 2, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "rssi"},
    {"data_code": "snr", "reg_map_bias": 3, "reg_bit_bias": 0, "reg_bit_size": 32, "data_name": "snr"},
    {"data_code": "fcnt", "reg_map_bias": 5, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "fcnt"},
    {"data_code": "devEui", "reg_map_bias": 6, "reg_bit_bias": 0, "reg_bit_size": 64, "data_name": "dev"},
    {"data_code": "gatewayId", "reg_map_bias": 10, "reg_bit_bias": 0, "reg_bit_size": 40, "data_name": "gw"}
  ],
  "device_packets": [
    {"packet_type": 1, "packet_size": 31, "packet_fields": [
      {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 8, "data_type": "integer", "reg_map_bias": 20, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "i8"},
      {"packet_bias": 2, "data_bit_bias": 0, "data_bit_size": 8, "data_type": "uinteger", "reg_map_bias": 21, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "u8"},
      {"packet_bias": 3, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "integer", "endianness": "be", "reg_map_bias": 22, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "i16"},
      {"packet_bias": 5, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger", "endianness": "le", "reg_map_bias": 23, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "u16"},
      {"packet_bias": 7, "data_bit_bias": 0, "data_bit_size": 32, "data_type": "integer", "endianness": "le", "reg_map_bias": 24, "reg_bit_bias": 0, "reg_bit_size": 32, "data_name": "i32"},
      {"packet_bias": 11, "data_bit_bias": 0, "data_bit_size": 32, "data_type": "uinteger", "endianness": "be", "reg_map_bias": 26, "reg_bit_bias": 0, "reg_bit_size": 32, "data_name": "u32"},
      {"packet_bias": 15, "data_bit_bias": 0, "data_bit_size": 64, "data_type": "integer", "endianness": "be", "reg_map_bias": 28, "reg_bit_bias": 0, "reg_bit_size": 64, "data_name": "i64"},
      {"packet_bias": 23, "data_bit_bias": 0, "data_bit_size": 64, "data_type": "uinteger", "endianness": "le", "reg_map_bias": 32, "reg_bit_bias": 0, "reg_bit_size": 64, "data_name": "u64"}
    ]},
    {"packet_type": 2, "packet_size": 17, "packet_fields": [
      {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 64, "data_type": "text", "reg_map_bias": 40, "reg_bit_bias": 0, "reg_bit_size": 64, "data_name": "t64"},
      {"packet_bias": 9, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "text", "reg_map_bias": 44, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "t16"},
      {"packet_bias": 11, "data_bit_bias": 4, "data_bit_size": 8, "data_type": "uinteger", "reg_map_bias": 45, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "bits"},
      {"packet_bias": 11, "data_bit_bias": 0, "data_bit_size": 24, "data_type": "uinteger", "reg_map_bias": 46, "reg_bit_bias": 0, "reg_bit_size": 32, "data_name": "u24"},
      {"packet_bias": 14, "data_bit_bias": 0, "data_bit_size": 8, "data_type": "boolean", "reg_map_bias": 48, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "bool"},
      {"packet_bias": 15, "data_bit_bias": 0, "data_bit_size": 32, "data_type": "integer", "reg_map_bias": 49, "reg_bit_bias": 0, "reg_bit_size": 32, "data_name": "past end"},
      {"packet_bias": -1, "data_bit_bias": 0, "data_bit_size": 8, "data_type": "integer", "reg_map_bias": 51, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "before start"}
    ]},
    {"packet_type": 255, "packet_size": 1, "packet_fields": [
      {"packet_bias": 0, "data_bit_bias": 0, "data_bit_size": 8, "data_type": "uinteger", "reg_map_bias": 52, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "type byte"}
    ]}
  ]
})";
const int DIGITS_PER_REGISTER = 4;
const int MAX_FULL_TEXT = 16;

const REGS::SDeviceTemplate& fixedTemplate()
{
    static const REGS::SDeviceTemplate deviceTemplate(
        QJsonDocument::fromJson(QByteArray(TEMPLATE)).object());
    check(deviceTemplate.valid);
    check(deviceTemplate.packets.size() == 3);
    check(deviceTemplate.serverData.size() == 6);
    return deviceTemplate;
}

QString consumeText(FuzzedDataProvider& input)
{
    return QString::fromStdString(input.ConsumeRandomLengthString(24));
}

API::SApiDeviceData consumeUplink(FuzzedDataProvider& input)
{
    API::SApiDeviceData uplink;
    uplink.devEui = consumeText(input);
    uplink.gatewayId = consumeText(input);
    uplink.ts = input.ConsumeIntegral<quint64>();
    uplink.fcnt = input.ConsumeIntegral<quint32>();
    uplink.rssi = input.ConsumeIntegral<qint16>();
    uplink.snr = input.ConsumeFloatingPoint<double>();
    uplink.valid = true;
    return uplink;
}

// The register's scaling: as stored by default, or any pair of doubles.
DB::SDbDevRegParam consumeScaling(FuzzedDataProvider& input)
{
    DB::SDbDevRegParam param;
    if (input.ConsumeBool()) {
        param.startValue = input.ConsumeFloatingPoint<double>();
        param.gratingPeriod = input.ConsumeFloatingPoint<double>();
    }
    return param;
}

void checkTexts(const DB::SDbDeviceRegDataSet& dataSet)
{
    for (const DB::SDbDeviceRegDataRewrite& rewrite : dataSet.rewrites) {
        check(!rewrite.value.isEmpty());
        check(rewrite.value.size() <= DIGITS_PER_REGISTER);
        // Numbers take at most 16 digits, texts at most their 8 bytes, EUIs their 16 digits.
        check(rewrite.fullValue.size() <= MAX_FULL_TEXT);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    silenceQtMessages();
    const REGS::SDeviceTemplate& deviceTemplate = fixedTemplate();

    FuzzedDataProvider input(data, size);
    API::SApiDeviceData uplink = consumeUplink(input);
    const DB::SDbDevRegParam scaling = consumeScaling(input);
    const std::vector<char> payload = input.ConsumeRemainingBytes<char>();
    uplink.data = QByteArray(payload.data(), static_cast<int>(payload.size()));

    DB::SDeviceRegMapDescription device;
    device.devEui = uplink.devEui;
    device.appEui = deviceTemplate.appEui;
    device.startAddr = 1000;
    const CPayloadDecoder::RegisterParamLookup lookup
        = [&scaling](const QString&, uint) { return scaling; };
    DB::SDbDeviceRegDataSet dataSet;
    const bool decoded = CPayloadDecoder::decode(uplink, device, deviceTemplate, lookup, dataSet);
    // Nothing is stored for a payload that does not match.
    check(decoded || dataSet.rewrites.isEmpty());
    checkTexts(dataSet);
    return 0;
}
