#include "dbschema.h"

#include "clogfile.h"
#include "dbconstants.h"
#include "dbtexts.h"

#include <QDebug>
#include <QHash>
#include <QList>
#include <QSqlError>
#include <QSqlQuery>

// The statements are written out so that they can be read against the table description; their
// column names follow DB::DbTableDevicesList and DB::DbTableDevDataList, which the tests check.
// SQLite keeps each text in the file as written, blanks included.
namespace {
struct STable
{
    QString name;
    QString statement;
};

struct SIndex
{
    QString table;
    QString name;
    QString statement;
};

const QList<STable> TABLES = {
    {QStringLiteral("devices"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS devices ( "
                       "device INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL UNIQUE, "
                       "name TEXT, "
                       "app_eui TEXT, "
                       "dev_eui TEXT, "
                       "port INTEGER, "
                       "start_addr INTEGER ); ")},
    {QStringLiteral("dev_data"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS dev_data ( "
                       "device INTEGER NOT NULL, "
                       "port INTEGER, "
                       "reg_addr INTEGER, "
                       "start_value INTEGER, "
                       "grating_period REAL, "
                       "bit_size REAL, "
                       "data_type TEXT, "
                       "value TEXT DEFAULT NULL, "
                       "full_value TEXT DEFAULT NULL, "
                       "time INTEGER DEFAULT NULL, "
                       "name TEXT DEFAULT NULL, "
                       "unit TEXT DEFAULT NULL, "
                       "parent INTEGER, "
                       "source INTEGER ); ")},
};

const QList<SIndex> INDEXES = {
    {QStringLiteral("devices"), QStringLiteral("idx_eui"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_eui ON devices ( dev_eui );")},
    {QStringLiteral("devices"), QStringLiteral("idx_device"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_device ON devices ( device );")},
    {QStringLiteral("dev_data"), QStringLiteral("idx_dev_parent"),
        QStringLiteral(
            "CREATE INDEX IF NOT EXISTS idx_dev_parent ON dev_data ( device, parent );")},
    {QStringLiteral("dev_data"), QStringLiteral("idx_dev_regaddr"),
        QStringLiteral(
            "CREATE INDEX IF NOT EXISTS idx_dev_regaddr ON dev_data ( device, reg_addr );")},
    {QStringLiteral("dev_data"), QStringLiteral("idx_port_regaddr"),
        QStringLiteral(
            "CREATE INDEX IF NOT EXISTS idx_port_regaddr ON dev_data ( port, reg_addr );")},
};

void createTable(QSqlDatabase& db, const STable& table)
{
    QSqlQuery query(db);
    if (query.exec(table.statement))
        return;
    const QString message = DbTexts::TABLE_NOT_CREATED.arg(table.name);
    qDebug().noquote() << message;
    addLog(message);
}

bool createIndex(QSqlDatabase& db, const SIndex& index, QString& problem)
{
    QSqlQuery query(db);
    if (query.exec(index.statement))
        return true;
    addLog(DbTexts::INDEX_NOT_CREATED.arg(index.table, index.name), CLogFile::LOG_TYPE_CRITICAL);
    addLog(index.statement, CLogFile::LOG_TYPE_CRITICAL);
    problem = query.lastError().databaseText();
    return false;
}

// What sqlite_master holds under each of the service's table names; SQLite's reason when the
// file cannot be read at all.
bool readObjectTypes(QSqlDatabase& db, QHash<QString, QString>& types, QString& problem)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT name, type FROM sqlite_master;"))) {
        problem = query.lastError().databaseText();
        return false;
    }
    while (query.next())
        types.insert(query.value(0).toString(), query.value(1).toString());
    return true;
}

// The statements read columns by position, so an existing table must begin with the service's
// columns in their order; columns after them do no harm.
QString columnsProblem(QSqlDatabase& db, const QString& table, const QStringList& needed)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1);").arg(table)))
        return query.lastError().databaseText();
    QStringList found;
    while (query.next())
        found.append(query.value(1).toString());
    if (found.mid(0, needed.size()) == needed)
        return QString();
    return DbTexts::FOREIGN_COLUMNS.arg(
        table, found.join(QStringLiteral(", ")), needed.join(QStringLiteral(", ")));
}

QString tableProblem(QSqlDatabase& db, const QHash<QString, QString>& types, const QString& table,
    const QStringList& needed)
{
    const auto type = types.constFind(table);
    if (type == types.constEnd())
        return QString();
    if (*type != QLatin1String("table"))
        return DbTexts::NOT_A_TABLE.arg(table, *type);
    return columnsProblem(db, table, needed);
}

// Takes the write lock and changes a page, as any write does, then undoes it: this fails where
// the file, its directory (for the journal) or the file system is read-only.
QString writeProblem(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version;")) || !query.next())
        return DbTexts::NOT_WRITABLE.arg(query.lastError().databaseText());
    const qint64 version = query.value(0).toLongLong();
    query.finish();
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE;")))
        return DbTexts::NOT_WRITABLE.arg(query.lastError().databaseText());
    const bool written = query.exec(QStringLiteral("PRAGMA user_version=%1;").arg(version));
    const QString reason = query.lastError().databaseText();
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK;"));
    return written ? QString() : DbTexts::NOT_WRITABLE.arg(reason);
}
} // namespace

QString fileProblem(QSqlDatabase& db)
{
    QHash<QString, QString> types;
    QString problem;
    if (!readObjectTypes(db, types, problem))
        return problem;
    problem = tableProblem(db, types, DB::DB_TABLE_DEVICES, DB::DbTableDevicesList);
    if (problem.isEmpty())
        problem = tableProblem(db, types, DB::DB_TABLE_DEVDATA, DB::DbTableDevDataList);
    if (problem.isEmpty())
        problem = writeProblem(db);
    return problem;
}

bool createSchema(QSqlDatabase& db, QString& problem)
{
    for (const STable& table : TABLES)
        createTable(db, table);
    for (const SIndex& index : INDEXES) {
        if (!createIndex(db, index, problem))
            return false;
    }
    return true;
}
