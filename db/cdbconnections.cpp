#include "cdbconnections.h"

#include "clogfile.h"
#include "dbsynchronous.h"
#include "dbtexts.h"

#include <QFile>
#include <QHash>
#include <QSqlError>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {
const QString SQL_DRIVER = QStringLiteral("QSQLITE");
const QString CONNECTION_NAME = QStringLiteral("tarvex-db-%1");
// The copy of a deleted file is written beside it and takes its name only once it is whole.
const QString RESTORE_SUFFIX = QStringLiteral(".restore");
const int RESTORE_RETRY_MS = 5000;

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
        if (!ok)
            errorText = db.lastError().text();
        // A file SQLite cannot read is left to the caller to report, in one clear line.
        else if (QSqlQuery(db).exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master;")))
            setSynchronous(db, ESynchronous::NORMAL);
    }
    if (!ok)
        QSqlDatabase::removeDatabase(name);
    return ok;
}

// Closes the connections of every thread; each opens a new one on its next use once open has
// begun a new generation. Qt lets a connection be removed from any thread, and the caller's
// mutex keeps the owners from using them meanwhile.
void closeEveryConnection()
{
    threadConnection.release();
    const QString prefix = CONNECTION_NAME.arg(QString());
    for (const QString& name : QSqlDatabase::connectionNames()) {
        if (name.startsWith(prefix) || name == QLatin1String(QSqlDatabase::defaultConnection))
            QSqlDatabase::removeDatabase(name);
    }
}

bool fileExists(const QString& fileName)
{
    struct stat status;
    return ::stat(QFile::encodeName(fileName).constData(), &status) == 0;
}
} // namespace

bool CDbConnections::open(const QString& fileName, QString& errorText)
{
    this->fileName = fileName;
    opened = false;
    ++connectionGeneration;

    const QString defaultName = QLatin1String(QSqlDatabase::defaultConnection);
    threadConnection.release();
    dropKeeper();
    if (QSqlDatabase::contains(defaultName))
        QSqlDatabase::removeDatabase(defaultName);
    if (!openConnection(defaultName, fileName, errorText))
        return false;
    threadConnection.name = defaultName;
    threadConnection.generation = connectionGeneration;
    keeper = QSqlDatabase::database(defaultName, false);
    opened = true;
    watchFile = fileExists(fileName);
    restoreReporter = CFailureReporter(DbTexts::FILE_NOT_RESTORED.arg(fileName), QString());
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
    if (name != QLatin1String(QSqlDatabase::defaultConnection))
        return;
    dropKeeper();
    QSqlDatabase::removeDatabase(name);
}

// Qt removes a connection quietly only once no copy of it is left.
void CDbConnections::dropKeeper()
{
    keeper = QSqlDatabase();
}

QSqlDatabase CDbConnections::connection()
{
    if (opened && watchFile && fileDeleted() && !restoreFile())
        return keeper;
    return threadDatabase();
}

QSqlDatabase CDbConnections::threadDatabase()
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
    // While a deleted file waits to be written back, db may be the kept connection instead.
    if (query == threadConnection.prepared.end() || query->driver() != db.driver()) {
        query = threadConnection.prepared.insert(statement, QSqlQuery(db));
        query->prepare(statement);
    }
    return *query;
}

bool CDbConnections::fileDeleted() const
{
    struct stat status;
    return ::stat(QFile::encodeName(fileName).constData(), &status) != 0 && errno == ENOENT;
}

// Writes the open data base back under its name and moves every thread over to it. A copy that
// cannot be written (a full disk, a directory gone read-only) is reported once per cause and
// tried again later; meanwhile writes go on into the open data base, so the copy has them too.
bool CDbConnections::restoreFile()
{
    if (!nextRestore.hasExpired())
        return false;
    QString errorText;
    if (!writeCopy(errorText)) {
        restoreReporter.failed(errorText);
        nextRestore.setRemainingTime(RESTORE_RETRY_MS);
        return false;
    }
    restoreReporter.succeeded();
    nextRestore = QDeadlineTimer();
    // Every connection to the deleted file closes before one opens the new file: the last to
    // close deletes the WAL and shared-memory files of its name, and a WAL of the deleted file
    // must not be played into the new one.
    dropKeeper();
    closeEveryConnection();
    for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(fileName + suffix);
    if (!open(fileName, errorText)) {
        addLog(DbTexts::CONNECTION_NOT_OPENED.arg(errorText));
        return true; // nothing is open any more: every operation fails, and is logged
    }
    QSqlQuery(keeper).exec(QStringLiteral("PRAGMA journal_mode=WAL;"));
    CFailureReporter::report(DbTexts::FILE_RESTORED.arg(fileName), false);
    return true;
}

bool CDbConnections::writeCopy(QString& errorText)
{
    const QString copyName = fileName + RESTORE_SUFFIX;
    QFile::remove(copyName);
    QSqlQuery query(keeper);
    query.prepare(QStringLiteral("VACUUM INTO ?;"));
    query.addBindValue(QVariant(copyName));
    if (!query.exec())
        errorText = CFailureReporter::reason(query.lastError());
    else if (::rename(
                 QFile::encodeName(copyName).constData(), QFile::encodeName(fileName).constData())
        != 0)
        errorText = QString::fromLocal8Bit(std::strerror(errno));
    else
        return true;
    QFile::remove(copyName);
    return false;
}
