#include "cmirrorkeeper.h"

#include "clogfile.h"
#include "dbcolumns.h"
#include "dbtexts.h"

#include <QSqlQuery>

bool CMirrorKeeper::load(QSqlDatabase& db)
{
    clear();
    Rows rows;
    loaded = loadDevices(db) && readRows(db, QVariant(), rows);
    if (loaded)
        addRows(rows, QStringLiteral("init"));
    return loaded;
}

void CMirrorKeeper::clear()
{
    mirror.clear();
    loaded = false;
}

bool CMirrorKeeper::readDeviceRows(QSqlDatabase& db, int device, Rows& rows)
{
    return readRows(db, device, rows);
}

void CMirrorKeeper::addDevice(const QString& devEui, int id, const Rows& rows)
{
    mirror.addDevice(devEui, id);
    addRows(rows, QStringLiteral("registerNewDevice"));
}

void CMirrorKeeper::replaceDeviceRows(int id, const Rows& rows)
{
    mirror.removeDeviceRows(id);
    addRows(rows, QStringLiteral("updateRegInfo"));
}

void CMirrorKeeper::removeDevice(int id)
{
    mirror.removeDevice(id);
}

void CMirrorKeeper::storeValues(int id, const DB::SDbDeviceRegDataSet& regData)
{
    for (const DB::SDbDeviceRegDataRewrite& rewrite : regData.rewrites) {
        const qint64 regAddr = qint64(regData.startAddr) + rewrite.regOffset;
        mirror.setFullValue(id, regAddr, QByteArray::fromHex(rewrite.fullValue.toLatin1()));
    }
}

QVector<quint16> CMirrorKeeper::registerWords(qint64 port, qint64 first, qint64 count)
{
    return mirror.registerWords(port, first, count);
}

const CRegisterMirror::SRow* CMirrorKeeper::findRow(const QString& devEui, qint64 regAddr) const
{
    return mirror.findRow(devEui, regAddr);
}

bool CMirrorKeeper::firstDeviceId(const QString& devEui, int& id) const
{
    return mirror.firstDeviceId(devEui, id);
}

QSet<quint16> CMirrorKeeper::registersUsing(qint64 port) const
{
    return mirror.registersUsing(port);
}

bool CMirrorKeeper::loadDevices(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(fillStatement(QStringLiteral("SELECT %2, %3 FROM %1 ORDER BY %2;"),
            {DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_ID), devicesColumn(DEVICES_DEV_EUI)}))) {
        addLog(DbTexts::MIRROR_NOT_READ);
        addLog(query.lastQuery());
        return false;
    }
    while (query.next()) {
        if (!query.value(1).isNull())
            mirror.addDevice(query.value(1).toString(), query.value(0).toInt());
    }
    return true;
}

// Reads the dev_data rows the mirror keeps, of one device or (for a null device) of all.
bool CMirrorKeeper::readRows(QSqlDatabase& db, const QVariant& device, Rows& rows)
{
    const QString condition = device.isNull() ? QString() : QStringLiteral(" WHERE %2=:%2");
    QSqlQuery query(db);
    query.prepare(
        fillStatement(QStringLiteral("SELECT rowid, %2, %3, %4, %5, %6, %7, %8, %9 FROM %1")
                + condition + QStringLiteral(" ORDER BY rowid;"),
            {DB::DB_TABLE_DEVDATA, dataColumn(DATA_DEVICE), dataColumn(DATA_PORT),
                dataColumn(DATA_REG_ADDR), dataColumn(DATA_START_VALUE),
                dataColumn(DATA_GRATING_PERIOD), dataColumn(DATA_BIT_SIZE),
                dataColumn(DATA_FULL_VALUE), dataColumn(DATA_UNIT)}));
    if (!device.isNull())
        query.bindValue(QLatin1Char(':') + dataColumn(DATA_DEVICE), device);
    if (!query.exec()) {
        addLog(DbTexts::MIRROR_ROWS_NOT_READ);
        addLog(query.lastQuery());
        return false;
    }
    while (query.next()) {
        CRegisterMirror::SRow row;
        row.rowId = query.value(0).toLongLong();
        row.device = query.value(1).toInt();
        row.hasPort = !query.value(2).isNull();
        row.port = query.value(2).toLongLong();
        row.hasRegAddr = !query.value(3).isNull(); // a NULL address equals no requested address
        row.regAddr = query.value(3).toLongLong();
        row.startValue = query.value(4).toDouble();
        row.gratingPeriod = query.value(5).toDouble();
        row.bitSize = query.value(6).toInt();
        row.fullValue = QByteArray::fromHex(query.value(7).toString().toLatin1());
        row.unit = query.value(8).toString();
        rows.append(row);
    }
    return true;
}

void CMirrorKeeper::addRows(const Rows& rows, const QString& method)
{
    for (const CRegisterMirror::SRow& row : rows) {
        if (mirror.addRow(row))
            continue;
        const QString regAddr
            = row.hasRegAddr ? QString::number(row.regAddr) : QStringLiteral("NULL");
        addLog(DbTexts::ROW_SIZE_IGNORED.arg(
            method, regAddr, QString::number(row.device), QString::number(row.bitSize)));
    }
}
