#pragma once

#include <QJsonObject>
#include <QString>

namespace REGS {
// One server-supplied value (time stamp, RSSI, ...) and the registers it goes to.
struct SServerData
{
    SServerData() = default;
    explicit SServerData(const QJsonObject& object);

    QString dataCode;
    int bitSize = 0; // fixed by the data code, not by the file
    QString dataType; // fixed by the data code, not by the file
    int regMapBias = 0; // first register, relative to the device's start register
    int regBitBias = 0;
    int regBitSize = 0;
    QString dataName;
    bool valid = false;
};
} // namespace REGS
