// Feeds arbitrary bytes to the HTTP request parser, as a connection's receive buffer would.

#include "fuzzsupport.h"
#include "requestparser.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    silenceQtMessages();

    const Http::RequestParser::ParseResult result
        = Http::RequestParser::parse(inputBytes(data, size));

    // A complete request occupies at least its header block and never more than was given.
    const bool complete = (result.state == Http::RequestParser::Complete);
    if (complete) {
        check(result.consumedBytes >= 4);
        check(result.consumedBytes <= size);
    } else {
        check(result.consumedBytes == 0);
    }
    return 0;
}
