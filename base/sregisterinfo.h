#pragma once

#include <QString>

namespace REGS {
// One register entry of a device as the operator registers it.
struct SRegisterInfo
{
    QString name;
    int source = 0;
    int regOffset = 0; // from the device's start register
    int bitSize = 0;
    QString dataType;
    double startValue = 0.0;
    double gratingPeriod = 1.0;
    QString unit;
};
} // namespace REGS
