#pragma once

#include "dbsynchronous.h"

#include <QSqlDatabase>
#include <QString>

// One write transaction on a connection, rolled back unless committed. A transaction that
// changes the configuration runs with synchronous=FULL, so that a device once registered,
// deleted or rescaled stays so after a power cut; the connection goes back to NORMAL afterwards.
class CDbTransaction
{
public:
    // method names the operation in the log texts.
    CDbTransaction(const QSqlDatabase& db, const QString& method, ESynchronous mode);
    ~CDbTransaction();
    CDbTransaction(const CDbTransaction&) = delete;
    CDbTransaction& operator=(const CDbTransaction&) = delete;

    bool isStarted() const { return started; }
    bool commit();
    // SQLite's reason when the start or the commit failed.
    QString errorText() const;

private:
    void restoreMode();

    QSqlDatabase db;
    QString method;
    ESynchronous mode;
    bool started = false;
};
