#include "dbschema.h"

#include "clogfile.h"
#include "dbtexts.h"

#include <QDebug>
#include <QList>
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

bool createIndex(QSqlDatabase& db, const SIndex& index)
{
    QSqlQuery query(db);
    if (query.exec(index.statement))
        return true;
    addLog(DbTexts::INDEX_NOT_CREATED.arg(index.table, index.name), CLogFile::LOG_TYPE_CRITICAL);
    addLog(index.statement, CLogFile::LOG_TYPE_CRITICAL);
    return false;
}
} // namespace

bool createSchema(QSqlDatabase& db)
{
    for (const STable& table : TABLES)
        createTable(db, table);
    for (const SIndex& index : INDEXES) {
        if (!createIndex(db, index))
            return false;
    }
    return true;
}
