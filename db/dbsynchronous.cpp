#include "dbsynchronous.h"

#include "dblogging.h"

#include <QSqlError>
#include <QSqlQuery>

bool setSynchronous(QSqlDatabase& db, ESynchronous mode)
{
    const QString statement = mode == ESynchronous::FULL
        ? QStringLiteral("PRAGMA synchronous=FULL;")
        : QStringLiteral("PRAGMA synchronous=NORMAL;");
    QSqlQuery query(db);
    if (query.exec(statement))
        return true;
    qCWarning(lcDb).noquote() << statement << "failed:" << query.lastError().text();
    return false;
}
