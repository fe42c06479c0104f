#pragma once

#include <QString>

// Messages of the template parsers (debug console) and of the payload decoder (history log).
// Operators and their tools read them, so they stay exactly as they are, odd wording included.
namespace TemplateTexts {

// Template parsers; %1 is the record being parsed (SDeviceTemplate, SDevicePacketField, ...).
inline const QString EMPTY_INPUT_JSON = QStringLiteral("[%1] Empty input JSON");
inline const QString INVALID_INPUT_JSON = QStringLiteral("[%1] Invalid input JSON");
inline const QString NULL_INPUT_VALUES
    = QStringLiteral("[%1] One or several values of input JSON is NULL");
inline const QString PACKET_FIELDS_EMPTY
    = QStringLiteral("[SDevicePacket] Packet fields array is empty");
inline const QString DEVICE_PACKETS_EMPTY
    = QStringLiteral("[SDeviceTemplate] Device packets array is empty");
inline const QString INVALID_ENDIANNESS = QStringLiteral(
    "[SDevicePacketField] Invalid endianness field value, can be \"le\" or \"be\"");
inline const QString UNKNOWN_SERVER_KEYWORD
    = QStringLiteral("ERROR: [SServerData] Server keyword [%1] is unknown!");

// Payload decoder; the messages keep the tag of the registry slot that runs it.
inline const QString UNKNOWN_DATA_CODE
    = QStringLiteral("WARNING: [CAllDeviceHandler::processDataSlot] Unknown DataCode [%1]!");
inline const QString UNKNOWN_PACKET_TYPE
    = QStringLiteral("WARNING: [CAllDeviceHandler::processDataSlot] Unknown packet type [%1]");
inline const QString INVALID_PACKET_SIZE
    = QStringLiteral("WARNING: [CAllDeviceHandler::processDataSlot] Invalid size of packet "
                     "[%1][%2]. Expect [%3], real [%4]");
inline const QString UNSUPPORTED_BIT_LAYOUT
    = QStringLiteral("ERROR: [CAllDeviceHandler::processDataSlot] Unsupport functional");
inline const QString UNSUPPORTED_DATA_SIZE
    = QStringLiteral("WARNING: [CAllDeviceHandler::processDataSlot] Unsupport size of data [%1]");
inline const QString UNSUPPORTED_DATA_TYPE = QStringLiteral(
    "WARNING: [CAllDeviceHandler::processDataSlot] Unsupport data type [%1] for size [%2]");
inline const QString FIELD_OUTSIDE_PACKET
    = QStringLiteral("WARNING: [CAllDeviceHandler::processDataSlot] Field [%1] lies outside the "
                     "packet: offset [%2], size [%3], packet length [%4]");
inline const QString VALUE_OUTSIDE_REGISTER_MAP
    = QStringLiteral("WARNING: [CAllDeviceHandler::processDataSlot] Value [%1] lies outside the "
                     "register map: register offset [%2]");

} // namespace TemplateTexts
