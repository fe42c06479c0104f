#include "server/apimessages.h"

#include "server/apiconstants.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
QString compactText(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
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

SApiDeviceData chooseLastUplink(const QJsonObject& response)
{
    const QString devEui = response.value(API_JSON_KEY_DEVEUI).toString().toUpper();
    if (devEui.isEmpty() || !response.value(API_JSON_KEY_STATUS).toBool(false)
        || !response.contains(API_JSON_KEY_DATALIST))
        return SApiDeviceData();

    const QJsonArray records = response.value(API_JSON_KEY_DATALIST).toArray();
    for (const QJsonValue& value : records) {
        SApiDeviceData record(value.toObject());
        record.devEui = devEui;
        if (record.valid)
            return record;
    }
    return SApiDeviceData();
}
} // namespace API
