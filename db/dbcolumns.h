#pragma once

#include "dbconstants.h"

#include <QString>
#include <QStringList>

// Positions of the columns in DB::DbTableDevicesList and DB::DbTableDevDataList, which are also
// their positions in "SELECT *" rows; statements take the names from those lists by position.
enum EDevicesColumn {
    DEVICES_ID = 0,
    DEVICES_NAME,
    DEVICES_APP_EUI,
    DEVICES_DEV_EUI,
    DEVICES_PORT,
    DEVICES_START_ADDR,
    DEVICES_COLUMN_COUNT,
};

enum EDevDataColumn {
    DATA_DEVICE = 0,
    DATA_PORT,
    DATA_REG_ADDR,
    DATA_START_VALUE,
    DATA_GRATING_PERIOD,
    DATA_BIT_SIZE,
    DATA_TYPE,
    DATA_VALUE,
    DATA_FULL_VALUE,
    DATA_TIME,
    DATA_NAME,
    DATA_UNIT,
    DATA_PARENT,
    DATA_SOURCE,
    DATA_COLUMN_COUNT,
};

inline QString devicesColumn(EDevicesColumn column)
{
    return DB::DbTableDevicesList.at(column);
}

inline QString dataColumn(EDevDataColumn column)
{
    return DB::DbTableDevDataList.at(column);
}

// Fills %1, %2, ... one after the other, as chained QString::arg calls do.
inline QString fillStatement(QString statement, const QStringList& values)
{
    for (const QString& value : values)
        statement = statement.arg(value);
    return statement;
}
