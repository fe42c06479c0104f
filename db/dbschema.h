#pragma once

#include <QSqlDatabase>

// Creates the tables devices and dev_data and their indexes where they do not exist yet; an
// existing table is used as it is. A table that cannot be created is logged and passed over; the
// first index that cannot be created ends the work with false.
bool createSchema(QSqlDatabase& db);
