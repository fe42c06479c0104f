#pragma once

#include <QSqlError>
#include <QString>

// Reports a failure that repeats, such as every uplink failing to be stored, once per cause and
// once more when it clears, on standard error and in the log: enough for an operator to see what
// is wrong and when it is over, without a line per attempt.
class CFailureReporter
{
public:
    // failureText takes the reason as its lowest placeholder; an empty recoveryText reports no
    // recovery.
    CFailureReporter(const QString& failureText, const QString& recoveryText);

    // An attempt failed for reason; reported unless the last report named the same reason.
    void failed(const QString& reason);
    // An attempt succeeded; a failure reported before is reported over.
    void succeeded();

    // One report line on standard error and in the log.
    static void report(const QString& text, bool failure);
    // SQLite's own words where it gave any ("database or disk is full"), Qt's otherwise.
    static QString reason(const QSqlError& error);

private:
    QString failureText;
    QString recoveryText;
    QString lastReason; // null while nothing failed
};
