#include "cfailurereporter.h"

#include "clogfile.h"
#include "dblogging.h"

CFailureReporter::CFailureReporter(const QString& failureText, const QString& recoveryText)
    : failureText(failureText), recoveryText(recoveryText)
{
}

void CFailureReporter::failed(const QString& reason)
{
    // A reason SQLite leaves empty still counts as a failure, distinct from none.
    const QString cause = reason.isNull() ? QStringLiteral("") : reason;
    if (cause == lastReason)
        return;
    lastReason = cause;
    report(failureText.arg(cause), true);
}

void CFailureReporter::succeeded()
{
    if (lastReason.isNull())
        return;
    lastReason = QString();
    if (!recoveryText.isEmpty())
        report(recoveryText, false);
}

// Standard error shows it with the history log off, as it is by default.
void CFailureReporter::report(const QString& text, bool failure)
{
    if (failure)
        qCWarning(lcDb).noquote() << text;
    else
        qCInfo(lcDb).noquote() << text;
    addLog(text, failure ? CLogFile::LOG_TYPE_CRITICAL : CLogFile::LOG_TYPE_DEFAULT);
}

QString CFailureReporter::reason(const QSqlError& error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}
