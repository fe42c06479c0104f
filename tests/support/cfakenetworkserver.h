#pragma once

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class QWebSocket;
class QWebSocketServer;

// A network server on loopback that speaks the client side's WebSocket JSON protocol and
// misbehaves on demand: it can refuse or ignore logins, stay silent, answer late, drop its
// connections, and push uplinks. It records every message it receives with a time stamp.
class CFakeNetworkServer : public QObject
{
    Q_OBJECT
public:
    enum EAuthMode { AUTH_ACCEPT, AUTH_REFUSE, AUTH_SILENT };

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
    int connectionCount() const;

    // Behaviour; the defaults answer everything at once and accept every login.
    void setSilent(bool silent);
    void setAnswerPings(bool answer);
    void setAuthMode(EAuthMode mode, const QString& errString = QString());
    void setDevicesList(const QJsonArray& devices, bool status = true);
    // Delay of get_devices_resp in milliseconds; negative means never answer.
    void setDevicesListDelay(int delayMs);
    void setDataList(const QJsonArray& records, bool status = true);

    // Sends an object to every connected client.
    void sendToAll(const QJsonObject& message);
    // Sends any text, JSON or not, to every connected client.
    void sendTextToAll(const QString& text);
    // Sends one uplink record as an rx message.
    void pushRx(const QJsonObject& record);
    // Aborts every connection without a closing handshake, as a lost network does.
    void dropConnections();
    // The connections open now stop answering but stay open (a half-open link); new
    // connections are answered as usual.
    void muteConnections();

    QList<SReceivedMessage> received() const;
    QList<SReceivedMessage> received(const QString& command) const;
    void clearReceived();

signals:
    void clientConnected();
    void messageReceived(const QJsonObject& message);

private:
    void acceptConnection();
    void answer(QWebSocket* client, const QString& text);
    void answerAuth(QWebSocket* client);
    void answerDevicesList(QWebSocket* client);
    void answerData(QWebSocket* client, const QJsonObject& request);
    static void send(QWebSocket* client, const QJsonObject& message);

    QWebSocketServer* server;
    QList<QWebSocket*> clients;
    QList<QWebSocket*> mutedClients;
    QList<SReceivedMessage> log;
    QElapsedTimer clock;

    bool silent = false;
    bool answerPings = true;
    EAuthMode authMode = AUTH_ACCEPT;
    QString authErrString;
    QJsonArray devices;
    bool devicesStatus = true;
    int devicesDelayMs = 0;
    QJsonArray dataRecords;
    bool dataStatus = true;
};
