#include "jsonduplicatekeys.h"

#include <QSet>
#include <QString>
#include <QVector>

namespace {
const int HEX_DIGITS_OF_ESCAPE = 4; // \uXXXX

// The character an escape other than \u stands for.
QChar escapedCharacter(char escape)
{
    switch (escape) {
    case 'b':
        return QChar(0x08);
    case 'f':
        return QChar(0x0c);
    case 'n':
        return QChar(0x0a);
    case 'r':
        return QChar(0x0d);
    case 't':
        return QChar(0x09);
    default:
        return QLatin1Char(escape); // \" \\ and \/
    }
}

// The key between begin and end (the quotes left out) as the parser reads it.
QString decodeKey(const char* begin, const char* end)
{
    QString key;
    const char* plain = begin;
    for (const char* p = begin; p < end; ++p) {
        if (*p != '\\')
            continue;
        key += QString::fromUtf8(plain, static_cast<int>(p - plain));
        if (++p == end)
            return key;
        if (*p == 'u' && end - p > HEX_DIGITS_OF_ESCAPE) {
            key += QChar(QByteArray(p + 1, HEX_DIGITS_OF_ESCAPE).toUShort(nullptr, 16));
            p += HEX_DIGITS_OF_ESCAPE;
        } else {
            key += escapedCharacter(*p);
        }
        plain = p + 1;
    }
    return key + QString::fromUtf8(plain, static_cast<int>(end - plain));
}

// An open object with the keys of its members so far, or an open array.
struct SContainer
{
    bool isObject = false;
    QSet<QString> keys;
};
} // namespace

bool hasDuplicateKeys(const QByteArray& json)
{
    QVector<SContainer> open;
    bool expectKey = false; // the next string is a member's key
    const char* const end = json.constData() + json.size();
    for (const char* p = json.constData(); p < end; ++p) {
        switch (*p) {
        case '"': {
            const char* const begin = p + 1;
            for (p = begin; p < end && *p != '"'; ++p) {
                if (*p == '\\' && p + 1 < end)
                    ++p;
            }
            if (p == end)
                return false;
            if (expectKey) {
                const QString key = decodeKey(begin, p);
                if (open.last().keys.contains(key))
                    return true;
                open.last().keys.insert(key);
                expectKey = false;
            }
            break;
        }
        case '{':
            open.append(SContainer {true, {}});
            expectKey = true;
            break;
        case '[':
            open.append(SContainer {false, {}});
            expectKey = false;
            break;
        case '}':
        case ']':
            if (!open.isEmpty())
                open.removeLast();
            expectKey = false;
            break;
        case ',':
            expectKey = !open.isEmpty() && open.last().isObject;
            break;
        default:
            break;
        }
    }
    return false;
}
