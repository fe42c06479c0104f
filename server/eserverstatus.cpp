#include "eserverstatus.h"

namespace COMM {
QString serverStatusText(EServerStatus status)
{
    switch (status) {
    case ONLINE:
        return QStringLiteral("ONLINE");
    case PING_WAITING:
        return QStringLiteral("PING WAITING");
    case INVALID_PING:
        return QStringLiteral("INVALID PING");
    case AUTH_WAITING:
        return QStringLiteral("AUTH WAITING");
    case INVALID_AUTH:
        return QStringLiteral("INVALID AUTH");
    case DISCONNECTED:
        return QStringLiteral("DISCONNECTED");
    }
    return QString();
}
} // namespace COMM
