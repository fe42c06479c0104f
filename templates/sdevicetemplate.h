#pragma once

#include "sdevicepacket.h"
#include "sserverdata.h"

#include <QJsonObject>
#include <QMap>
#include <QString>

namespace REGS {
// How one kind of end device lays out its uplinks and where the values go in the register map.
struct SDeviceTemplate
{
    SDeviceTemplate() = default;
    explicit SDeviceTemplate(const QJsonObject& object);

    bool valid = false;
    QString appEui; // upper case; the registry's key for the template
    QString devType;
    QMap<QString, SServerData> serverData; // keyed by data code
    QMap<unsigned int, SDevicePacket> packets; // keyed by packet type
    QJsonObject json; // the template as read, handed to the browser as it is
};
} // namespace REGS
