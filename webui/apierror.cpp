#include "apierror.h"

APIError::APIError(APIErrorType type, const QString& message)
    : RuntimeError(message), errorType(type)
{
}

APIErrorType APIError::type() const
{
    return errorType;
}

HTTPError APIError::toHTTPError() const
{
    switch (errorType) {
    case APIErrorType::InvalidInput:
        return BadRequestHTTPError(message());
    case APIErrorType::UnsupportedInput:
        return UnsupportedMediaTypeHTTPError(message());
    case APIErrorType::Missing:
        return NotFoundHTTPError(message());
    case APIErrorType::Refused:
        return ForbiddenHTTPError(message());
    case APIErrorType::Conflicting:
        return ConflictHTTPError(message());
    }
    return BadRequestHTTPError(message());
}
