#include "gzip.h"

#include <zlib.h>

namespace Utils::Gzip {

namespace {

// 15 bits of window (32 KiB) plus 16 for the gzip wrapper instead of the zlib one.
constexpr int GZIP_WINDOW_BITS = 31;
constexpr int MEMORY_LEVEL = 9;

// A deflate stream kept by each thread and reset for every compression: opening one allocates
// and clears some 400 KiB, more work than compressing a typical API answer. A reset stream
// produces the same bytes as a newly opened one.
class DeflateStream
{
public:
    ~DeflateStream() { close(); }

    // The stream ready for new data at the level; null when it cannot be opened.
    z_stream* reset(int level)
    {
        if (open && level == this->level && deflateReset(&stream) == Z_OK)
            return &stream;
        close();
        stream = z_stream {};
        if (deflateInit2(
                &stream, level, Z_DEFLATED, GZIP_WINDOW_BITS, MEMORY_LEVEL, Z_DEFAULT_STRATEGY)
            != Z_OK) {
            return nullptr;
        }
        open = true;
        this->level = level;
        return &stream;
    }

private:
    void close()
    {
        if (open)
            deflateEnd(&stream);
        open = false;
    }

    z_stream stream {};
    bool open = false;
    int level = 0;
};

thread_local DeflateStream deflater;

} // namespace

QByteArray compress(const QByteArray& data, int level, bool* ok)
{
    if (ok)
        *ok = false;
    if (data.isEmpty())
        return {};
    z_stream* stream = deflater.reset(level);
    if (!stream)
        return {};

    // deflateBound is enough room to finish in one call; the loop only guards against a zlib
    // that answers otherwise.
    QByteArray output(
        static_cast<int>(deflateBound(stream, static_cast<uLong>(data.size()))), Qt::Uninitialized);
    stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream->avail_in = static_cast<uInt>(data.size());
    int written = 0;
    int result = Z_OK;
    while (result == Z_OK) {
        if (written == output.size())
            output.resize(2 * output.size());
        stream->next_out = reinterpret_cast<Bytef*>(output.data() + written);
        stream->avail_out = static_cast<uInt>(output.size() - written);
        result = deflate(stream, Z_FINISH);
        written = output.size() - static_cast<int>(stream->avail_out);
    }
    if (result != Z_STREAM_END)
        return {};
    output.resize(written);

    if (ok)
        *ok = true;
    return output;
}

} // namespace Utils::Gzip
