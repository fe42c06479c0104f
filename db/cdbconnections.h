#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

// Gives every thread that reaches the database a connection of its own to one file: Qt lets a
// connection be used only in the thread that created it. Not thread-safe; CDataBaseHandler uses
// it under its mutex. There is one per process, as the per-thread connections are.
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
    QString fileName;
    bool opened = false;
};
