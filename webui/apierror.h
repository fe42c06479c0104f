#pragma once

#include "exception.h"
#include "httperror.h"

enum class APIErrorType {
    InvalidInput = 0,
    UnsupportedInput = 1,
    Missing = 2,
    Refused = 3,
    Conflicting = 4
};

// The way an API action fails; the dispatcher answers it with the HTTP status of its type.
class APIError : public RuntimeError
{
public:
    explicit APIError(APIErrorType type, const QString& message = QString());
    APIErrorType type() const;
    // The HTTP error of this type, carrying this error's message.
    HTTPError toHTTPError() const;

private:
    APIErrorType errorType;
};
