#include "responsegenerator.h"

#include "gzip.h"
#include "httplimits.h"

#include <QDateTime>
#include <QLocale>

namespace Http {

namespace {

const QString GZIP = QStringLiteral("gzip");

// The content gzipped, empty when that failed. The last content compressed in this thread is
// kept with its result: a page polls the same answer again and again, and compressing it costs
// more than all else its request takes.
QByteArray gzipped(const QByteArray& content)
{
    thread_local QByteArray lastContent;
    thread_local QByteArray lastCompressed;
    if (content != lastContent) {
        bool ok = false;
        const QByteArray compressed = Utils::Gzip::compress(content, GZIP_COMPRESSION_LEVEL, &ok);
        lastContent = content;
        lastCompressed = ok ? compressed : QByteArray();
    }
    return lastCompressed;
}

} // namespace

QString httpDate()
{
    return QLocale::c().toString(
               QDateTime::currentDateTimeUtc(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"))
        + QStringLiteral(" GMT");
}

void compressContent(Response& response)
{
    if (response.headers.value(HEADER_CONTENT_ENCODING) != GZIP)
        return;
    response.headers.remove(HEADER_CONTENT_ENCODING);

    if (response.content.size() <= MIN_COMPRESS_SIZE)
        return;

    // Images in these formats are already compressed.
    const QString& contentType = response.headers[HEADER_CONTENT_TYPE];
    if (contentType == CONTENT_TYPE_GIF || contentType == CONTENT_TYPE_PNG)
        return;

    const QByteArray compressed = gzipped(response.content);
    if (compressed.isEmpty()
        || compressed.size() + GZIP_HEADER_LINE_SIZE >= response.content.size())
        return;

    response.content = compressed;
    response.headers[HEADER_CONTENT_ENCODING] = GZIP;
}

QByteArray toByteArray(Response response)
{
    compressContent(response);

    response.headers[HEADER_DATE] = httpDate();
    if (response.headers.value(HEADER_CONTENT_LENGTH).isEmpty())
        response.headers[HEADER_CONTENT_LENGTH] = QString::number(response.content.size());

    QByteArray buffer;
    buffer.reserve(response.content.size() + 1024);
    buffer += "HTTP/1.1 ";
    buffer += QByteArray::number(response.status.code);
    buffer += ' ';
    buffer += response.status.text.toLatin1();
    buffer += "\r\n";
    for (auto it = response.headers.cbegin(); it != response.headers.cend(); ++it) {
        buffer += it.key().toLatin1();
        buffer += ": ";
        buffer += it.value().toLatin1();
        buffer += "\r\n";
    }
    buffer += "\r\n";
    buffer += response.content;
    return buffer;
}

} // namespace Http
