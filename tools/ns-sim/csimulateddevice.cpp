#include "csimulateddevice.h"

#include "simprotocol.h"

#include <QRandomGenerator>

#include <iterator>

namespace {
// How many uplinks a device keeps for get_data_req.
const int HISTORY_SIZE = 50;
// Radio values stay within what a gateway reports for a working link.
const int RSSI_MIN = -120;
const int RSSI_MAX = -40;
const int RSSI_STEP = 2;
const int SNR_TENTHS_MIN = -150;
const int SNR_TENTHS_MAX = 120;
const int SNR_TENTHS_STEP = 4;
// The three default channels of EU868, spreading factor 7 (data rate 5), application port 2.
const qint64 CHANNELS_HZ[] = {868100000, 868300000, 868500000};
const int DATA_RATE = 5;
const int APPLICATION_PORT = 2;
} // namespace

CSimulatedDevice::CSimulatedDevice(const SIdentity& identity, int intervalMs,
    const QList<CPacketGenerator>& packets, int rssi, double snr)
    : id(identity),
      interval(intervalMs),
      packets(packets),
      rssi(CValueGenerator::DRIFT, qBound(RSSI_MIN, rssi, RSSI_MAX), RSSI_MIN, RSSI_MAX, RSSI_STEP),
      snrTenths(CValueGenerator::DRIFT, qBound(SNR_TENTHS_MIN, qRound(snr * 10), SNR_TENTHS_MAX),
          SNR_TENTHS_MIN, SNR_TENTHS_MAX, SNR_TENTHS_STEP)
{
}

QJsonObject CSimulatedDevice::nextUplink(
    qint64 nowMs, const QString& gatewayId, QRandomGenerator& random)
{
    using namespace SimProtocol;
    const QByteArray payload = packets[nextPacket].next(random);
    nextPacket = (nextPacket + 1) % packets.size();
    const QJsonObject uplink {{KEY_DEV_EUI, id.devEui}, {KEY_APP_EUI, id.appEui},
        {KEY_TYPE, TYPE_UNCONF_UP}, {KEY_TS, nowMs}, {KEY_GATEWAY_ID, gatewayId}, {KEY_ACK, false},
        {KEY_FCNT, qint64(frameCounter++)}, {KEY_PORT, APPLICATION_PORT},
        {KEY_DATA, QString::fromLatin1(payload.toHex())},
        {KEY_FREQ, CHANNELS_HZ[random.bounded(int(std::size(CHANNELS_HZ)))]}, {KEY_DR, DATA_RATE},
        {KEY_RSSI, rssi.value()}, {KEY_SNR, snrTenths.value() / 10.0}};
    rssi.advance(random);
    snrTenths.advance(random);
    history.prepend(uplink);
    if (history.size() > HISTORY_SIZE)
        history.removeLast();
    return uplink;
}

QJsonArray CSimulatedDevice::recentUplinks(int limit) const
{
    QJsonArray uplinks;
    for (int i = 0; i < history.size() && i < limit; ++i)
        uplinks.append(history[i]);
    return uplinks;
}
