#include "tests/support/cfakenetworkserver.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

CFakeNetworkServer::CFakeNetworkServer(QObject* parent)
    : QObject(parent),
      server(new QWebSocketServer(
          QStringLiteral("fake network server"), QWebSocketServer::NonSecureMode, this))
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
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port()));
}

int CFakeNetworkServer::connectionCount() const
{
    return clients.size();
}

void CFakeNetworkServer::setSilent(bool newSilent)
{
    silent = newSilent;
}

void CFakeNetworkServer::setAnswerPings(bool answer)
{
    answerPings = answer;
}

void CFakeNetworkServer::setAuthMode(EAuthMode mode, const QString& errString)
{
    authMode = mode;
    authErrString = errString;
}

void CFakeNetworkServer::setDevicesList(const QJsonArray& newDevices, bool status)
{
    devices = newDevices;
    devicesStatus = status;
}

void CFakeNetworkServer::setDevicesListDelay(int delayMs)
{
    devicesDelayMs = delayMs;
}

void CFakeNetworkServer::setDataList(const QJsonArray& records, bool status)
{
    dataRecords = records;
    dataStatus = status;
}

void CFakeNetworkServer::sendToAll(const QJsonObject& message)
{
    sendTextToAll(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void CFakeNetworkServer::sendTextToAll(const QString& text)
{
    for (QWebSocket* client : qAsConst(clients))
        client->sendTextMessage(text);
}

void CFakeNetworkServer::pushRx(const QJsonObject& record)
{
    QJsonObject message = record;
    message.insert(QStringLiteral("cmd"), QStringLiteral("rx"));
    sendToAll(message);
}

void CFakeNetworkServer::dropConnections()
{
    // abort() emits disconnected, which removes the client from the list.
    const QList<QWebSocket*> open = clients;
    for (QWebSocket* client : open)
        client->abort();
}

void CFakeNetworkServer::muteConnections()
{
    mutedClients = clients;
}

QList<CFakeNetworkServer::SReceivedMessage> CFakeNetworkServer::received() const
{
    return log;
}

QList<CFakeNetworkServer::SReceivedMessage> CFakeNetworkServer::received(
    const QString& command) const
{
    QList<SReceivedMessage> matching;
    for (const SReceivedMessage& entry : log) {
        if (entry.message.value(QStringLiteral("cmd")).toString() == command)
            matching.append(entry);
    }
    return matching;
}

void CFakeNetworkServer::clearReceived()
{
    log.clear();
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
    emit messageReceived(request);
    if (silent || mutedClients.contains(client))
        return;

    const QString command = request.value(QStringLiteral("cmd")).toString();
    if (command == QLatin1String("ping_req") && answerPings)
        send(client, {{QStringLiteral("cmd"), QStringLiteral("ping_resp")}});
    else if (command == QLatin1String("auth_req"))
        answerAuth(client);
    else if (command == QLatin1String("get_devices_req"))
        answerDevicesList(client);
    else if (command == QLatin1String("get_data_req"))
        answerData(client, request);
}

void CFakeNetworkServer::answerAuth(QWebSocket* client)
{
    if (authMode == AUTH_SILENT)
        return;
    QJsonObject response {{QStringLiteral("cmd"), QStringLiteral("auth_resp")},
        {QStringLiteral("status"), authMode == AUTH_ACCEPT}};
    if (authMode == AUTH_ACCEPT)
        response.insert(QStringLiteral("token"), QStringLiteral("fake-token"));
    else
        response.insert(QStringLiteral("err_string"), authErrString);
    send(client, response);
}

void CFakeNetworkServer::answerDevicesList(QWebSocket* client)
{
    if (devicesDelayMs < 0)
        return;
    const QJsonObject response {{QStringLiteral("cmd"), QStringLiteral("get_devices_resp")},
        {QStringLiteral("status"), devicesStatus}, {QStringLiteral("devices_list"), devices}};
    if (devicesDelayMs == 0) {
        send(client, response);
        return;
    }
    QPointer<QWebSocket> target(client);
    QTimer::singleShot(devicesDelayMs, this, [target, response]() {
        if (target)
            send(target, response);
    });
}

void CFakeNetworkServer::answerData(QWebSocket* client, const QJsonObject& request)
{
    send(client,
        {{QStringLiteral("cmd"), QStringLiteral("get_data_resp")},
            {QStringLiteral("status"), dataStatus},
            {QStringLiteral("devEui"), request.value(QStringLiteral("devEui"))},
            {QStringLiteral("data_list"), dataRecords}});
}

void CFakeNetworkServer::send(QWebSocket* client, const QJsonObject& message)
{
    client->sendTextMessage(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}
