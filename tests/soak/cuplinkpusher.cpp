#include "cuplinkpusher.h"

#include "cdevicefile.h"
#include "csimulatorserver.h"
#include "soaklayout.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const int TICK_MS = 10;
const int DAY_S = 86400;
const QString GATEWAY_ID = QStringLiteral("00800000A0005043");

QJsonObject counter(const QString& endianness, qint64 start)
{
    return {{"size", 4}, {"type", "uinteger"}, {"endianness", endianness}, {"generator", "counter"},
        {"start", start}, {"step", 1}};
}

QList<CSimulatedDevice> soakDevices()
{
    const QJsonObject packet {{"type", 1},
        {"fields", QJsonArray {counter("le", 1), counter("be", SoakLayout::CHECK_OFFSET + 1)}}};
    QJsonArray devices;
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device) {
        devices.append(QJsonObject {{"devEui", SoakLayout::devEui(device)},
            {"appEui", SoakLayout::APP_EUI}, {"name", QString("Soak %1").arg(device)},
            {"interval", DAY_S}, {"packets", QJsonArray {packet}}});
    }
    CDeviceFile file;
    file.parse(QJsonDocument(QJsonObject {{"devices", devices}}).toJson(), "soak devices");
    return file.devices();
}
} // namespace

CUplinkPusher::CUplinkPusher()
    : simulator(std::make_unique<CSimulatorServer>(soakDevices(), GATEWAY_ID,
        CSimulatorServer::SCredentials {SoakLayout::LOGIN, SoakLayout::PASSWORD})),
      sentTo(SoakLayout::DEVICE_COUNT, 0)
{
    connect(&timer, &QTimer::timeout, this, &CUplinkPusher::sendDue);
}

CUplinkPusher::~CUplinkPusher() = default;

bool CUplinkPusher::listen()
{
    return simulator->listen(QHostAddress::LocalHost, 0);
}

quint16 CUplinkPusher::port() const
{
    return simulator->port();
}

void CUplinkPusher::start(double uplinksPerSecond)
{
    rate = uplinksPerSecond;
    sinceStart = 0;
    clock.start();
    timer.start(TICK_MS);
}

void CUplinkPusher::stop()
{
    elapsedMs = clock.elapsed();
    timer.stop();
}

double CUplinkPusher::seconds() const
{
    return (timer.isActive() ? clock.elapsed() : elapsedMs) / 1000.0;
}

// Catches up with the rate: a late tick sends more, so the average holds on a busy machine.
void CUplinkPusher::sendDue()
{
    const qint64 due = qint64(clock.elapsed() * rate / 1000.0);
    for (; sinceStart < due; ++sinceStart) {
        if (simulator->sendUplink(nextDevice) == 0)
            ++unheardCount;
        ++sentTo[nextDevice];
        ++total;
        nextDevice = (nextDevice + 1) % SoakLayout::DEVICE_COUNT;
    }
}
