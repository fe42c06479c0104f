#include "sserverdata.h"

#include "clogfile.h"
#include "logquote.h"
#include "regsconstants.h"
#include "templatejson.h"
#include "templatetexts.h"

namespace REGS {
SServerData::SServerData(const QJsonObject& object)
{
    if (isEmptyRecord(object, "SServerData"))
        return;
    const QStringList keys = QStringList {REGS_JSON_KEY_DATACODE} + registerPlacementKeys();
    if (!hasRequiredKeys(object, keys, "SServerData"))
        return;

    dataCode = object.value(REGS_JSON_KEY_DATACODE).toString();
    // Keywords are case-sensitive: a misspelt one would silently never be filled, so it is logged.
    const auto known = RegsServerDataTemplates.constFind(dataCode);
    if (known == RegsServerDataTemplates.constEnd()) {
        addLog(TemplateTexts::UNKNOWN_SERVER_KEYWORD.arg(logQuote(dataCode)));
        return;
    }
    bitSize = known->bitSize;
    dataType = known->dataType;
    readRegisterPlacement(object, *this);
    valid = true;
}
} // namespace REGS
