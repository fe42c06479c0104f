#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <memory>

class CSimulatorServer;

// The network server of the soak: the simulator with one device per soak device, whose uplinks
// it sends itself at a steady rate, going round the devices. The devices' own timers are set to
// a day, so every uplink is one this class sent and counted.
class CUplinkPusher : public QObject
{
    Q_OBJECT
public:
    CUplinkPusher();
    ~CUplinkPusher() override;

    bool listen();
    quint16 port() const;
    void start(double uplinksPerSecond);
    void stop();

    // Uplinks sent to the device so far, which is also the sequence number of its last one.
    quint32 sent(int device) const { return sentTo[device]; }
    qint64 totalSent() const { return total; }
    // Uplinks that went to no logged-in connection: lost before they reached the service.
    qint64 unheard() const { return unheardCount; }
    double seconds() const;

private:
    void sendDue();

    std::unique_ptr<CSimulatorServer> simulator;
    QVector<quint32> sentTo;
    QTimer timer;
    QElapsedTimer clock;
    double rate = 0;
    qint64 sinceStart = 0;
    qint64 total = 0;
    qint64 unheardCount = 0;
    qint64 elapsedMs = 0;
    int nextDevice = 0;
};
