#pragma once

#include <QLoggingCategory>

// Console messages of the template parsers; QT_LOGGING_RULES="tarvex.templates.debug=false"
// silences them.
Q_DECLARE_LOGGING_CATEGORY(lcTemplates)
