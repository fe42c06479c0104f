// Feeds arbitrary bytes to the HTTP request parser, as a connection's receive buffer would.

#include "quietmessages.h"
#include "requestparser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    silenceQtMessages();

    const QByteArray buffer(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const Http::RequestParser::ParseResult result = Http::RequestParser::parse(buffer);

    // A complete request occupies at least its header block and never more than was given.
    const bool complete = (result.state == Http::RequestParser::Complete);
    if (complete && (result.consumedBytes < 4 || result.consumedBytes > size))
        std::abort();
    if (!complete && result.consumedBytes != 0)
        std::abort();
    return 0;
}
