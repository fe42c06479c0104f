#pragma once

#include "csimulateddevice.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QSet>

class QWebSocket;
class QWebSocketServer;

// The simulated network server: answers the gateway's requests (ping, login, device list,
// recent uplinks of a device) and pushes every device's uplinks, each on its own interval, to
// the connections that have logged in. Devices send whether anyone listens, as real ones do:
// frame counters and recent uplinks go on while no gateway is connected.
class CSimulatorServer : public QObject
{
    Q_OBJECT
public:
    struct SCredentials
    {
        QString login;
        QString password;
    };

    CSimulatorServer(const QList<CSimulatedDevice>& devices, const QString& gatewayId,
        const SCredentials& credentials, QObject* parent = nullptr);
    ~CSimulatorServer() override;

    // Starts listening and the devices' timers; port 0 lets the system choose.
    bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const;
    quint16 port() const;
    // Sends the device's next uplink now, besides its own timer (a test pacing the uplinks
    // itself); the number of logged-in connections it went to.
    int sendUplink(int deviceIndex);

private:
    void acceptConnections();
    void answer(QWebSocket* client, const QString& text);
    QJsonObject login(QWebSocket* client, const QJsonObject& request);
    QJsonObject devicesList() const;
    QJsonObject recentUplinks(const QJsonObject& request) const;

    QWebSocketServer* server;
    QList<CSimulatedDevice> devices;
    QString gatewayId;
    SCredentials credentials;
    QSet<QWebSocket*> loggedIn;
    QRandomGenerator random;
};
