#include "templatejson.h"

#include "templatetexts.h"

#include <QDebug>

namespace REGS {
bool hasRequiredKeys(const QJsonObject& object, const QStringList& keys, const char* recordName)
{
    for (const QString& key : keys) {
        if (!object.contains(key)) {
            qDebug().noquote() << TemplateTexts::INVALID_INPUT_JSON.arg(QLatin1String(recordName));
            return false;
        }
    }
    for (const QString& key : keys) {
        if (object.value(key).isNull()) {
            qDebug().noquote() << TemplateTexts::NULL_INPUT_VALUES.arg(QLatin1String(recordName));
            return false;
        }
    }
    return true;
}

bool isEmptyRecord(const QJsonObject& object, const char* recordName)
{
    if (!object.isEmpty())
        return false;
    qDebug().noquote() << TemplateTexts::EMPTY_INPUT_JSON.arg(QLatin1String(recordName));
    return true;
}

QStringList registerPlacementKeys()
{
    return {REGS_JSON_KEY_REGMAPBIAS, REGS_JSON_KEY_REGBITBIAS, REGS_JSON_KEY_REGBITSIZE,
        REGS_JSON_KEY_DATANAME};
}
} // namespace REGS
