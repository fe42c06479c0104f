#include "types.h"

namespace Http {

const QString CRLF = QStringLiteral("\r\n");
const QByteArray EOH = QByteArrayLiteral("\r\n\r\n");

const QString HEADER_REQUEST_METHOD_GET = QStringLiteral("GET");
const QString HEADER_REQUEST_METHOD_HEAD = QStringLiteral("HEAD");
const QString HEADER_REQUEST_METHOD_POST = QStringLiteral("POST");

const QString HEADER_ACCEPT_ENCODING = QStringLiteral("accept-encoding");
const QString HEADER_CACHE_CONTROL = QStringLiteral("cache-control");
const QString HEADER_CONNECTION = QStringLiteral("connection");
const QString HEADER_CONTENT_DISPOSITION = QStringLiteral("content-disposition");
const QString HEADER_CONTENT_ENCODING = QStringLiteral("content-encoding");
const QString HEADER_CONTENT_LENGTH = QStringLiteral("content-length");
const QString HEADER_CONTENT_SECURITY_POLICY = QStringLiteral("content-security-policy");
const QString HEADER_CONTENT_TYPE = QStringLiteral("content-type");
const QString HEADER_CROSS_ORIGIN_OPENER_POLICY = QStringLiteral("cross-origin-opener-policy");
const QString HEADER_DATE = QStringLiteral("date");
const QString HEADER_HOST = QStringLiteral("host");
const QString HEADER_ORIGIN = QStringLiteral("origin");
const QString HEADER_REFERER = QStringLiteral("referer");
const QString HEADER_REFERRER_POLICY = QStringLiteral("referrer-policy");
const QString HEADER_SET_COOKIE = QStringLiteral("set-cookie");
const QString HEADER_X_CONTENT_TYPE_OPTIONS = QStringLiteral("x-content-type-options");
const QString HEADER_X_FORWARDED_FOR = QStringLiteral("x-forwarded-for");
const QString HEADER_X_FORWARDED_HOST = QStringLiteral("x-forwarded-host");
const QString HEADER_X_FRAME_OPTIONS = QStringLiteral("x-frame-options");
const QString HEADER_X_XSS_PROTECTION = QStringLiteral("x-xss-protection");

const QString CONTENT_TYPE_HTML = QStringLiteral("text/html");
const QString CONTENT_TYPE_CSS = QStringLiteral("text/css");
const QString CONTENT_TYPE_TXT = QStringLiteral("text/plain; charset=UTF-8");
const QString CONTENT_TYPE_JS = QStringLiteral("application/javascript");
const QString CONTENT_TYPE_JSON = QStringLiteral("application/json");
const QString CONTENT_TYPE_GIF = QStringLiteral("image/gif");
const QString CONTENT_TYPE_PNG = QStringLiteral("image/png");
const QString CONTENT_TYPE_FORM_ENCODED = QStringLiteral("application/x-www-form-urlencoded");
const QString CONTENT_TYPE_FORM_DATA = QStringLiteral("multipart/form-data");

} // namespace Http
