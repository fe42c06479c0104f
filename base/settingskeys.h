#pragma once

#include <QString>

// Keys of settings.conf: a section constant ending in "/" plus a name constant.
namespace SETT {
extern const QString SETT_FILENAME;

extern const QString SETT_SECT_DEBUG;
extern const QString SETT_SECT_DB;
extern const QString SETT_SECT_SERVER;
extern const QString SETT_SECT_WEB;

extern const QString SETT_DEBUG_LOG;
extern const QString SETT_DEBUG_FILE;
extern const QString SETT_DEBUG_MAX_SIZE;
extern const QString SETT_DB_FILE;
extern const QString SETT_SERVER_ADDRESS;
extern const QString SETT_SERVER_LOGIN;
extern const QString SETT_SERVER_PASSWORD;
extern const QString SETT_WEB_IP;
extern const QString SETT_WEB_PORT;
extern const QString SETT_WEB_LOGIN;
extern const QString SETT_WEB_PASSWORD;
extern const QString SETT_WEB_HTTPS;
extern const QString SETT_HOST_CERTFILE;
extern const QString SETT_HOST_KEYFILE;
} // namespace SETT
