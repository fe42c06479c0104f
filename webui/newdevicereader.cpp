#include "newdevicereader.h"

#include "apijsonkeys.h"
#include "weblimits.h"
#include "webtexts.h"

#include <QJsonArray>

#include <cmath>

namespace {
constexpr int BITS_PER_REGISTER = 16;

// Takes a JSON number without a fractional part within [min, max]. Strings are refused even
// when they hold digits: the pages send numbers, and a text would hide a fault of the page.
bool readWholeNumber(const QJsonValue& value, int min, int max, int& number)
{
    if (!value.isDouble())
        return false;
    const double raw = value.toDouble();
    if (raw < min || raw > max || std::floor(raw) != raw)
        return false;
    number = static_cast<int>(raw);
    return true;
}

REGS::SRegisterInfo readRegisterTexts(const QJsonObject& entry)
{
    REGS::SRegisterInfo info;
    info.name = entry.value(HTTP::API_JSON_KEY_DATA_NAME).toString();
    info.source = entry.value(HTTP::API_JSON_KEY_SOURCE).toInt();
    info.dataType = entry.value(HTTP::API_JSON_KEY_DATA_TYPE).toString();
    info.startValue = entry.value(HTTP::API_JSON_KEY_ADDITION).toDouble();
    // Missing, it is 0 like every other number, not the record's default of 1.
    info.gratingPeriod = entry.value(HTTP::API_JSON_KEY_MULTIPLICATION).toDouble();
    info.unit = entry.value(HTTP::API_JSON_KEY_UNITS).toString();
    return info;
}

// An entry must fit the 16-bit register map as it stands: the database would otherwise store
// addresses past 65535 that no Modbus master can read.
QString readRegister(const QJsonObject& entry, int startAddr, REGS::SRegisterInfo& info)
{
    info = readRegisterTexts(entry);
    if (!readWholeNumber(
            entry.value(HTTP::API_JSON_KEY_REG_BIT_SIZE), 1, MAX_REGISTER_BITS, info.bitSize))
        return WebTexts::BAD_REGISTER_BIT_SIZE;
    const QJsonValue offset = entry.value(HTTP::API_JSON_KEY_REG_MAP_BIAS);
    if (!offset.isUndefined() && !readWholeNumber(offset, 0, MAX_REGISTER_ADDRESS, info.regOffset))
        return WebTexts::BAD_REGISTER_OFFSET;
    const int registers = (info.bitSize + BITS_PER_REGISTER - 1) / BITS_PER_REGISTER;
    if (startAddr + info.regOffset + registers - 1 > MAX_REGISTER_ADDRESS)
        return WebTexts::REGISTER_BEYOND_MAP;
    return QString();
}

QString readRegisters(
    const QJsonArray& entries, int startAddr, QList<REGS::SRegisterInfo>& registers)
{
    if (entries.isEmpty())
        return WebTexts::NO_REGISTERS;
    if (entries.size() > MAX_NEW_DEVICE_REGISTERS)
        return WebTexts::TOO_MANY_REGISTERS;
    for (const QJsonValue& entry : entries) {
        if (!entry.isObject())
            return WebTexts::BAD_REGISTER;
        REGS::SRegisterInfo info;
        const QString invalid = readRegister(entry.toObject(), startAddr, info);
        if (!invalid.isEmpty())
            return invalid;
        registers << info;
    }
    return QString();
}
} // namespace

QString readNewDevice(const QJsonObject& body, DB::SDeviceRegMapDescription& device)
{
    if (!body.contains(HTTP::API_JSON_KEY_PORT))
        return WebTexts::NO_TCP_PORT;
    device = DB::SDeviceRegMapDescription();
    // A port the listener cannot take as it is would open another port than the one stored.
    if (!readWholeNumber(
            body.value(HTTP::API_JSON_KEY_PORT), MIN_TCP_PORT, MAX_TCP_PORT, device.port))
        return WebTexts::BAD_TCP_PORT;
    const QJsonValue startAddr = body.value(HTTP::API_JSON_KEY_START_ADDR);
    if (!startAddr.isUndefined()
        && !readWholeNumber(startAddr, 0, MAX_REGISTER_ADDRESS, device.startAddr))
        return WebTexts::BAD_START_ADDR;

    device.devEui = body.value(HTTP::API_JSON_KEY_DEV_EUI).toString();
    device.appEui = body.value(HTTP::API_JSON_KEY_DEV_APP_EUI).toString();
    device.name = body.value(HTTP::API_JSON_KEY_DEV_TYPE).toString();
    if (device.appEui.isEmpty())
        return WebTexts::NO_APP_EUI;
    if (device.devEui.isEmpty())
        return WebTexts::NO_DEV_EUI;
    return readRegisters(
        body.value(HTTP::API_JSON_KEY_DEV_REGISTERS).toArray(), device.startAddr, device.registers);
}
