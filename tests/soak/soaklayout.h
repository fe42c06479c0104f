#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// The soak's devices: each one's uplink (packet type 1) carries a sequence number (4 bytes,
// little-endian) counting its uplinks from 1, and a check value (4 bytes, big-endian) that is
// always the sequence number plus CHECK_OFFSET. They land in registers 0-1 and 2-3 after the
// device's start register, so a read mixing the registers of two uplinks shows at once.
namespace SoakLayout {
inline const QString APP_EUI = QStringLiteral("50AC000000000001");
inline const QString DEVICE_TYPE = QStringLiteral("SoakCounter");
// For the network server and the web interface alike.
inline const QString LOGIN = QStringLiteral("soak");
inline const QString PASSWORD = QStringLiteral("soak-pass");
const int DEVICE_COUNT = 1000;
const int PORT_COUNT = 5;
const int REGISTERS = 4;
const quint32 CHECK_OFFSET = 0x40000000;

inline QString devEui(int device)
{
    return QStringLiteral("50AC0000%1").arg(device, 8, 16, QLatin1Char('0')).toUpper();
}

// Devices go round the ports, so each port serves DEVICE_COUNT / PORT_COUNT of them back to back.
inline int portIndex(int device)
{
    return device % PORT_COUNT;
}

inline int startRegister(int device)
{
    return (device / PORT_COUNT) * REGISTERS;
}

// The value getRegisterValues shows for the device's register at this offset (the answer names
// registers by address); "-", before any uplink, reads as 0.
inline quint32 shownValue(const QJsonArray& registers, int device, int offset)
{
    for (const QJsonValue& entry : registers) {
        if (entry.toObject().value("reg_map_bias").toInt() == startRegister(device) + offset)
            return entry.toObject().value("value").toString().toUInt();
    }
    return 0;
}
} // namespace SoakLayout
