#include "cdbconnections.h"

#include "clogfile.h"
#include "dbsynchronous.h"
#include "dbtexts.h"

#include <QHash>
#include <QSqlError>

#include <atomic>

namespace {
const QString SQL_DRIVER = QStringLiteral("QSQLITE");
const QString CONNECTION_NAME = QStringLiteral("tarvex-db-%1");

// Every open starts a new generation; a thread whose connection is older opens a new one.
std::atomic<quint64> connectionGeneration {0};
std::atomic<quint64> connectionCounter {0};

// The connection of one thread, named uniquely and dropped when the thread ends. The one made by
// open carries Qt's default name and lives as long as the process.
struct SThreadConnection
{
    QString name;
    quint64 generation = 0;
    QHash<QString, QSqlQuery> prepared; // statement text -> query prepared on this connection

    ~SThreadConnection() { release(); }
    void release()
    {
        prepared.clear();
        if (!name.isEmpty() && name != QLatin1String(QSqlDatabase::defaultConnection))
            QSqlDatabase::removeDatabase(name);
        name.clear();
    }
};
thread_local SThreadConnection threadConnection;

bool openConnection(const QString& name, const QString& fileName, QString& errorText)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(SQL_DRIVER, name);
        db.setDatabaseName(fileName);
        ok = db.open();
        if (ok)
            setSynchronous(db, ESynchronous::NORMAL);
        else
            errorText = db.lastError().text();
    }
    if (!ok)
        QSqlDatabase::removeDatabase(name);
    return ok;
}
} // namespace

bool CDbConnections::open(const QString& fileName, QString& errorText)
{
    this->fileName = fileName;
    opened = false;
    ++connectionGeneration;

    const QString defaultName = QLatin1String(QSqlDatabase::defaultConnection);
    threadConnection.release();
    if (QSqlDatabase::contains(defaultName))
        QSqlDatabase::removeDatabase(defaultName);
    if (!openConnection(defaultName, fileName, errorText))
        return false;
    threadConnection.name = defaultName;
    threadConnection.generation = connectionGeneration;
    opened = true;
    return true;
}

void CDbConnections::close()
{
    opened = false;
}

// The default connection is removed too: whoever releases it is shutting the database down.
void CDbConnections::release()
{
    const QString name = threadConnection.name;
    threadConnection.release();
    if (name == QLatin1String(QSqlDatabase::defaultConnection))
        QSqlDatabase::removeDatabase(name);
}

QSqlDatabase CDbConnections::connection()
{
    if (!opened)
        return QSqlDatabase();
    const quint64 generation = connectionGeneration;
    if (threadConnection.name.isEmpty() || threadConnection.generation != generation) {
        threadConnection.release();
        const QString name = CONNECTION_NAME.arg(++connectionCounter);
        QString errorText;
        if (!openConnection(name, fileName, errorText)) {
            addLog(DbTexts::CONNECTION_NOT_OPENED.arg(errorText));
            return QSqlDatabase();
        }
        threadConnection.name = name;
        threadConnection.generation = generation;
    }
    return QSqlDatabase::database(threadConnection.name, false);
}

QSqlQuery& CDbConnections::prepared(QSqlDatabase& db, const QString& statement)
{
    auto query = threadConnection.prepared.find(statement);
    if (query == threadConnection.prepared.end()) {
        query = threadConnection.prepared.insert(statement, QSqlQuery(db));
        query->prepare(statement);
    }
    return *query;
}
