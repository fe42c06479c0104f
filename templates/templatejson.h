#pragma once

#include "regsconstants.h"

#include <QJsonObject>
#include <QStringList>

namespace REGS {
// The key check every template record parser starts with: all keys present and none of them
// null. On failure it writes "[recordName] ..." to the debug console and returns false.
bool hasRequiredKeys(const QJsonObject& object, const QStringList& keys, const char* recordName);

// Writes "[recordName] Empty input JSON" to the debug console when the object is empty.
bool isEmptyRecord(const QJsonObject& object, const char* recordName);

// The keys that place a value in the register map, shared by packet fields and server data.
QStringList registerPlacementKeys();

// Reads the register placement keys into a packet field or a server-data entry.
template<typename Record>
void readRegisterPlacement(const QJsonObject& object, Record& record)
{
    record.regMapBias = object.value(REGS_JSON_KEY_REGMAPBIAS).toInt(0);
    record.regBitBias = object.value(REGS_JSON_KEY_REGBITBIAS).toInt(0);
    record.regBitSize = object.value(REGS_JSON_KEY_REGBITSIZE).toInt(0);
    record.dataName = object.value(REGS_JSON_KEY_DATANAME).toString();
}
} // namespace REGS
