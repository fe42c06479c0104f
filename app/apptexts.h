#pragma once

#include <QString>

// Texts that start-up writes to the console. Operators and their tools read them, so they stay
// exactly as they are.
namespace AppTexts {

// %1 = the service's title.
inline const QString STARTED = QStringLiteral("%1 has started");
inline const QString LOG_DISABLED = QStringLiteral("History log disabled in settings");
// %1 = the settings key.
inline const QString DB_FILE_EMPTY = QStringLiteral(
    "CRITICAL_ERROR! Settings key [%1] is empty: no data base file to open. Tarvex is not "
    "running!");
// %1 = the settings key, %2 = its value.
inline const QString SERVER_ADDRESS_INVALID = QStringLiteral(
    "ERROR: [main] Settings key [%1] holds [%2], which is not a ws:// or wss:// URL: the network "
    "server cannot be reached");
// %1 = the device EUI, %2 = the port as read from the data base (text reads as 0).
inline const QString DEVICE_PORT_INVALID = QStringLiteral(
    "ERROR: [main] Device [%1] is not opened: its stored port [%2] is not a TCP port (1 to "
    "65535)");

} // namespace AppTexts
