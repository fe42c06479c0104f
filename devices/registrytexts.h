#pragma once

#include <QString>

// Texts of the device registry that operators and their tools read in the log file and on the
// console. They stay exactly as they are, odd wording and spelling included.
namespace RegistryTexts {

// Template loading
inline const QString FOLDER_MISSING
    = QStringLiteral("[CAllDeviceHandler::init] Directory with device signature is not existed");
inline const QString FOLDER_EMPTY
    = QStringLiteral("[CAllDeviceHandler::init] Directory with device signature is empty");
inline const QString FILE_MISSING = QStringLiteral("File [%1] is not exist");
inline const QString FILE_NOT_OPENED = QStringLiteral("File [%1] is not opened");
inline const QString FILE_NOT_REGULAR
    = QStringLiteral("WARNING: [CAllDeviceHandler::init] File [%1] is not a regular file. Skip");
// %2 = the largest size read.
inline const QString FILE_TOO_LARGE
    = QStringLiteral("WARNING: [CAllDeviceHandler::init] File [%1] is larger than %2 bytes. Skip");
// %1 = full path, %2 = the JSON parser's error text, %3 = its character offset.
inline const QString FILE_NOT_PARSED = QStringLiteral(
    "ERROR: [CAllDeviceHandler] Invalid parsing JSON file [%1]: error[%2], row[%3]");
inline const QString FILE_WITHOUT_DOCUMENT
    = QStringLiteral("File [%1] is not contans JSON document");
inline const QString TEMPLATE_DUPLICATE = QStringLiteral("Device [%1] already inited. Skip");
inline const QString TEMPLATE_LOADED = QStringLiteral("Device [%1] inited SUCCESSULLY");
// Console; %1 = number of templates.
inline const QString TEMPLATES_LOADED = QStringLiteral("Device register templates loaded: %1");

// Opening and closing devices
inline const QString PORT_ALREADY_OPEN
    = QStringLiteral("INFO: [CAllDeviceHandler::addNewDevice] port [%1] is already open");
// %1 = port, %2 = the system's reason.
inline const QString PORT_NOT_OPENED
    = QStringLiteral("ERROR: [CAllDeviceHandler::addNewDevice] port [%1] is not opened: %2");
inline const QString DEVICE_OPENED
    = QStringLiteral("[CAllDeviceHandler::addNewDevice] New device: DevEUI[%1], port[%2]");
inline const QString DEVICE_NOT_FOUND
    = QStringLiteral("WARNING: [CAllDeviceHandler::removeDevice] device not found [%1]!");
inline const QString UNKNOWN_PORT
    = QStringLiteral("WARNING: [CAllDeviceHandler::removeDevice] unknown port [%1]!");
// Console.
inline const QString DEVICE_CLOSED
    = QStringLiteral("[CAllDeviceHandler::removeDevice] Delete device: DevEUI[%1], port[%2]");

// Uplinks
inline const QString UPLINKS_DROPPING = QStringLiteral(
    "WARNING: [CAllDeviceHandler::newPacketReceivedSlot] %1 uplinks wait to be stored: further "
    "uplinks are dropped until the backlog drains");
inline const QString UPLINKS_DROPPED = QStringLiteral(
    "WARNING: [CAllDeviceHandler::processDataSlot] %1 uplinks were dropped while the backlog "
    "was full");

} // namespace RegistryTexts
