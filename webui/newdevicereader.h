#pragma once

#include "dbrecords.h"

#include <QJsonObject>
#include <QString>

// Reads the device that app/addDevice registers from the request's JSON body. Returns the
// operator's error text of the first check that fails, or an empty text when device holds a
// complete description (id 0, not stored yet).
QString readNewDevice(const QJsonObject& body, DB::SDeviceRegMapDescription& device);
