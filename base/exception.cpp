#include "exception.h"

Exception::Exception(const QString& message) : messageText(message)
{
}

QString Exception::message() const
{
    return messageText;
}
