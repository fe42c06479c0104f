#include "jsontext.h"

#include <QLocale>

#include <cmath>

namespace JsonText {

namespace {
// The most bytes one UTF-16 unit can take: an escape like \u001f.
const int MAX_BYTES_PER_UNIT = 6;

void writeEscape(char*& cursor, ushort unit)
{
    static const char hexDigits[] = "0123456789abcdef";
    *cursor++ = '\\';
    *cursor++ = 'u';
    for (int shift = 12; shift >= 0; shift -= 4)
        *cursor++ = hexDigits[(unit >> shift) & 0xf];
}

void writeAscii(char*& cursor, char c)
{
    const char* named = nullptr;
    switch (c) {
    case '"':
        named = "\\\"";
        break;
    case '\\':
        named = "\\\\";
        break;
    case '\b':
        named = "\\b";
        break;
    case '\f':
        named = "\\f";
        break;
    case '\n':
        named = "\\n";
        break;
    case '\r':
        named = "\\r";
        break;
    case '\t':
        named = "\\t";
        break;
    }
    if (named) {
        *cursor++ = named[0];
        *cursor++ = named[1];
    } else if (static_cast<unsigned char>(c) < 0x20) {
        writeEscape(cursor, static_cast<ushort>(c));
    } else {
        *cursor++ = c;
    }
}

void writeUtf8(char*& cursor, uint codePoint)
{
    if (codePoint < 0x800) {
        *cursor++ = static_cast<char>(0xc0 | (codePoint >> 6));
    } else if (codePoint < 0x10000) {
        *cursor++ = static_cast<char>(0xe0 | (codePoint >> 12));
        *cursor++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3f));
    } else {
        *cursor++ = static_cast<char>(0xf0 | (codePoint >> 18));
        *cursor++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3f));
        *cursor++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3f));
    }
    *cursor++ = static_cast<char>(0x80 | (codePoint & 0x3f));
}
} // namespace

void appendString(QByteArray& out, const QString& value)
{
    // Written through a pointer into room for the longest outcome, then cut to what was written:
    // appending byte by byte cost more than all the rest.
    const int start = out.size();
    out.resize(start + 2 + MAX_BYTES_PER_UNIT * value.size());
    char* const begin = out.data() + start;
    char* cursor = begin;
    *cursor++ = '"';
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c.unicode() < 0x80) {
            writeAscii(cursor, static_cast<char>(c.unicode()));
        } else if (c.isHighSurrogate() && i + 1 < value.size()
            && value.at(i + 1).isLowSurrogate()) {
            writeUtf8(cursor, QChar::surrogateToUcs4(c, value.at(i + 1)));
            ++i;
        } else if (c.isSurrogate()) {
            // Half a pair has no UTF-8 form; the escape keeps it as it was.
            writeEscape(cursor, c.unicode());
        } else {
            writeUtf8(cursor, c.unicode());
        }
    }
    *cursor++ = '"';
    out.resize(start + static_cast<int>(cursor - begin));
}

void appendKey(QByteArray& out, const QString& key)
{
    appendString(out, key);
    out += ':';
}

void appendNumber(QByteArray& out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // 2^64: whole numbers below it are written out in full, larger ones with an exponent.
    const double fullDigitsLimit = 18446744073709551616.0;
    const bool whole = std::fabs(value) < fullDigitsLimit && std::trunc(value) == value;
    out += QByteArray::number(value, whole ? 'f' : 'g', QLocale::FloatingPointShortest);
}

void appendInteger(QByteArray& out, qint64 value)
{
    out += QByteArray::number(value);
}

void appendStringMember(QByteArray& out, const QString& key, const QString& value)
{
    appendKey(out, key);
    appendString(out, value);
    out += ',';
}

void appendIntegerMember(QByteArray& out, const QString& key, qint64 value)
{
    appendKey(out, key);
    appendInteger(out, value);
    out += ',';
}

void appendNumberMember(QByteArray& out, const QString& key, double value)
{
    appendKey(out, key);
    appendNumber(out, value);
    out += ',';
}

void endObject(QByteArray& out)
{
    if (out.endsWith(','))
        out[out.size() - 1] = '}';
    else
        out += '}';
}

} // namespace JsonText
