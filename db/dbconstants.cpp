#include "dbconstants.h"

namespace DB {
const QString DB_FILENAME = QStringLiteral("server.db");
const QString DB_TABLE_DEVICES = QStringLiteral("devices");
const QStringList DbTableDevicesList = {
    QStringLiteral("device"),
    QStringLiteral("name"),
    QStringLiteral("app_eui"),
    QStringLiteral("dev_eui"),
    QStringLiteral("port"),
    QStringLiteral("start_addr"),
};
const QString DB_TABLE_DEVDATA = QStringLiteral("dev_data");
const QStringList DbTableDevDataList = {
    QStringLiteral("device"),
    QStringLiteral("port"),
    QStringLiteral("reg_addr"),
    QStringLiteral("start_value"),
    QStringLiteral("grating_period"),
    QStringLiteral("bit_size"),
    QStringLiteral("data_type"),
    QStringLiteral("value"),
    QStringLiteral("full_value"),
    QStringLiteral("time"),
    QStringLiteral("name"),
    QStringLiteral("unit"),
    QStringLiteral("parent"),
    QStringLiteral("source"),
};
} // namespace DB
