#pragma once

#include <QString>

#include <optional>

namespace Utils::String {

// The text without its surrounding quotes when it starts and ends with the same quote character.
QString unquote(const QString& text, const QString& quotes = QStringLiteral("\""));

// Decimal conversion of the whole text to a signed 32-bit integer; empty when it is not one.
std::optional<int> parseInt(const QString& text);

} // namespace Utils::String
