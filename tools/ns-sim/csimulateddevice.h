#pragma once

#include "cpacketgenerator.h"
#include "cvaluegenerator.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

class QRandomGenerator;

// One simulated end device: its identity, how often it sends, the payloads of its packet types
// (sent in turn) and a radio link whose RSSI and SNR wander a little from uplink to uplink.
class CSimulatedDevice
{
public:
    struct SIdentity
    {
        QString devEui; // 16 hexadecimal digits, upper case
        QString appEui;
        QString name;
    };

    CSimulatedDevice() = default;
    CSimulatedDevice(const SIdentity& identity, int intervalMs,
        const QList<CPacketGenerator>& packets, int rssi, double snr);

    const SIdentity& identity() const { return id; }
    int intervalMs() const { return interval; }

    // The uplink record (the keys of an rx message but "cmd") of the device's next uplink as heard
    // now by the gateway; it is kept among the recent uplinks.
    QJsonObject nextUplink(qint64 nowMs, const QString& gatewayId, QRandomGenerator& random);
    // The most recent uplinks, newest first, at most limit of them.
    QJsonArray recentUplinks(int limit) const;

private:
    SIdentity id;
    int interval = 0;
    QList<CPacketGenerator> packets;
    int nextPacket = 0;
    quint32 frameCounter = 0;
    CValueGenerator rssi;
    CValueGenerator snrTenths;
    QList<QJsonObject> history; // newest first
};
