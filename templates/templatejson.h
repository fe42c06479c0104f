#pragma once

#include <QJsonObject>
#include <QStringList>

namespace REGS {
// The key check every template record parser starts with: all keys present and none of them
// null. On failure it writes "[recordName] ..." to the debug console and returns false.
bool hasRequiredKeys(const QJsonObject& object, const QStringList& keys, const char* recordName);
} // namespace REGS
