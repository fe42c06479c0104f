#pragma once

#include <QtGlobal>

// Every fixed limit of the HTTP server in one place; none of them is configurable.
namespace Http {

// Largest request body a POST may announce (64 MiB).
constexpr int MAX_CONTENT_LENGTH = 67108864;
// Largest receive buffer that may still hold an incomplete request: the body limit plus 10 %.
constexpr qint64 MAX_PENDING_REQUEST_SIZE = 73819750;
// Receive buffer reserved per connection so that typical requests need no reallocation.
constexpr int CONNECTION_BUFFER_RESERVE = 1048576;
// The socket stops taking bytes from the kernel beyond this, so TCP slows a fast sender down.
constexpr qint64 SOCKET_READ_BUFFER_SIZE = 1048576;
// While more answer bytes than this wait to be sent, no further pipelined request is answered,
// so a client that sends but never reads cannot grow the server's memory.
constexpr qint64 MAX_PENDING_OUTPUT = 4194304;

constexpr int MAX_CONNECTIONS = 500;
constexpr qint64 CONNECTION_IDLE_TIMEOUT_MS = 7000;
constexpr int IDLE_SWEEP_INTERVAL_MS = 2000;
// A request header still incomplete after this long is dropped by the sweep: a client that
// trickles a byte now and then is never idle, and enough of them would hold every connection.
constexpr qint64 REQUEST_HEADER_DEADLINE_MS = 20000;

// Responses with bodies up to this size are never compressed.
constexpr int MIN_COMPRESS_SIZE = 1024;
// Length of the "content-encoding: gzip" line; compression must save more than this.
constexpr int GZIP_HEADER_LINE_SIZE = 24;
constexpr int GZIP_COMPRESSION_LEVEL = 6;

} // namespace Http
