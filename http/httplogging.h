#pragma once

#include <QLoggingCategory>

// Diagnostics of the HTTP server; QT_LOGGING_RULES="tarvex.http.debug=false" silences them.
Q_DECLARE_LOGGING_CATEGORY(lcHttp)
