#pragma once

#include <QString>
#include <QStringList>

namespace DB {
extern const QString DB_FILENAME;
extern const QString DB_TABLE_DEVICES;
extern const QStringList DbTableDevicesList; // column names of DB_TABLE_DEVICES, in order
extern const QString DB_TABLE_DEVDATA;
extern const QStringList DbTableDevDataList; // column names of DB_TABLE_DEVDATA, in order
} // namespace DB
