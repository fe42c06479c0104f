#pragma once

#include <QLoggingCategory>

// Diagnostics of the Modbus listeners that no operator tool relies on.
Q_DECLARE_LOGGING_CATEGORY(lcModbus)
