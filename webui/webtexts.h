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

// Console line of server/auth, followed by the request's JSON body.
inline const QString AUTH_ACTION = QStringLiteral("auth action");
// Written in the body's place of "pw" on the console, so the password is not shown there.
inline const QString PASSWORD_HIDDEN = QStringLiteral("***");

// Errors of the app scope's answers, shown to the operator.
inline const QString NO_TCP_PORT = QStringLiteral("не указан TCP порт");
inline const QString BAD_TCP_PORT = QStringLiteral("неправильный формат TCP порта");
inline const QString NO_APP_EUI = QStringLiteral("не введен AppEUI");
inline const QString NO_DEV_EUI = QStringLiteral("не введен DevEUI");
inline const QString NO_REGISTERS = QStringLiteral("не задано ни одного регистра");
inline const QString TOO_MANY_REGISTERS = QStringLiteral("слишком много регистров");
inline const QString BAD_REGISTER = QStringLiteral("неверный формат регистра");
inline const QString BAD_START_ADDR = QStringLiteral("неправильный начальный регистр");
inline const QString BAD_REGISTER_BIT_SIZE = QStringLiteral("неправильный размер регистра");
inline const QString BAD_REGISTER_OFFSET = QStringLiteral("неправильное смещение регистра");
inline const QString REGISTER_BEYOND_MAP = QStringLiteral("регистр выходит за адрес 65535");
inline const QString INTERNAL_ERROR = QStringLiteral("Internal error");
// %1 = the port the device's Modbus listener could not open.
inline const QString PORT_NOT_OPENED = QStringLiteral("не удалось открыть TCP порт %1");
inline const QString NO_DEVICE_DEV_EUI = QStringLiteral("не указан DevEUI устройства");
inline const QString DEVICE_NOT_FOUND = QStringLiteral("не удалось найти такое устройство");
inline const QString DEVICE_NOT_DELETED = QStringLiteral("не удалось удалить устройство");
inline const QString NO_PORT = QStringLiteral("не указан порт");
inline const QString UNEXPECTED_ERROR = QStringLiteral("unexpected error");
// Time of a register that never got a value.
inline const QString NEVER = QStringLiteral("никогда");

// Log file entries of the app scope.
inline const QString DEVICE_NOT_CREATED
    = QStringLiteral("ERROR: [CAddNewDeviceForm::addDeviceSlot] device is not created!");
inline const QString DEVICE_CREATED
    = QStringLiteral("INFO: [CAddNewDeviceForm::addDeviceSlot] device created successfully");

} // namespace WebTexts
