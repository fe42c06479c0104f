#include "httperror.h"

HTTPError::HTTPError(int statusCode, const QString& statusText, const QString& message)
    : RuntimeError(message), m_statusCode(statusCode), m_statusText(statusText)
{
}

int HTTPError::statusCode() const
{
    return m_statusCode;
}

QString HTTPError::statusText() const
{
    return m_statusText;
}

BadRequestHTTPError::BadRequestHTTPError(const QString& message)
    : HTTPError(400, QStringLiteral("Bad Request"), message)
{
}

UnauthorizedHTTPError::UnauthorizedHTTPError(const QString& message)
    : HTTPError(401, QStringLiteral("Unauthorized"), message)
{
}

ForbiddenHTTPError::ForbiddenHTTPError(const QString& message)
    : HTTPError(403, QStringLiteral("Forbidden"), message)
{
}

NotFoundHTTPError::NotFoundHTTPError(const QString& message)
    : HTTPError(404, QStringLiteral("Not Found"), message)
{
}

MethodNotAllowedHTTPError::MethodNotAllowedHTTPError(const QString& message)
    : HTTPError(405, QStringLiteral("Method Not Allowed"), message)
{
}

ConflictHTTPError::ConflictHTTPError(const QString& message)
    : HTTPError(409, QStringLiteral("Conflict"), message)
{
}

UnsupportedMediaTypeHTTPError::UnsupportedMediaTypeHTTPError(const QString& message)
    : HTTPError(415, QStringLiteral("Unsupported Media Type"), message)
{
}

InternalServerErrorHTTPError::InternalServerErrorHTTPError(const QString& message)
    : HTTPError(500, QStringLiteral("Internal Server Error"), message)
{
}
