#pragma once

#include <QString>

// Texts of the network-server client that operators and their tools read: the log entries, the
// lines on the debug console and the status words the web interface shows. They stay exactly as
// they are, odd wording and spelling included.
namespace ServerTexts {
// Log entries.
inline const QString INVALID_URL
    = QStringLiteral("[CServerHandler::connectSlot] Invalid input URL [%1]");
inline const QString DEVICES_LIST_EMPTY_APPEUI_LIST
    = QStringLiteral("[CServerHandler::getDevicesList] Empty input AppEUI list! Return");
inline const QString DEVICES_LIST_NOT_CONNECTED
    = QStringLiteral("[CServerHandler::getDevicesList] Invalid connection to server! Return");
inline const QString LAST_PACKETS_EMPTY_DEVEUI
    = QStringLiteral("[CServerHandler::getDeviceLastPackets] Empty input AppEUI list! Return");
inline const QString LAST_PACKETS_NOT_CONNECTED
    = QStringLiteral("[CServerHandler::getDeviceLastPackets] Invalid connection to server! Return");
inline const QString UNSCHEDULED_PACKET = QStringLiteral(
    "[CServerHandler::textMessageReceivedSlot] State=verified: unsheduled packet from server");
inline const QString HANDSHAKE_TOO_LARGE = QStringLiteral(
    "WARNING: [CServerHandler::handshakeReadSlot] Handshake answer of [%1] too long (more than %2 "
    "reads of up to %3 bytes), connection aborted");
inline const QString HANDSHAKE_TIMEOUT = QStringLiteral(
    "WARNING: [CServerHandler::handshakeTimeoutSlot] No complete handshake answer from [%1] "
    "within %2 ms, connection aborted");
inline const QString MESSAGE_TOO_LARGE = QStringLiteral(
    "WARNING: [CServerHandler::socketDisconnectedSlot] Connection to [%1] closed: %2 (limit %3 "
    "bytes)");

// Debug console lines.
inline const QString NOT_A_JSON_OBJECT
    = QStringLiteral("[CServerHandler::textMessageReceivedSlot] Unknown input message format");
inline const QString PING_PHASE_UNKNOWN_MESSAGE
    = QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=ping: unknown message[2]");
inline const QString AUTH_PHASE_NO_COMMAND
    = QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=auth: unknown message[1]");
inline const QString AUTH_PHASE_UNKNOWN_COMMAND
    = QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=auth: unknown message[2]");
inline const QString AUTH_PHASE_NO_STATUS
    = QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=auth: unknown message[3]");
inline const QString AUTH_REFUSED = QStringLiteral(
    "[CServerHandler::textMessageReceivedSlot] State=auth: unknown message[4], err[%1]");
inline const QString VERIFIED_PHASE_NO_COMMAND = QStringLiteral(
    "[CServerHandler::textMessageReceivedSlot] State=verified: unknown message[1]");
inline const QString PING_TIMEOUT = QStringLiteral("Ping timeout, trying to reconnect server...");
inline const QString DISCONNECTED_RETRY
    = QStringLiteral("Server is disconnected, trying to reconnect server...");
inline const QString TASK_IN_FLIGHT
    = QStringLiteral("[CServerHandler::newTaskSlot] Waiting mutex is locked! Return");
inline const QString TASK_QUEUE_EMPTY
    = QStringLiteral("[CServerHandler::newTaskSlot] Task queue is empty");
inline const QString UPLINK_WITHOUT_TYPE
    = QStringLiteral("[SApiDeviceData] Unknown JSON message format!");
inline const QString UPLINK_WITHOUT_DATA = QStringLiteral("[SApiDeviceData] DATA is not exist");

// Status words of COMM::EServerStatus.
inline const QString STATUS_ONLINE = QStringLiteral("ONLINE");
inline const QString STATUS_PING_WAITING = QStringLiteral("PING WAITING");
inline const QString STATUS_INVALID_PING = QStringLiteral("INVALID PING");
inline const QString STATUS_AUTH_WAITING = QStringLiteral("AUTH WAITING");
inline const QString STATUS_INVALID_AUTH = QStringLiteral("INVALID AUTH");
inline const QString STATUS_DISCONNECTED = QStringLiteral("DISCONNECTED");
} // namespace ServerTexts
