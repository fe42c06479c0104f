#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVector>

// A copy in memory of what the Modbus register image, the scaling lookup and the register-usage
// set read from the dev_data and devices tables, so that these reads cost no SQL. It is not
// thread-safe: CDataBaseHandler uses it under its mutex and changes it only after a write has
// committed (see CMirrorKeeper).
class CRegisterMirror
{
public:
    // One dev_data row, reduced to the columns these reads need.
    struct SRow
    {
        qint64 rowId = 0;
        int device = 0;
        bool hasPort = false; // a NULL port never matches a port
        qint64 port = 0;
        bool hasRegAddr = true; // a NULL address counts only in the usage set
        qint64 regAddr = 0;
        int bitSize = 0;
        QByteArray fullValue; // decoded from the stored hexadecimal text; empty for NULL
        double startValue = 0.0;
        double gratingPeriod = 0.0;
        QString unit;
    };

    void clear();
    void addDevice(const QString& devEui, int id);
    // False when the row's size is not sound (see isSoundRowSize): the row then stays out of the
    // register image and the usage set, and only its scaling can be looked up.
    bool addRow(const SRow& row);
    void removeDevice(int id);
    void removeDeviceRows(int id);
    void setFullValue(int device, qint64 regAddr, const QByteArray& fullValue);

    QVector<quint16> registerWords(qint64 port, qint64 first, qint64 count);
    const SRow* findRow(const QString& devEui, qint64 regAddr) const;
    bool firstDeviceId(const QString& devEui, int& id) const;
    // Every 16-bit address covered by a row on the port, wrapping past 65535. A row without an
    // address counts from register 0, as SQL reads a NULL address as 0.
    QSet<quint16> registersUsing(qint64 port) const;

private:
    using RowIds = QVector<qint64>; // ascending, the order in which SQLite returns the rows

    // A row of a port as the register image applies it: its words sit in SPortImage::words.
    struct SImageEntry
    {
        qint64 regAddr = 0;
        qint64 rowId = 0;
        int offset = 0; // first word in SPortImage::words
        int span = 0; // words the row writes
        bool valid = false; // false: the stored value has the wrong size and writes nothing
    };
    // The rows of one port laid out flat in image order, so that a read walks contiguous memory
    // instead of chasing a node per row. Rebuilt on the first read after rows came or went;
    // a new value of an existing row is written into it in place.
    struct SPortImage
    {
        QVector<SImageEntry> entries; // by reg_addr, then rowid
        QVector<quint16> words;
        bool stale = true;
    };

    static void insertSorted(RowIds& ids, qint64 rowId);
    static bool isImaged(const SRow& row);
    static bool rowWords(const SRow& row, quint16* words, int span);
    const SPortImage& portImage(qint64 port);
    void updateImageEntry(const SRow& row);

    QHash<qint64, SRow> rows; // by rowid
    QHash<qint64, QMap<qint64, RowIds>> rowsByPort; // port -> reg_addr -> rows of the image
    QHash<qint64, RowIds> unaddressedByPort; // port -> sound rows without an address
    QHash<QPair<int, qint64>, RowIds> rowsByDeviceAddr; // (device, reg_addr) -> rows
    QHash<QString, QVector<int>> idsByEui; // ascending device ids
    QHash<qint64, SPortImage> imagesByPort;
};
