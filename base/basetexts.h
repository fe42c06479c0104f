#pragma once

#include <QString>

// Texts of the history log and the settings on the debug console. Operators and their tools read
// them, so they stay exactly as they are, odd wording included.
namespace BaseTexts {

// Time stamp of every log entry.
inline const QString LOG_TIME_FORMAT = QStringLiteral("dd-MMM-yy HH:mm:ss.zzz");
// The two entries that begin each run's part of the log.
inline const QString LOG_SESSION_STARS
    = QStringLiteral("*****************************************************************");
inline const QString LOG_SESSION_BANNER
    = QStringLiteral("**                      New session                            **");
inline const QString LOG_NAMED_SESSION_BANNER = QStringLiteral("**  New session  [%1] **");
inline const QString LOG_OPEN_FAILED = QStringLiteral("[CLogFile] Invalid file opening!");
// %1 is the signature of the call that could not reach the log object.
inline const QString LOG_NOT_REACHED = QStringLiteral("[ %1 ] невозможно создать invokeMethod");
inline const QString ADD_LOG_SIGNATURE
    = QStringLiteral("void addLog(QString, CLogFile::ELogMessageType, bool)");
inline const QString ADD_LOG_FILE_ONLY_SIGNATURE
    = QStringLiteral("void addLogIntoFileOnly(QString)");
// Outside data cut short in a log line: %1 its first bytes, %2 its whole length in bytes.
inline const QString LOG_QUOTE_CUT = QStringLiteral("%1... (%2 bytes in all)");

inline const QString SETTINGS_INVALID_FILE_NAME
    = QStringLiteral("ERROR: [CSettings::getInstance] Invalid fileName");
// %1 = the file name, %2 = the largest size read.
inline const QString SETTINGS_NOT_READ = QStringLiteral(
    "ERROR: [CSettings::getInstance] File [%1] is not a regular file of at most %2 bytes: the "
    "service runs on default settings");
inline const QString SETTINGS_READ_WITHOUT_OBJECT
    = QStringLiteral("ERROR: [CSettings::readValue] Invalid object");
inline const QString SETTINGS_WRITE_WITHOUT_OBJECT
    = QStringLiteral("ERROR: [CSettings::writeValue] Invalid object");

} // namespace BaseTexts
