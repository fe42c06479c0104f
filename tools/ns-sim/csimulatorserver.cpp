#include "csimulatorserver.h"

#include "nssimlogging.h"
#include "simprotocol.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

using namespace SimProtocol;

namespace {
// Recent uplinks in a get_data_resp when the request names no limit.
const int DEFAULT_DATA_LIMIT = 10;

void send(QWebSocket* client, const QJsonObject& message)
{
    client->sendTextMessage(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

QJsonObject refusal(const QString& command, const QString& reason)
{
    return {{KEY_CMD, command}, {KEY_STATUS, false}, {KEY_ERR_STRING, reason}};
}
} // namespace

CSimulatorServer::CSimulatorServer(const QList<CSimulatedDevice>& devices, const QString& gatewayId,
    const SCredentials& credentials, QObject* parent)
    : QObject(parent),
      server(new QWebSocketServer(
          QStringLiteral("tarvex-ns-sim"), QWebSocketServer::NonSecureMode, this)),
      devices(devices),
      gatewayId(gatewayId),
      credentials(credentials),
      random(QRandomGenerator::securelySeeded())
{
    connect(server, &QWebSocketServer::newConnection, this, &CSimulatorServer::acceptConnections);
}

CSimulatorServer::~CSimulatorServer()
{
    server->close();
}

bool CSimulatorServer::listen(const QHostAddress& address, quint16 port)
{
    if (!server->listen(address, port))
        return false;
    for (int i = 0; i < devices.size(); ++i) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, i] { sendUplink(i); });
        timer->start(devices[i].intervalMs());
    }
    return true;
}

QString CSimulatorServer::errorString() const
{
    return server->errorString();
}

quint16 CSimulatorServer::port() const
{
    return server->serverPort();
}

void CSimulatorServer::acceptConnections()
{
    while (QWebSocket* client = server->nextPendingConnection()) {
        // The caller owns an accepted socket: one still open goes with the simulator.
        client->setParent(this);
        qCInfo(lcNsSim).noquote() << "connection from" << client->peerAddress().toString();
        connect(client, &QWebSocket::textMessageReceived, this,
            [this, client](const QString& text) { answer(client, text); });
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            qCInfo(lcNsSim).noquote() << "connection closed:" << client->peerAddress().toString();
            loggedIn.remove(client);
            client->deleteLater();
        });
    }
}

void CSimulatorServer::answer(QWebSocket* client, const QString& text)
{
    const QJsonObject request = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString command = request.value(KEY_CMD).toString();
    if (command == CMD_PING_REQ) {
        send(client, {{KEY_CMD, CMD_PING_RESP}});
    } else if (command == CMD_AUTH_REQ) {
        send(client, login(client, request));
    } else if (command == CMD_GET_DEVICES_REQ) {
        send(client,
            loggedIn.contains(client) ? devicesList()
                                      : refusal(CMD_GET_DEVICES_RESP, ERR_NOT_LOGGED_IN));
    } else if (command == CMD_GET_DATA_REQ) {
        send(client,
            loggedIn.contains(client) ? recentUplinks(request)
                                      : refusal(CMD_GET_DATA_RESP, ERR_NOT_LOGGED_IN));
    } else {
        qCInfo(lcNsSim).noquote() << "ignored:" << text;
    }
}

QJsonObject CSimulatorServer::login(QWebSocket* client, const QJsonObject& request)
{
    if (request.value(KEY_LOGIN).toString() != credentials.login
        || request.value(KEY_PASSWORD).toString() != credentials.password) {
        qCInfo(lcNsSim).noquote() << "login refused:" << request.value(KEY_LOGIN).toString();
        loggedIn.remove(client);
        return refusal(CMD_AUTH_RESP, ERR_BAD_CREDENTIALS);
    }
    qCInfo(lcNsSim).noquote() << "login accepted:" << credentials.login;
    loggedIn.insert(client);
    const QString token = QString::number(random.generate64(), 16);
    return {{KEY_CMD, CMD_AUTH_RESP}, {KEY_STATUS, true}, {KEY_TOKEN, token}};
}

QJsonObject CSimulatorServer::devicesList() const
{
    QJsonArray list;
    for (const CSimulatedDevice& device : devices) {
        const CSimulatedDevice::SIdentity& id = device.identity();
        list.append(QJsonObject {{KEY_DEV_EUI, id.devEui}, {KEY_DEV_NAME, id.name},
            {KEY_OTAA, QJsonObject {{KEY_APP_EUI, id.appEui}}}});
    }
    return {{KEY_CMD, CMD_GET_DEVICES_RESP}, {KEY_STATUS, true}, {KEY_DEVICES_LIST, list}};
}

QJsonObject CSimulatorServer::recentUplinks(const QJsonObject& request) const
{
    const QString devEui = request.value(KEY_DEV_EUI).toString().toUpper();
    const int limit
        = request.value(KEY_SELECT).toObject().value(KEY_LIMIT).toInt(DEFAULT_DATA_LIMIT);
    for (const CSimulatedDevice& device : devices) {
        if (device.identity().devEui == devEui) {
            return {{KEY_CMD, CMD_GET_DATA_RESP}, {KEY_STATUS, true}, {KEY_DEV_EUI, devEui},
                {KEY_DATA_LIST, device.recentUplinks(limit)}};
        }
    }
    return refusal(CMD_GET_DATA_RESP, ERR_UNKNOWN_DEVICE);
}

int CSimulatorServer::sendUplink(int deviceIndex)
{
    QJsonObject message
        = devices[deviceIndex].nextUplink(QDateTime::currentMSecsSinceEpoch(), gatewayId, random);
    qCInfo(lcNsSim).noquote() << "uplink" << message.value(KEY_DEV_EUI).toString() << "fcnt"
                              << message.value(KEY_FCNT).toInt() << "data"
                              << message.value(KEY_DATA).toString();
    message.insert(KEY_CMD, CMD_RX);
    // A failed send may close a connection and change the set.
    const QSet<QWebSocket*> receivers = loggedIn;
    for (QWebSocket* client : receivers)
        send(client, message);
    return receivers.size();
}
