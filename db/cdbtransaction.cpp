#include "cdbtransaction.h"

#include "cfailurereporter.h"
#include "clogfile.h"
#include "dbtexts.h"

CDbTransaction::CDbTransaction(const QSqlDatabase& db, const QString& method, ESynchronous mode)
    : db(db), method(method), mode(mode)
{
    // SQLite refuses to change the mode inside a transaction, so it goes first.
    if (mode != ESynchronous::NORMAL && this->db.isOpen())
        setSynchronous(this->db, mode);
    started = this->db.transaction();
    if (started)
        return;
    addLog(DbTexts::TRANSACTION_NOT_STARTED.arg(method));
    restoreMode();
}

CDbTransaction::~CDbTransaction()
{
    if (!started)
        return;
    db.rollback();
    restoreMode();
}

bool CDbTransaction::commit()
{
    if (!db.commit()) {
        addLog(DbTexts::TRANSACTION_NOT_COMMITTED.arg(method));
        return false; // still started: the destructor rolls back
    }
    started = false;
    restoreMode();
    return true;
}

QString CDbTransaction::errorText() const
{
    return CFailureReporter::reason(db.lastError());
}

void CDbTransaction::restoreMode()
{
    if (mode != ESynchronous::NORMAL && db.isOpen())
        setSynchronous(db, ESynchronous::NORMAL);
}
