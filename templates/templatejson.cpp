#include "templatejson.h"

#include <QDebug>

namespace REGS {
bool hasRequiredKeys(const QJsonObject& object, const QStringList& keys, const char* recordName)
{
    for (const QString& key : keys) {
        if (!object.contains(key)) {
            qDebug().noquote() << QStringLiteral("[%1] Invalid input JSON").arg(recordName);
            return false;
        }
    }
    for (const QString& key : keys) {
        if (object.value(key).isNull()) {
            qDebug().noquote() << QStringLiteral("[%1] One or several values of input JSON is NULL")
                                      .arg(recordName);
            return false;
        }
    }
    return true;
}
} // namespace REGS
