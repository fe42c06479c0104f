#include "eserverstatus.h"

#include "servertexts.h"

namespace COMM {
QString serverStatusText(EServerStatus status)
{
    switch (status) {
    case ONLINE:
        return ServerTexts::STATUS_ONLINE;
    case PING_WAITING:
        return ServerTexts::STATUS_PING_WAITING;
    case INVALID_PING:
        return ServerTexts::STATUS_INVALID_PING;
    case AUTH_WAITING:
        return ServerTexts::STATUS_AUTH_WAITING;
    case INVALID_AUTH:
        return ServerTexts::STATUS_INVALID_AUTH;
    case DISCONNECTED:
        return ServerTexts::STATUS_DISCONNECTED;
    }
    return QString();
}
} // namespace COMM
