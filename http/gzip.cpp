#include "gzip.h"

#include <zlib.h>

namespace Utils::Gzip {

namespace {

constexpr int CHUNK_SIZE = 131072;
// 15 bits of window (32 KiB) plus 16 for the gzip wrapper instead of the zlib one.
constexpr int GZIP_WINDOW_BITS = 31;
constexpr int MEMORY_LEVEL = 9;

} // namespace

QByteArray compress(const QByteArray& data, int level, bool* ok)
{
    if (ok)
        *ok = false;
    if (data.isEmpty())
        return {};

    z_stream stream {};
    if (deflateInit2(&stream, level, Z_DEFLATED, GZIP_WINDOW_BITS, MEMORY_LEVEL, Z_DEFAULT_STRATEGY)
        != Z_OK) {
        return {};
    }

    QByteArray output;
    output.reserve(static_cast<int>(deflateBound(&stream, static_cast<uLong>(data.size()))));

    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());

    QByteArray chunk(CHUNK_SIZE, Qt::Uninitialized);
    auto drain = [&](int flush) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
        stream.avail_out = CHUNK_SIZE;
        const int result = deflate(&stream, flush);
        output.append(chunk.constData(), CHUNK_SIZE - static_cast<int>(stream.avail_out));
        return result;
    };

    while (stream.avail_in > 0) {
        if (drain(Z_NO_FLUSH) == Z_STREAM_ERROR) {
            deflateEnd(&stream);
            return {};
        }
    }
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        result = drain(Z_FINISH);
        if (result == Z_STREAM_ERROR) {
            deflateEnd(&stream);
            return {};
        }
    }
    deflateEnd(&stream);

    if (ok)
        *ok = true;
    return output;
}

} // namespace Utils::Gzip
