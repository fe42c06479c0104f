#pragma once

#include "cdatabasehandler.h"

#include <QTemporaryDir>
#include <QVariant>

#include <memory>

// A fresh database file for each test, the handler started on it, and a connection of the test's
// own that reads and writes rows as another program would.
class CDbTestFixture
{
public:
    bool start(); // the handler on a new file in a new directory; false when that failed
    bool restart(); // the handler again on the same file, as a restart of the service would
    CDataBaseHandler* handler() const { return database; }

    // Statements on the test's own connection. exec returns the error text, empty on success.
    QString exec(const QString& statement);
    QVariantList column(const QString& statement); // the first column of every row
    QVariant value(const QString& statement) { return column(statement).value(0); }

    // Registers a device on port with the given entries; returns the refusal text, or "accepted".
    QString registerDevice(const QString& devEui, int port, int startAddr,
        const QList<REGS::SRegisterInfo>& registers);
    uint deviceId(const QString& devEui);

private:
    std::unique_ptr<QTemporaryDir> dir;
    CDataBaseHandler* database = nullptr;
    QString connectionName;
};

// A register entry of bitSize bits at regOffset, without scaling.
REGS::SRegisterInfo registerEntry(int regOffset, int bitSize);
