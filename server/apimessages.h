#pragma once

#include "sapidevicedata.h"
#include "sserverdeviceinfo.h"

#include <QJsonObject>
#include <QList>
#include <QString>

// The messages the client exchanges with the network server, as pure functions of JSON, so the
// protocol can be checked without a socket.
namespace API {
// Outgoing requests as compact JSON text.
QString pingRequest();
QString authRequest(const QString& login, const QString& password);
QString devicesListRequest();
QString deviceDataRequest(const QString& devEui);

// The devices of a get_devices_resp that have an EUI, a name and an application EUI, in the
// order sent.
QList<SServerDeviceInfo> readDevicesList(const QJsonObject& response);

// One uplink record of an rx message or of a get_data_resp list; invalid unless it is an uplink
// with application data.
SApiDeviceData readUplink(const QJsonObject& object);

// The first uplink with application data in a successful get_data_resp, carrying the response's
// device EUI; an invalid record when there is none.
SApiDeviceData chooseLastUplink(const QJsonObject& response);
} // namespace API
