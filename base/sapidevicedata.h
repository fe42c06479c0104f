#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace API {
// One uplink of one end device, as the network server reports it.
struct SApiDeviceData
{
    QString devEui;
    quint64 ts = 0; // milliseconds since the Unix epoch
    QString gatewayId;
    bool ack = false;
    quint32 fcnt = 0;
    quint16 port = 0;
    QByteArray data;
    quint32 freq = 0;
    quint16 dr = 0;
    qint16 rssi = 0;
    double snr = 0.0;
    bool valid = false;
};
} // namespace API

Q_DECLARE_METATYPE(API::SApiDeviceData)
