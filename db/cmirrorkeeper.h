#pragma once

#include "cregistermirror.h"
#include "dbrecords.h"

#include <QList>
#include <QSqlDatabase>
#include <QVariant>

// Keeps the register mirror in step with the file: fills it at start-up, and after a write has
// committed applies the rows that the write read back inside its transaction. Rows of a size no
// device can have are logged and stay out of the register image and the usage set.
class CMirrorKeeper
{
public:
    using Rows = QList<CRegisterMirror::SRow>;

    // Replaces the mirror's content with the file's rows; false when they could not be read.
    bool load(QSqlDatabase& db);
    // Forgets everything until the next load.
    void clear();
    bool isLoaded() const { return loaded; }

    // The mirrored columns of a device's dev_data rows, read inside the write's transaction.
    static bool readDeviceRows(QSqlDatabase& db, int device, Rows& rows);
    void addDevice(const QString& devEui, int id, const Rows& rows);
    void replaceDeviceRows(int id, const Rows& rows);
    void removeDevice(int id);
    void storeValues(int id, const DB::SDbDeviceRegDataSet& regData);

    QVector<quint16> registerWords(qint64 port, qint64 first, qint64 count);
    const CRegisterMirror::SRow* findRow(const QString& devEui, qint64 regAddr) const;
    bool firstDeviceId(const QString& devEui, int& id) const;
    QSet<quint16> registersUsing(qint64 port) const;

private:
    static bool readRows(QSqlDatabase& db, const QVariant& device, Rows& rows);
    bool loadDevices(QSqlDatabase& db);
    // method names the operation that met the rows in the log.
    void addRows(const Rows& rows, const QString& method);

    CRegisterMirror mirror;
    bool loaded = false;
};
