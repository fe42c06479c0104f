#pragma once

#include <QLoggingCategory>

// Diagnostics of the register database that no operator tool relies on.
Q_DECLARE_LOGGING_CATEGORY(lcDb)
