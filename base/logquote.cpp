#include "logquote.h"

#include "basetexts.h"

namespace {
const int MAX_QUOTED_BYTES = 256;
const quint8 UTF8_CONTINUATION_MASK = 0xc0;
const quint8 UTF8_CONTINUATION = 0x80;

QString cutQuote(const QString& head, int wholeSize)
{
    // One pass over both arguments: a head containing "%2" stays as it is.
    return BaseTexts::LOG_QUOTE_CUT.arg(head, QString::number(wholeSize));
}
} // namespace

QString logQuote(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= MAX_QUOTED_BYTES)
        return text;
    // Cut before the character that the limit would split.
    int end = MAX_QUOTED_BYTES;
    while (end > 0
        && (static_cast<quint8>(utf8.at(end)) & UTF8_CONTINUATION_MASK) == UTF8_CONTINUATION)
        --end;
    return cutQuote(QString::fromUtf8(utf8.left(end)), utf8.size());
}

QString logQuoteHex(const QByteArray& bytes)
{
    const QString head = QString::fromLatin1(bytes.left(MAX_QUOTED_BYTES).toHex());
    return bytes.size() <= MAX_QUOTED_BYTES ? head : cutQuote(head, bytes.size());
}
