#pragma once

#include "types.h"

namespace Http {

// The wire form of a response: status line, headers in name order, empty line, content.
QByteArray toByteArray(Response response);
// Gzips the content in place when the response asks for it and it pays off.
void compressContent(Response& response);
// The current time as an HTTP date, e.g. "Sat, 05 Dec 2026 18:35:02 GMT".
QString httpDate();

} // namespace Http
