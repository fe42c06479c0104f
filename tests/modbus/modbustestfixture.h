#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSignalSpy>
#include <QString>
#include <QVector>

// Shared set-up of the Modbus tests: a real database file with devices and stored values.
namespace ModbusTest {

// A port nobody listens on right now (the OS picks it; a tiny race is acceptable on loopback).
quint16 freePort();

// Opens the database worker on a file; the singleton allows one file per test process.
bool openDatabase(const QString& fileName);

// Registers a device whose entries are { offset from startAddr, bit size }.
bool registerDevice(
    const QString& devEui, quint16 port, int startAddr, const QList<QPair<int, int>>& entries);

// Stores a value as the decoder does: first register text plus the full value.
void storeValue(const QString& devEui, int startAddr, int offset, const QString& fullValue);

// Two devices sharing one port, with 16-, 32- and 64-bit values, a registered entry that never
// got a value and a gap without entries. expectedRegisters() is what registers 0..22 must read.
bool storeSharedPortLayout(quint16 port);
QVector<quint16> expectedRegisters();

QByteArray readRequest(
    quint16 transactionId, quint8 unitId, quint8 functionCode, quint16 start, quint16 quantity);

// Whether any history-log entry caught by the spy (on CLogFile::addLogSignal) contains text.
bool logged(const QSignalSpy& spy, const QString& text);
int countLogged(const QSignalSpy& spy, const QString& text);

} // namespace ModbusTest
