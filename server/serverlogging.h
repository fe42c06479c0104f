#pragma once

#include <QLoggingCategory>

// Free-form diagnostics of the network-server client ("tarvex.server").
Q_DECLARE_LOGGING_CATEGORY(lcServer)
