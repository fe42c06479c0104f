#include "settingskeys.h"

namespace SETT {
const QString SETT_FILENAME = QStringLiteral("settings.conf");

const QString SETT_SECT_DEBUG = QStringLiteral("debug/");
const QString SETT_SECT_DB = QStringLiteral("db/");
const QString SETT_SECT_SERVER = QStringLiteral("server/");
const QString SETT_SECT_WEB = QStringLiteral("webui/");

const QString SETT_DEBUG_LOG = QStringLiteral("log");
const QString SETT_DEBUG_FILE = QStringLiteral("file");
const QString SETT_DEBUG_MAX_SIZE = QStringLiteral("maxSize");
const QString SETT_DB_FILE = QStringLiteral("file");
const QString SETT_SERVER_ADDRESS = QStringLiteral("address");
const QString SETT_SERVER_LOGIN = QStringLiteral("login");
const QString SETT_SERVER_PASSWORD = QStringLiteral("password");
const QString SETT_WEB_IP = QStringLiteral("ip");
const QString SETT_WEB_PORT = QStringLiteral("port");
const QString SETT_WEB_LOGIN = QStringLiteral("login");
const QString SETT_WEB_PASSWORD = QStringLiteral("password");
const QString SETT_WEB_HTTPS = QStringLiteral("useHttps");
const QString SETT_HOST_CERTFILE = QStringLiteral("certFileName");
const QString SETT_HOST_KEYFILE = QStringLiteral("keyFileName");
} // namespace SETT
