#pragma once

#include <QString>

// Warnings of the HTTP server on the debug console. Operators and their tools read them, so they
// stay exactly as they are, odd wording included.
namespace HttpTexts {

// Connection failures; each closes the socket.
inline const QString REQUEST_TOO_LARGE
    = QStringLiteral("Http request size exceeds limitation, closing socket. Limit: %1, IP: %2");
inline const QString BAD_REQUEST_METHOD
    = QStringLiteral("Bad Http request method, closing socket. IP: %1. Method: \"%2\"");
inline const QString BAD_REQUEST = QStringLiteral("Bad Http request, closing socket. IP: %1");

inline const QString NO_CERTIFICATES = QStringLiteral("No valid certificate files has been found!");

// Request parser; each follows the reporting function's signature.
inline const QString HEADER_PARSING_ERROR = QStringLiteral("header parsing error");
inline const QString CONTENT_LENGTH_INVALID = QStringLiteral("bad request: content-length invalid");
inline const QString MESSAGE_TOO_LONG = QStringLiteral("bad request: message too long");
inline const QString BODY_PARSING_ERROR = QStringLiteral("message body parsing error");
inline const QString INVALID_HEADER = QStringLiteral("invalid http header:");
// Followed by the JSON parser's error text, JSON_PARSE_ERROR_AT and the error offset.
inline const QString JSON_PARSE_ERROR = QStringLiteral("JSON parse error:");
inline const QString JSON_PARSE_ERROR_AT = QStringLiteral("on");
inline const QString JSON_DUPLICATE_KEY = QStringLiteral("JSON parse error: duplicate key");
inline const QString NO_BOUNDARY
    = QStringLiteral("Could not find boundary in multipart/form-data header!");
inline const QString EMPTY_BOUNDARY = QStringLiteral("boundary delimiter field empty!");
inline const QString MULTIPART_EMPTY = QStringLiteral("multipart empty");
inline const QString UNKNOWN_CONTENT_TYPE = QStringLiteral("unknown content type:");
inline const QString FORM_DATA_FORMAT_ERROR = QStringLiteral("multipart/form-data format error");
inline const QString FORM_DATA_HEADER_ERROR = QStringLiteral("multipart/form-data header error");

} // namespace HttpTexts
