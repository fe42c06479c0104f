#pragma once

#include <QString>

// Texts that start-up writes to the console. Operators and their tools read them, so they stay
// exactly as they are.
namespace AppTexts {

// %1 = the service's title.
inline const QString STARTED = QStringLiteral("%1 has started");
inline const QString LOG_DISABLED = QStringLiteral("History log disabled in settings");

} // namespace AppTexts
