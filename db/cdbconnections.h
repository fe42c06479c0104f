#pragma once

#include "cfailurereporter.h"

#include <QDeadlineTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

// Gives every thread that reaches the database a connection of its own to one file: Qt lets a
// connection be used only in the thread that created it. Not thread-safe; CDataBaseHandler uses
// it under its mutex. There is one per process, as the per-thread connections are.
//
// A data base file deleted while the service runs is still open, whole, in every connection.
// Rather than keep writing into a file that is gone with the next restart (SQLite would, without
// a word), the first connection asked for afterwards writes a copy of it back under its name and
// every thread moves over to that file: devices and values survive, and an operator who deleted
// the file by mistake loses nothing.
class CDbConnections
{
public:
    // Opens the calling thread's connection under Qt's default name; connections that other
    // threads opened to an earlier file are replaced on their next use.
    bool open(const QString& fileName, QString& errorText);
    // Further connections are refused until the next open.
    void close();
    // Drops the calling thread's connection and the statements prepared on it.
    void release();
    // The calling thread's connection, opened on first use; invalid while closed.
    QSqlDatabase connection();
    // A statement prepared once on the calling thread's connection and kept with it.
    QSqlQuery& prepared(QSqlDatabase& db, const QString& statement);

private:
    QSqlDatabase threadDatabase();
    bool fileDeleted() const;
    bool restoreFile();
    bool writeCopy(QString& errorText);
    void dropKeeper();

    QString fileName;
    bool opened = false;
    // Whether open found a file under fileName that can go missing (not an in-memory data base).
    bool watchFile = false;
    // The connection open made, held for a deleted file: it still reaches the file's data from
    // whichever thread needs it (under the caller's mutex), where a connection opened by name
    // would find, and create, an empty data base.
    QSqlDatabase keeper;
    // A copy that could not be written is tried again at most this often, not on every call.
    QDeadlineTimer nextRestore;
    CFailureReporter restoreReporter {QString(), QString()};
};
