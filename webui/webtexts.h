#pragma once

#include <QString>

// Texts of the web interface: console messages of the web host and the static files, and the
// answers of the web API. Operators, their tools and the browser pages read them, so they stay
// exactly as they are, odd wording included.
namespace WebTexts {

// Web host start-up on the console.
inline const QString HTTPS_SETUP_SUCCESSFUL = QStringLiteral("Web UI: HTTPS setup successful");
inline const QString HTTPS_SETUP_FAILED
    = QStringLiteral("Web UI: HTTPS setup failed, fallback to HTTP");
inline const QString NOW_LISTENING = QStringLiteral("Web UI: Now listening on IP: %1, port: %2");
inline const QString UNABLE_TO_BIND
    = QStringLiteral("Web UI: Unable to bind to IP: %1, port: %2. Reason: %3");

// Static files on the console; printf-style, %s is the resource path.
inline constexpr char FILE_NOT_FOUND[] = "File %s was not found!";
inline constexpr char FILE_TOO_LARGE[] = "%s: exceeded the maximum allowed file size!";
// Answer body; %1 is the size limit with its unit.
inline const QString FILE_TOO_LARGE_ANSWER
    = QStringLiteral("Exceeded the maximum allowed file size (%1)!");

// API answers.
inline const QString REQUIRED_PARAMS_NOT_FOUND = QStringLiteral("Required params not found!");
// The login page reloads on exactly this body.
inline const QString LOGIN_OK = QStringLiteral("Ok.");
inline const QString LOGIN_FAILED = QStringLiteral("Fails.");
inline const QString LOGIN_BANNED = QStringLiteral(
    "Your IP address has been banned after too many failed authentication attempts.");

} // namespace WebTexts
