#pragma once

#include <QHostAddress>
#include <QJsonDocument>
#include <QList>
#include <QMap>
#include <QString>

namespace Http {

extern const QString CRLF;
// End of a header block: an empty line after the last header line.
extern const QByteArray EOH;

extern const QString HEADER_REQUEST_METHOD_GET;
extern const QString HEADER_REQUEST_METHOD_HEAD;
extern const QString HEADER_REQUEST_METHOD_POST;

extern const QString HEADER_ACCEPT_ENCODING;
extern const QString HEADER_CACHE_CONTROL;
extern const QString HEADER_CONNECTION;
extern const QString HEADER_CONTENT_DISPOSITION;
extern const QString HEADER_CONTENT_ENCODING;
extern const QString HEADER_CONTENT_LENGTH;
extern const QString HEADER_CONTENT_SECURITY_POLICY;
extern const QString HEADER_CONTENT_TYPE;
extern const QString HEADER_CROSS_ORIGIN_OPENER_POLICY;
extern const QString HEADER_DATE;
extern const QString HEADER_HOST;
extern const QString HEADER_ORIGIN;
extern const QString HEADER_REFERER;
extern const QString HEADER_REFERRER_POLICY;
extern const QString HEADER_SET_COOKIE;
extern const QString HEADER_X_CONTENT_TYPE_OPTIONS;
extern const QString HEADER_X_FORWARDED_FOR;
extern const QString HEADER_X_FORWARDED_HOST;
extern const QString HEADER_X_FRAME_OPTIONS;
extern const QString HEADER_X_XSS_PROTECTION;

extern const QString CONTENT_TYPE_HTML;
extern const QString CONTENT_TYPE_CSS;
extern const QString CONTENT_TYPE_TXT;
extern const QString CONTENT_TYPE_JS;
extern const QString CONTENT_TYPE_JSON;
extern const QString CONTENT_TYPE_GIF;
extern const QString CONTENT_TYPE_PNG;
extern const QString CONTENT_TYPE_FORM_ENCODED;
extern const QString CONTENT_TYPE_FORM_DATA;

// Lower-case header name to value, kept in ascending name order.
using HeaderMap = QMap<QString, QString>;

struct Header
{
    QString name;
    QString value;
};

struct UploadedFile
{
    QString filename;
    QString type;
    QByteArray data;
};

struct Request
{
    QString version;
    QString method;
    QString path;
    HeaderMap headers;
    QMap<QString, QByteArray> query;
    QMap<QString, QString> form;
    QList<UploadedFile> files;
    QJsonDocument json;
};

struct ResponseStatus
{
    uint code = 200;
    QString text = QStringLiteral("OK");
};

struct Response
{
    ResponseStatus status;
    HeaderMap headers;
    QByteArray content;
};

// Addresses of one request's socket, handed to the request handler with the request.
struct Environment
{
    QHostAddress localAddress;
    quint16 localPort = 0;
    QHostAddress clientAddress;
    quint16 clientPort = 0;
};

} // namespace Http
