#pragma once

#include <QSqlDatabase>
#include <QString>

// Why the file cannot serve as the service's data base, empty when it can: SQLite cannot read
// it, a table name of the service is taken by something else or by a table whose columns the
// service's statements do not fit, or it cannot be written.
QString fileProblem(QSqlDatabase& db);

// Creates the tables devices and dev_data and their indexes where they do not exist yet; an
// existing table is used as it is. A table that cannot be created is logged and passed over; the
// first index that cannot be created ends the work with false and SQLite's reason in problem.
bool createSchema(QSqlDatabase& db, QString& problem);
