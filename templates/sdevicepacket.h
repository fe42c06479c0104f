#pragma once

#include "sdevicepacketfield.h"

#include <QJsonObject>
#include <QList>

namespace REGS {
// One payload layout, selected by the payload's first byte.
struct SDevicePacket
{
    SDevicePacket() = default;
    explicit SDevicePacket(const QJsonObject& object);

    int packetType = 0;
    int packetSize = 0; // whole payload length including the type byte; 0 when not given
    QList<SDevicePacketField> fields; // file order, invalid entries left out
    bool valid = false;
};
} // namespace REGS
