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
