#pragma once

#include <QString>

// Texts of the Modbus listeners that operators and their tools read in the log file and on the
// console. They stay exactly as they are, odd wording included.
namespace ModbusTexts {

// Frame reassembly
inline const QString INCOMPLETE_HEADER
    = QStringLiteral("[CConnectionHandler] Incomplete packet [1]. Wait for continue...");
inline const QString INCOMPLETE_BODY
    = QStringLiteral("[CConnectionHandler] Incomplete packet [2]. Wait for continue...");
inline const QString FRAME_TOO_SHORT
    = QStringLiteral("[CConnectionHandler] Incomplete packet [3]. Clear buffer...");

// Connections given up on: %1 = peer address, %2 = port, %3 = one of the reasons below.
inline const QString CONNECTION_DROPPED
    = QStringLiteral("WARNING: [CConnectionHandler] Connection from %1 on port [%2] dropped: %3");
inline const QString DROPPED_FRAME_LENGTH = QStringLiteral("frame length %1");
inline const QString DROPPED_UNSENT_BYTES = QStringLiteral("%1 unsent bytes");
// %1 = seconds the frame stayed unfinished.
inline const QString DROPPED_INCOMPLETE_FRAME = QStringLiteral("incomplete frame for %1 s");

// Listeners
inline const QString DEVICE_ALREADY_EXISTS
    = QStringLiteral("[CDeviceHandler::appendDevice] Device [%1] already exist!");
inline const QString PORT_OPENED_LATE
    = QStringLiteral("INFO: [CDeviceHandler::listenSlot] port [%1] is opened");

} // namespace ModbusTexts
