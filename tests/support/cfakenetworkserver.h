#pragma once

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QUrl>

class QWebSocket;
class QWebSocketServer;

// A network server on loopback that speaks the client side's WebSocket JSON protocol and
// misbehaves on demand: it can answer the device list late or never, stay silent, drop its
// connections, and push uplinks. It records every message it receives with a time stamp.
class CFakeNetworkServer : public QObject
{
    Q_OBJECT
public:
    struct SReceivedMessage
    {
        qint64 timeMs; // since the server object was created
        QJsonObject message;
    };

    explicit CFakeNetworkServer(QObject* parent = nullptr);
    ~CFakeNetworkServer() override;

    // Listens on 127.0.0.1; port 0 lets the system choose.
    bool listen(quint16 port = 0);
    // Stops listening and drops every connection.
    void close();
    quint16 port() const;
    QUrl url() const;

    // Pings and logins are answered at once, every login accepted.
    // get_devices_resp is sent delayMs after the request; a negative delay means never.
    void setDevicesList(const QJsonArray& list, bool status = true, int delayMs = 0)
    {
        devices = list;
        devicesStatus = status;
        devicesDelayMs = delayMs;
    }

    // Pings are left unanswered while everything else is answered.
    void setPingsAnswered(bool answered) { pingsAnswered = answered; }
    // auth_resp is sent delayMs after the request, as a slow network server answers a login.
    void setLoginDelay(int delayMs) { loginDelayMs = delayMs; }

    // Sends one uplink record as an rx message.
    void pushRx(const QJsonObject& record);
    // Sends text as it is, which a JSON object could not carry (a key twice, say).
    void pushText(const QString& text);
    // Aborts every connection without a closing handshake, as a lost network does.
    void dropConnections();
    // The connections open now stop answering but stay open (a half-open link); new
    // connections are answered as usual.
    void muteConnections() { mutedClients = clients; }

    QList<SReceivedMessage> received(const QString& command) const;

signals:
    void clientConnected();

private:
    void acceptConnection();
    void answer(QWebSocket* client, const QString& text);
    void sendLater(QWebSocket* client, const QJsonObject& message, int delayMs);

    QWebSocketServer* server;
    QList<QWebSocket*> clients;
    QList<QWebSocket*> mutedClients;
    QList<SReceivedMessage> log;
    QElapsedTimer clock;

    QJsonArray devices;
    bool devicesStatus = true;
    int devicesDelayMs = 0;
    int loginDelayMs = 0;
    bool pingsAnswered = true;
};
