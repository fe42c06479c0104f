#include "dbrecords.h"

namespace DB {
void SDbDeviceRegDataSet::appendRewriteData(
    const QString& value, int regOffset, const QString& fullValue)
{
    if (value.isEmpty())
        return;
    SDbDeviceRegDataRewrite rewrite;
    rewrite.value = value;
    rewrite.fullValue = fullValue;
    rewrite.regOffset = regOffset;
    rewrites.append(rewrite);
}
} // namespace DB
