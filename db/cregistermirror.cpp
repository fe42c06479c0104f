#include "cregistermirror.h"

#include "registerspan.h"

#include <algorithm>

void CRegisterMirror::clear()
{
    rows.clear();
    rowsByPort.clear();
    unaddressedByPort.clear();
    rowsByDeviceAddr.clear();
    idsByEui.clear();
    imagesByPort.clear();
}

void CRegisterMirror::addDevice(const QString& devEui, int id)
{
    if (devEui.isNull()) // stored as NULL, which equals nothing
        return;
    QVector<int>& ids = idsByEui[devEui];
    ids.insert(std::lower_bound(ids.begin(), ids.end(), id), id);
}

bool CRegisterMirror::addRow(const SRow& row)
{
    rows.insert(row.rowId, row);
    const bool sound = isSoundRowSize(row.bitSize);
    if (!row.hasRegAddr) {
        if (row.hasPort && sound)
            insertSorted(unaddressedByPort[row.port], row.rowId);
        return sound;
    }
    if (isImaged(row)) {
        insertSorted(rowsByPort[row.port][row.regAddr], row.rowId);
        imagesByPort[row.port].stale = true;
    }
    insertSorted(rowsByDeviceAddr[qMakePair(row.device, row.regAddr)], row.rowId);
    return sound;
}

void CRegisterMirror::removeDevice(int id)
{
    removeDeviceRows(id);
    for (auto it = idsByEui.begin(); it != idsByEui.end();) {
        it->removeAll(id);
        it = it->isEmpty() ? idsByEui.erase(it) : std::next(it);
    }
}

void CRegisterMirror::removeDeviceRows(int id)
{
    for (auto it = rows.begin(); it != rows.end();) {
        const SRow& row = it.value();
        if (row.device != id) {
            ++it;
            continue;
        }
        if (isImaged(row)) {
            imagesByPort[row.port].stale = true;
            QMap<qint64, RowIds>& byAddr = rowsByPort[row.port];
            byAddr[row.regAddr].removeOne(row.rowId);
            if (byAddr.value(row.regAddr).isEmpty())
                byAddr.remove(row.regAddr);
        }
        if (row.hasRegAddr)
            rowsByDeviceAddr.remove(qMakePair(row.device, row.regAddr));
        else if (row.hasPort)
            unaddressedByPort[row.port].removeOne(row.rowId);
        it = rows.erase(it);
    }
}

// Same rows as "UPDATE ... WHERE device = ? AND reg_addr = ?".
void CRegisterMirror::setFullValue(int device, qint64 regAddr, const QByteArray& fullValue)
{
    const RowIds ids = rowsByDeviceAddr.value(qMakePair(device, regAddr));
    for (qint64 rowId : ids) {
        SRow& row = rows[rowId];
        row.fullValue = fullValue;
        updateImageEntry(row);
    }
}

// Registers [first, first + count) of a port, word i holding register first + i: every
// requested register reads 0 unless a row whose first register lies in the range holds a value
// of exactly bitSize / 8 bytes. Rows are applied in reg_addr, then rowid order, so a later row at
// the same address wins, as when SQLite walks its (port, reg_addr) index.
QVector<quint16> CRegisterMirror::registerWords(qint64 port, qint64 first, qint64 count)
{
    QVector<quint16> words(static_cast<int>(count), 0);
    const SPortImage& image = portImage(port);
    const qint64 last = first + count - 1;
    auto entry = std::lower_bound(image.entries.cbegin(), image.entries.cend(), first,
        [](const SImageEntry& e, qint64 address) { return e.regAddr < address; });
    for (; entry != image.entries.cend() && entry->regAddr <= last; ++entry) {
        if (!entry->valid)
            continue;
        const int start = static_cast<int>(entry->regAddr - first);
        const int span = std::min(entry->span, words.size() - start);
        std::copy_n(image.words.constData() + entry->offset, span, words.data() + start);
    }
    return words;
}

// The row's words, most significant first, when its value has exactly bitSize / 8 bytes. A
// missing byte reads 0, so a one-byte value lands in the high byte of its register.
bool CRegisterMirror::rowWords(const SRow& row, quint16* words, int span)
{
    const QByteArray& bytes = row.fullValue;
    if (bytes.size() != row.bitSize / 8)
        return false;
    const auto byteAt = [&bytes](int index) -> quint16 {
        return index < bytes.size() ? quint8(bytes.at(index)) : 0;
    };
    for (int k = 0; k < span; ++k)
        words[k] = static_cast<quint16>((byteAt(2 * k) << 8) | byteAt(2 * k + 1));
    return true;
}

const CRegisterMirror::SPortImage& CRegisterMirror::portImage(qint64 port)
{
    SPortImage& image = imagesByPort[port];
    if (!image.stale)
        return image;
    image = SPortImage();
    const QMap<qint64, RowIds> byAddr = rowsByPort.value(port);
    for (auto it = byAddr.constBegin(); it != byAddr.constEnd(); ++it) {
        for (qint64 rowId : it.value()) {
            SImageEntry entry;
            entry.regAddr = it.key();
            entry.rowId = rowId;
            entry.offset = image.words.size();
            entry.span = registerSpan(rows.constFind(rowId)->bitSize);
            image.words.resize(entry.offset + entry.span);
            entry.valid
                = rowWords(*rows.constFind(rowId), image.words.data() + entry.offset, entry.span);
            image.entries.append(entry);
        }
    }
    image.stale = false;
    return image;
}

// Writes a row's new value into its port's image, unless that image is rebuilt anyway.
void CRegisterMirror::updateImageEntry(const SRow& row)
{
    if (!isImaged(row))
        return;
    const auto imageIt = imagesByPort.find(row.port);
    if (imageIt == imagesByPort.end() || imageIt->stale)
        return;
    SPortImage& image = *imageIt;
    const auto entry = std::lower_bound(
        image.entries.begin(), image.entries.end(), row, [](const SImageEntry& e, const SRow& r) {
            return e.regAddr < r.regAddr || (e.regAddr == r.regAddr && e.rowId < r.rowId);
        });
    if (entry == image.entries.end() || entry->rowId != row.rowId) {
        image.stale = true; // not expected: fall back to a rebuild
        return;
    }
    entry->valid = rowWords(row, image.words.data() + entry->offset, entry->span);
}

// The first row of the device(s) with this DevEUI at this address, as
// "SELECT * FROM dev_data WHERE device IN (...) AND reg_addr = ?" would return it.
const CRegisterMirror::SRow* CRegisterMirror::findRow(const QString& devEui, qint64 regAddr) const
{
    if (devEui.isNull()) // binds as NULL, which equals nothing
        return nullptr;
    const auto euiIt = idsByEui.constFind(devEui);
    if (euiIt == idsByEui.constEnd())
        return nullptr;
    for (int id : *euiIt) {
        const auto rowIt = rowsByDeviceAddr.constFind(qMakePair(id, regAddr));
        if (rowIt != rowsByDeviceAddr.constEnd() && !rowIt->isEmpty())
            return &*rows.constFind(rowIt->first());
    }
    return nullptr;
}

// The id "SELECT id FROM devices WHERE dev_eui = ?" returns first.
bool CRegisterMirror::firstDeviceId(const QString& devEui, int& id) const
{
    if (devEui.isNull())
        return false;
    const auto euiIt = idsByEui.constFind(devEui);
    if (euiIt == idsByEui.constEnd() || euiIt->isEmpty())
        return false;
    id = euiIt->first();
    return true;
}

QSet<quint16> CRegisterMirror::registersUsing(qint64 port) const
{
    QSet<quint16> used;
    const auto addUsage = [this, &used](qint64 regAddr, qint64 rowId) {
        const int span = registerSpan(rows.constFind(rowId)->bitSize);
        for (int k = 0; k < span; ++k)
            used.insert(static_cast<quint16>(regAddr + k));
    };
    const QMap<qint64, RowIds> byAddr = rowsByPort.value(port);
    for (auto it = byAddr.constBegin(); it != byAddr.constEnd(); ++it) {
        for (qint64 rowId : it.value())
            addUsage(it.key(), rowId);
    }
    for (qint64 rowId : unaddressedByPort.value(port))
        addUsage(0, rowId);
    return used;
}

// Rows the register image holds: with a port, an address and a sound size.
bool CRegisterMirror::isImaged(const SRow& row)
{
    return row.hasPort && row.hasRegAddr && isSoundRowSize(row.bitSize);
}

void CRegisterMirror::insertSorted(RowIds& ids, qint64 rowId)
{
    ids.insert(std::lower_bound(ids.begin(), ids.end(), rowId), rowId);
}
