#include "cfakenetworkserver.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {
void send(QWebSocket* client, const QJsonObject& message)
{
    client->sendTextMessage(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}
} // namespace

CFakeNetworkServer::CFakeNetworkServer(QObject* parent)
    : QObject(parent),
      server(new QWebSocketServer("fake network server", QWebSocketServer::NonSecureMode, this))
{
    clock.start();
    connect(server, &QWebSocketServer::newConnection, this, &CFakeNetworkServer::acceptConnection);
}

CFakeNetworkServer::~CFakeNetworkServer()
{
    close();
}

bool CFakeNetworkServer::listen(quint16 port)
{
    return server->listen(QHostAddress::LocalHost, port);
}

void CFakeNetworkServer::close()
{
    server->close();
    dropConnections();
}

quint16 CFakeNetworkServer::port() const
{
    return server->serverPort();
}

QUrl CFakeNetworkServer::url() const
{
    return QUrl(QString("ws://127.0.0.1:%1").arg(port()));
}

void CFakeNetworkServer::pushRx(const QJsonObject& record)
{
    QJsonObject message = record;
    message.insert("cmd", "rx");
    for (QWebSocket* client : qAsConst(clients))
        send(client, message);
}

void CFakeNetworkServer::pushText(const QString& text)
{
    for (QWebSocket* client : qAsConst(clients))
        client->sendTextMessage(text);
}

void CFakeNetworkServer::dropConnections()
{
    // abort() emits disconnected, which removes the client from the list.
    const QList<QWebSocket*> open = clients;
    for (QWebSocket* client : open)
        client->abort();
}

QList<CFakeNetworkServer::SReceivedMessage> CFakeNetworkServer::received(
    const QString& command) const
{
    QList<SReceivedMessage> matching;
    for (const SReceivedMessage& entry : log) {
        if (entry.message.value("cmd").toString() == command)
            matching.append(entry);
    }
    return matching;
}

void CFakeNetworkServer::acceptConnection()
{
    while (QWebSocket* client = server->nextPendingConnection()) {
        clients.append(client);
        connect(client, &QWebSocket::textMessageReceived, this,
            [this, client](const QString& text) { answer(client, text); });
        connect(client, &QWebSocket::disconnected, this, [this, client]() {
            clients.removeAll(client);
            mutedClients.removeAll(client);
            client->deleteLater();
        });
        emit clientConnected();
    }
}

void CFakeNetworkServer::answer(QWebSocket* client, const QString& text)
{
    const QJsonObject request = QJsonDocument::fromJson(text.toUtf8()).object();
    log.append({clock.elapsed(), request});
    if (mutedClients.contains(client))
        return;

    const QString command = request.value("cmd").toString();
    if (command == "ping_req") {
        if (pingsAnswered)
            send(client, {{"cmd", "ping_resp"}});
    } else if (command == "auth_req") {
        sendLater(client, {{"cmd", "auth_resp"}, {"status", true}, {"token", "fake-token"}},
            loginDelayMs);
    } else if (command == "get_devices_req" && devicesDelayMs >= 0) {
        sendLater(client,
            {{"cmd", "get_devices_resp"}, {"status", devicesStatus}, {"devices_list", devices}},
            devicesDelayMs);
    }
}

// Without a delay the answer goes out at once, ahead of anything the test sends next.
void CFakeNetworkServer::sendLater(QWebSocket* client, const QJsonObject& message, int delayMs)
{
    if (delayMs == 0) {
        send(client, message);
        return;
    }
    QPointer<QWebSocket> target(client);
    QTimer::singleShot(delayMs, this, [target, message]() {
        if (target)
            send(target, message);
    });
}
