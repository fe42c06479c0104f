#include "stringutils.h"

namespace Utils::String {

QString unquote(const QString& text, const QString& quotes)
{
    if (text.size() < 2)
        return text;
    const QChar first = text.front();
    if (!quotes.contains(first) || text.back() != first)
        return text;
    return text.mid(1, text.size() - 2);
}

std::optional<int> parseInt(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace Utils::String
