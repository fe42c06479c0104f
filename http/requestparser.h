#pragma once

#include "types.h"

#include <string_view>

namespace Http {

// Turns the bytes received on a connection into one request. Stateless between calls: the
// connection passes its whole receive buffer and removes consumedBytes of each complete request.
class RequestParser
{
public:
    enum ParseState { Complete = 0, NeedMoreData = 1, UnsupportedMethod = 2, Malformed = 3 };

    struct ParseResult
    {
        ParseState state = NeedMoreData;
        Request request;
        uint consumedBytes = 0;
    };

    static ParseResult parse(const QByteArray& data);

private:
    RequestParser() = default;

    ParseResult doParse(const QByteArray& data);
    bool parseStartLines(const QString& data);
    bool parseRequestLine(const QString& line);
    bool parsePostMessage(const QByteArray& data);
    bool parseFormData(std::string_view data);

    Request m_request;
};

} // namespace Http
