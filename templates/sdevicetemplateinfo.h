#pragma once

#include <QString>

namespace REGS {
// Summary of one loaded template.
struct SDeviceTemplateInfo
{
    QString appEui;
    QString devType;
};
} // namespace REGS
