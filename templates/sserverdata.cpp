#include "sserverdata.h"

#include "clogfile.h"
#include "regsconstants.h"
#include "templatejson.h"

#include <QDebug>

namespace REGS {
SServerData::SServerData(const QJsonObject& object)
{
    if (object.isEmpty()) {
        qDebug().noquote() << "[SServerData] Empty input JSON";
        return;
    }
    const QStringList keys = {REGS_JSON_KEY_DATACODE, REGS_JSON_KEY_REGMAPBIAS,
        REGS_JSON_KEY_REGBITBIAS, REGS_JSON_KEY_REGBITSIZE, REGS_JSON_KEY_DATANAME};
    if (!hasRequiredKeys(object, keys, "SServerData"))
        return;

    dataCode = object.value(REGS_JSON_KEY_DATACODE).toString();
    // Keywords are case-sensitive: a misspelt one would silently never be filled, so it is logged.
    const auto known = RegsServerDataTemplates.constFind(dataCode);
    if (known == RegsServerDataTemplates.constEnd()) {
        addLog(QString("ERROR: [SServerData] Server keyword [%1] is unknown!").arg(dataCode));
        return;
    }
    bitSize = known->bitSize;
    dataType = known->dataType;
    regMapBias = object.value(REGS_JSON_KEY_REGMAPBIAS).toInt(0);
    regBitBias = object.value(REGS_JSON_KEY_REGBITBIAS).toInt(0);
    regBitSize = object.value(REGS_JSON_KEY_REGBITSIZE).toInt(0);
    dataName = object.value(REGS_JSON_KEY_DATANAME).toString();
    valid = true;
}
} // namespace REGS
