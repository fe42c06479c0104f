#pragma once

#include <QMetaType>
#include <QString>

namespace API {
// One end device of the network server's device list.
struct SServerDeviceInfo
{
    QString devEui;
    QString appEui;
    QString devName;
};
} // namespace API

Q_DECLARE_METATYPE(API::SServerDeviceInfo)
