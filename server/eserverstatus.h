#pragma once

#include <QMetaType>
#include <QString>

namespace COMM {
// State of the network-server client, as the web interface shows it.
enum EServerStatus {
    ONLINE = 0,
    PING_WAITING,
    INVALID_PING,
    AUTH_WAITING,
    INVALID_AUTH,
    DISCONNECTED,
};

// The display text: "ONLINE", "PING WAITING", "INVALID PING", "AUTH WAITING", "INVALID AUTH",
// "DISCONNECTED".
QString serverStatusText(EServerStatus status);
} // namespace COMM

Q_DECLARE_METATYPE(COMM::EServerStatus)
