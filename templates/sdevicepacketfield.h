#pragma once

#include <QJsonObject>
#include <QString>

namespace REGS {
// One value inside a payload layout and the registers it goes to.
struct SDevicePacketField
{
    SDevicePacketField() = default;
    explicit SDevicePacketField(const QJsonObject& object);

    int packetBias = 0; // byte offset; the packet type byte is byte 0
    int dataBitBias = 0;
    int dataBitSize = 0;
    QString dataType;
    int regMapBias = 0; // first register, relative to the device's start register
    int regBitBias = 0;
    int regBitSize = 0;
    QString dataName;
    bool valid = false;
    bool bigEndian = false;
};
} // namespace REGS
