#pragma once

#include <QString>

// The error value of the HTTP and web layers; the service's own logic never throws.
class Exception
{
public:
    explicit Exception(const QString& message = QString());
    QString message() const;

private:
    QString messageText;
};

class RuntimeError : public Exception
{
public:
    using Exception::Exception;
};
