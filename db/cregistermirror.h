#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVector>

// A copy in memory of what the Modbus register image and the scaling lookup read from the
// dev_data and devices tables, so that these two reads cost no SQL. It is not thread-safe:
// CDataBaseHandler uses it under its mutex and changes it only after a write has committed.
class CRegisterMirror
{
public:
    // One dev_data row, reduced to the columns the two reads need.
    struct SRow
    {
        qint64 rowId = 0;
        int device = 0;
        bool hasPort = false; // a NULL port never matches a port
        qint64 port = 0;
        bool hasRegAddr = true; // a NULL address is kept out of every lookup
        qint64 regAddr = 0;
        int bitSize = 0;
        QByteArray fullValue; // decoded from the stored hexadecimal text; empty for NULL
        double startValue = 0.0;
        double gratingPeriod = 0.0;
        QString unit;
    };

    void clear();
    void addDevice(const QString& devEui, int id);
    void addRow(const SRow& row);
    void removeDevice(int id);
    void removeDeviceRows(int id);
    void setFullValue(int device, qint64 regAddr, const QByteArray& fullValue);

    QVector<quint16> registerWords(qint64 port, qint64 first, qint64 count) const;
    const SRow* findRow(const QString& devEui, qint64 regAddr) const;
    bool firstDeviceId(const QString& devEui, int& id) const;
    QSet<quint16> registersUsing(qint64 port) const;
    // False once a row without an address was loaded: such a row still occupies registers
    // 0 onwards in the usage set, which only SQL can tell.
    bool knowsEveryUsage() const;

private:
    using RowIds = QVector<qint64>; // ascending, the order in which SQLite returns the rows

    static void insertSorted(RowIds& ids, qint64 rowId);
    static void writeRow(QVector<quint16>& words, const SRow& row, qint64 first);

    QHash<qint64, SRow> rows; // by rowid
    QHash<qint64, QMap<qint64, RowIds>> rowsByPort; // port -> reg_addr -> rows
    QHash<QPair<int, qint64>, RowIds> rowsByDeviceAddr; // (device, reg_addr) -> rows
    QHash<QString, QVector<int>> idsByEui; // ascending device ids
    bool rowWithoutAddress = false;
};
