#pragma once

#include <QJsonObject>
#include <QStringList>

// Key checks shared by the template record parsers.
namespace REGS {
bool hasAllKeys(const QJsonObject& object, const QStringList& keys);
bool hasNullValue(const QJsonObject& object, const QStringList& keys);
} // namespace REGS
