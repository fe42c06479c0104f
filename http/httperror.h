#pragma once

#include "exception.h"

// Reason phrases of the statuses the server answers with.
namespace HttpStatusText {
inline constexpr char BAD_REQUEST[] = "Bad Request";
inline constexpr char UNAUTHORIZED[] = "Unauthorized";
inline constexpr char FORBIDDEN[] = "Forbidden";
inline constexpr char NOT_FOUND[] = "Not Found";
inline constexpr char METHOD_NOT_ALLOWED[] = "Method Not Allowed";
inline constexpr char CONFLICT[] = "Conflict";
inline constexpr char PAYLOAD_TOO_LARGE[] = "Payload Too Large";
inline constexpr char UNSUPPORTED_MEDIA_TYPE[] = "Unsupported Media Type";
inline constexpr char INTERNAL_SERVER_ERROR[] = "Internal Server Error";
inline constexpr char NOT_IMPLEMENTED[] = "Not Implemented";
} // namespace HttpStatusText

// Typed errors of the web layer: each carries the HTTP status it becomes.
class HTTPError : public RuntimeError
{
public:
    HTTPError(int statusCode, const QString& statusText, const QString& message = QString());
    int statusCode() const;
    QString statusText() const;

private:
    int m_statusCode;
    QString m_statusText;
};

// An error whose status is fixed by its type; it takes only the message.
template<int Code, const char* Text>
class StatusHTTPError : public HTTPError
{
public:
    explicit StatusHTTPError(const QString& message = QString())
        : HTTPError(Code, QString::fromLatin1(Text), message)
    {
    }
};

using BadRequestHTTPError = StatusHTTPError<400, HttpStatusText::BAD_REQUEST>;
using UnauthorizedHTTPError = StatusHTTPError<401, HttpStatusText::UNAUTHORIZED>;
using ForbiddenHTTPError = StatusHTTPError<403, HttpStatusText::FORBIDDEN>;
using NotFoundHTTPError = StatusHTTPError<404, HttpStatusText::NOT_FOUND>;
using MethodNotAllowedHTTPError = StatusHTTPError<405, HttpStatusText::METHOD_NOT_ALLOWED>;
using ConflictHTTPError = StatusHTTPError<409, HttpStatusText::CONFLICT>;
using UnsupportedMediaTypeHTTPError = StatusHTTPError<415, HttpStatusText::UNSUPPORTED_MEDIA_TYPE>;
using InternalServerErrorHTTPError = StatusHTTPError<500, HttpStatusText::INTERNAL_SERVER_ERROR>;
