#pragma once

#include "exception.h"

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

class BadRequestHTTPError : public HTTPError
{
public:
    explicit BadRequestHTTPError(const QString& message = QString());
};

class UnauthorizedHTTPError : public HTTPError
{
public:
    explicit UnauthorizedHTTPError(const QString& message = QString());
};

class ForbiddenHTTPError : public HTTPError
{
public:
    explicit ForbiddenHTTPError(const QString& message = QString());
};

class NotFoundHTTPError : public HTTPError
{
public:
    explicit NotFoundHTTPError(const QString& message = QString());
};

class MethodNotAllowedHTTPError : public HTTPError
{
public:
    explicit MethodNotAllowedHTTPError(const QString& message = QString());
};

class ConflictHTTPError : public HTTPError
{
public:
    explicit ConflictHTTPError(const QString& message = QString());
};

class UnsupportedMediaTypeHTTPError : public HTTPError
{
public:
    explicit UnsupportedMediaTypeHTTPError(const QString& message = QString());
};

class InternalServerErrorHTTPError : public HTTPError
{
public:
    explicit InternalServerErrorHTTPError(const QString& message = QString());
};
