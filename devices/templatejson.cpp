#include "devices/templatejson.h"

namespace REGS {
bool hasAllKeys(const QJsonObject& object, const QStringList& keys)
{
    for (const QString& key : keys) {
        if (!object.contains(key))
            return false;
    }
    return true;
}

bool hasNullValue(const QJsonObject& object, const QStringList& keys)
{
    for (const QString& key : keys) {
        if (object.value(key).isNull())
            return true;
    }
    return false;
}
} // namespace REGS
