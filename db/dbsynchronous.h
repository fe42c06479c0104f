#pragma once

#include <QSqlDatabase>

// How long SQLite waits for the disk on commit. With the WAL journal, NORMAL may lose the last
// commits on a power cut but never leaves the file inconsistent; FULL makes every commit durable
// once it returns, at the cost of a sync per commit.
enum class ESynchronous {
    NORMAL,
    FULL,
};

// Sets the mode of one connection. SQLite refuses the change inside a transaction, so callers
// set it before BEGIN.
bool setSynchronous(QSqlDatabase& db, ESynchronous mode);
