#include "apimessages.h"

#include "apiconstants.h"
#include "servertexts.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
QString compactText(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// The number truncated toward zero into T, saturated at T's limits, so that no conversion runs
// out of range (that would be undefined behaviour).
template<typename T>
T saturated(double number)
{
    constexpr T lowest = std::numeric_limits<T>::min();
    constexpr T highest = std::numeric_limits<T>::max();
    if (std::isnan(number))
        return 0;
    if (number <= static_cast<double>(lowest))
        return lowest;
    if (number >= static_cast<double>(highest))
        return highest;
    return static_cast<T>(number);
}

// A string of decimal digits as an unsigned integer, saturated at T's maximum; anything else
// gives 0.
template<typename T>
T unsignedFromString(const QString& text)
{
    bool ok = false;
    const quint64 number = text.toULongLong(&ok, 10);
    if (ok)
        return static_cast<T>(std::min<quint64>(number, std::numeric_limits<T>::max()));
    const QString digits = text.trimmed();
    const bool tooLong = !digits.isEmpty()
        && std::all_of(digits.cbegin(), digits.cend(),
            [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    return tooLong ? std::numeric_limits<T>::max() : 0;
}

// A JSON number, or a string of decimal digits, as an unsigned integer saturated at T's limits
// (negative numbers give 0); anything else gives 0.
template<typename T>
T unsignedFromNumberOrString(const QJsonValue& value)
{
    if (value.isString())
        return unsignedFromString<T>(value.toString());
    return value.isDouble() ? saturated<T>(value.toDouble()) : 0;
}

// A JSON number with an integral value, saturated at T's limits; anything else gives 0.
template<typename T>
T integralNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    return std::trunc(number) == number ? saturated<T>(number) : 0;
}

bool isUplinkWithData(const QString& type)
{
    const QStringList types = type.split(QLatin1Char('+'));
    return types.contains(API::ApiLorawanPacketType.at(API::PACKET_TYPE_UNCONF_UP))
        || types.contains(API::ApiLorawanPacketType.at(API::PACKET_TYPE_CONF_UP));
}
} // namespace

namespace API {
QString pingRequest()
{
    return compactText({{API_JSON_KEY_CMD, API_JSON_CMD_PINGREQ}});
}

QString authRequest(const QString& login, const QString& password)
{
    return compactText({{API_JSON_KEY_CMD, API_JSON_CMD_AUTHREQ}, {API_JSON_KEY_LOGIN, login},
        {API_JSON_KEY_PASSWORD, password}});
}

QString devicesListRequest()
{
    return compactText({{API_JSON_KEY_CMD, API_JSON_CMD_GETDEVREGINFOREQ}});
}

QString deviceDataRequest(const QString& devEui)
{
    const QJsonObject select {{API_JSON_KEY_DIRECTION, API_JSON_VAL_DIRECTION_UPLINK},
        {API_JSON_KEY_LIMIT, API_GETDEVDATA_LIMIT}};
    return compactText({{API_JSON_KEY_CMD, API_JSON_CMD_GETDEVDATAREQ},
        {API_JSON_KEY_DEVEUI, devEui.toUpper()}, {API_JSON_KEY_SELECT, select}});
}

QList<SServerDeviceInfo> readDevicesList(const QJsonObject& response)
{
    QList<SServerDeviceInfo> devices;
    const QJsonArray entries = response.value(API_JSON_KEY_DEVLIST).toArray();
    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
        if (!entry.contains(API_JSON_KEY_DEVEUI) || !entry.contains(API_JSON_KEY_DEVNAME)
            || !entry.contains(API_JSON_KEY_OTAA))
            continue;
        SServerDeviceInfo device;
        device.devEui = entry.value(API_JSON_KEY_DEVEUI).toString();
        device.appEui
            = entry.value(API_JSON_KEY_OTAA).toObject().value(API_JSON_KEY_OTAA_APPEUI).toString();
        device.devName = entry.value(API_JSON_KEY_DEVNAME).toString();
        if (!device.appEui.isEmpty())
            devices.append(device);
    }
    return devices;
}

SApiDeviceData readUplink(const QJsonObject& object)
{
    SApiDeviceData record;
    if (object.isEmpty())
        return record;
    if (!object.contains(API_JSON_KEY_TYPE)) {
        qDebug().noquote() << ServerTexts::UPLINK_WITHOUT_TYPE;
        return record;
    }
    if (!isUplinkWithData(object.value(API_JSON_KEY_TYPE).toString()))
        return record;
    if (!object.contains(API_JSON_KEY_DATA)) {
        qDebug().noquote() << ServerTexts::UPLINK_WITHOUT_DATA;
        return record;
    }

    record.devEui = object.value(API_JSON_KEY_DEVEUI).toString().toUpper();
    record.ts = unsignedFromNumberOrString<quint64>(object.value(API_JSON_KEY_TS));
    // Several receiving gateways come joined by "+"; the first one is kept.
    record.gatewayId
        = object.value(API_JSON_KEY_MACBS).toString().section(QLatin1Char('+'), 0, 0).toUpper();
    record.ack = object.value(API_JSON_KEY_ACK).toBool(false);
    record.fcnt = unsignedFromNumberOrString<quint32>(object.value(API_JSON_KEY_FCNT));
    record.port = integralNumber<quint16>(object.value(API_JSON_KEY_PORT));
    record.data = QByteArray::fromHex(object.value(API_JSON_KEY_DATA).toString().toLatin1());
    record.freq = unsignedFromNumberOrString<quint32>(object.value(API_JSON_KEY_FREQ));
    record.dr = integralNumber<quint16>(object.value(API_JSON_KEY_DR));
    record.rssi = integralNumber<qint16>(object.value(API_JSON_KEY_RSSI));
    // Every JSON number fits the double as it is; the decoder saturates it where it rounds it.
    record.snr = object.value(API_JSON_KEY_SNR).toDouble(0.0);
    record.valid = true;
    return record;
}

SApiDeviceData chooseLastUplink(const QJsonObject& response)
{
    const QString devEui = response.value(API_JSON_KEY_DEVEUI).toString().toUpper();
    if (devEui.isEmpty() || !response.value(API_JSON_KEY_STATUS).toBool(false)
        || !response.contains(API_JSON_KEY_DATALIST))
        return SApiDeviceData();

    const QJsonArray records = response.value(API_JSON_KEY_DATALIST).toArray();
    for (const QJsonValue& value : records) {
        SApiDeviceData record = readUplink(value.toObject());
        record.devEui = devEui;
        if (record.valid)
            return record;
    }
    return SApiDeviceData();
}
} // namespace API
