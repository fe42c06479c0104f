#include "newdevicereader.h"

#include "apijsonkeys.h"
#include "weblimits.h"
#include "webtexts.h"

#include <QJsonArray>

namespace {
REGS::SRegisterInfo readRegister(const QJsonObject& entry)
{
    REGS::SRegisterInfo info;
    info.name = entry.value(HTTP::API_JSON_KEY_DATA_NAME).toString();
    info.source = entry.value(HTTP::API_JSON_KEY_SOURCE).toInt();
    info.regOffset = entry.value(HTTP::API_JSON_KEY_REG_MAP_BIAS).toInt();
    info.bitSize = entry.value(HTTP::API_JSON_KEY_REG_BIT_SIZE).toInt();
    info.dataType = entry.value(HTTP::API_JSON_KEY_DATA_TYPE).toString();
    info.startValue = entry.value(HTTP::API_JSON_KEY_ADDITION).toDouble();
    // Missing, it is 0 like every other number, not the record's default of 1.
    info.gratingPeriod = entry.value(HTTP::API_JSON_KEY_MULTIPLICATION).toDouble();
    info.unit = entry.value(HTTP::API_JSON_KEY_UNITS).toString();
    return info;
}

QString readRegisters(const QJsonArray& entries, QList<REGS::SRegisterInfo>& registers)
{
    if (entries.isEmpty())
        return WebTexts::NO_REGISTERS;
    if (entries.size() > MAX_NEW_DEVICE_REGISTERS)
        return WebTexts::TOO_MANY_REGISTERS;
    for (const QJsonValue& entry : entries) {
        if (!entry.isObject())
            return WebTexts::BAD_REGISTER;
        registers << readRegister(entry.toObject());
    }
    return QString();
}
} // namespace

QString readNewDevice(const QJsonObject& body, DB::SDeviceRegMapDescription& device)
{
    if (!body.contains(HTTP::API_JSON_KEY_PORT))
        return WebTexts::NO_TCP_PORT;
    // A port the listener cannot take as it is would open another port than the one stored.
    const int port = body.value(HTTP::API_JSON_KEY_PORT).toInt();
    if (port < MIN_TCP_PORT || port > MAX_TCP_PORT)
        return WebTexts::BAD_TCP_PORT;

    device = DB::SDeviceRegMapDescription();
    device.port = port;
    device.startAddr = body.value(HTTP::API_JSON_KEY_START_ADDR).toInt();
    device.devEui = body.value(HTTP::API_JSON_KEY_DEV_EUI).toString();
    device.appEui = body.value(HTTP::API_JSON_KEY_DEV_APP_EUI).toString();
    device.name = body.value(HTTP::API_JSON_KEY_DEV_TYPE).toString();
    if (device.appEui.isEmpty())
        return WebTexts::NO_APP_EUI;
    if (device.devEui.isEmpty())
        return WebTexts::NO_DEV_EUI;
    return readRegisters(body.value(HTTP::API_JSON_KEY_DEV_REGISTERS).toArray(), device.registers);
}
