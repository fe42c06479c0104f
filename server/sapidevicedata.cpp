#include "server/sapidevicedata.h"

#include "server/apiconstants.h"

#include <QDebug>
#include <QJsonValue>
#include <QStringList>
#include <limits>

namespace {
// A JSON number, or a string of decimal digits, as an unsigned integer; anything else,
// negative numbers and values above quint64 give 0.
quint64 unsignedFromNumberOrString(const QJsonValue& value)
{
    if (value.isString())
        return value.toString().toULongLong(nullptr, 10);
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    const double limit = static_cast<double>(std::numeric_limits<quint64>::max());
    if (!(number >= 0.0 && number < limit))
        return 0;
    return static_cast<quint64>(number);
}

bool isUplinkWithData(const QString& type)
{
    const QStringList types = type.split(QLatin1Char('+'));
    return types.contains(API::ApiLorawanPacketType.at(API::PACKET_TYPE_UNCONF_UP))
        || types.contains(API::ApiLorawanPacketType.at(API::PACKET_TYPE_CONF_UP));
}
} // namespace

namespace API {
SApiDeviceData::SApiDeviceData(const QJsonObject& object)
{
    if (object.isEmpty())
        return;
    if (!object.contains(API_JSON_KEY_TYPE)) {
        qDebug().noquote() << "[SApiDeviceData] Unknown JSON message format!";
        return;
    }
    if (!isUplinkWithData(object.value(API_JSON_KEY_TYPE).toString()))
        return;
    if (!object.contains(API_JSON_KEY_DATA)) {
        qDebug().noquote() << "[SApiDeviceData] DATA is not exist";
        return;
    }

    devEui = object.value(API_JSON_KEY_DEVEUI).toString().toUpper();
    ts = unsignedFromNumberOrString(object.value(API_JSON_KEY_TS));
    // Several receiving gateways come joined by "+"; the first one is kept.
    gatewayId
        = object.value(API_JSON_KEY_MACBS).toString().section(QLatin1Char('+'), 0, 0).toUpper();
    ack = object.value(API_JSON_KEY_ACK).toBool(false);
    fcnt = static_cast<quint32>(unsignedFromNumberOrString(object.value(API_JSON_KEY_FCNT)));
    // QJsonValue::toInt() gives 0 for anything but a number with an integral value.
    port = static_cast<quint16>(object.value(API_JSON_KEY_PORT).toInt());
    data = QByteArray::fromHex(object.value(API_JSON_KEY_DATA).toString().toLatin1());
    freq = static_cast<quint32>(unsignedFromNumberOrString(object.value(API_JSON_KEY_FREQ)));
    dr = static_cast<quint16>(object.value(API_JSON_KEY_DR).toInt());
    rssi = static_cast<qint16>(object.value(API_JSON_KEY_RSSI).toInt());
    snr = object.value(API_JSON_KEY_SNR).toDouble(0.0);
    valid = true;
}
} // namespace API
