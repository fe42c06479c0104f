#pragma once

#include <QString>

// Texts of the network-server simulator that people and scripts read (its start line, its
// errors). They are read by operators and their tools and stay exactly as they are.
namespace NsSimTexts {
inline const QString DESCRIPTION = QStringLiteral(
    "Simulated LoRaWAN network server: serves Tarvex's WebSocket JSON protocol (ping, login, "
    "device list, recent uplinks) and pushes the uplinks of the devices in DEVICE-FILE.");
inline const QString DEVICE_FILE_ARGUMENT = QStringLiteral("DEVICE-FILE");
inline const QString DEVICE_FILE_HELP
    = QStringLiteral("JSON file of the simulated devices (see samples/ns-sim-devices.json).");
inline const QString LISTEN_HELP = QStringLiteral("Address to listen on (default 127.0.0.1).");
inline const QString PORT_HELP = QStringLiteral("TCP port to listen on (default 8002).");
inline const QString LOGIN_HELP = QStringLiteral("Login the gateway must use (default gateway).");
inline const QString PASSWORD_HELP
    = QStringLiteral("Password the gateway must use (default secret).");

inline const QString MISSING_DEVICE_FILE = QStringLiteral("No device file given.");
inline const QString INVALID_ADDRESS = QStringLiteral("Invalid listening address [%1].");
inline const QString INVALID_PORT = QStringLiteral("Invalid port [%1]: a number from 0 to 65535.");
inline const QString LISTEN_FAILED = QStringLiteral("Cannot listen on %1 port %2: %3");
inline const QString LISTENING
    = QStringLiteral("Listening on ws://%1:%2 (login %3), %4 simulated devices from %5");

// Device file errors: the file, then where in it, then what is wrong.
inline const QString FILE_NOT_READ = QStringLiteral("%1: cannot be read: %2");
inline const QString FILE_SYNTAX = QStringLiteral("%1:%2:%3: not valid JSON: %4");
inline const QString FILE_NOT_OBJECT
    = QStringLiteral("%1: the file must hold one JSON object with a \"devices\" array");
inline const QString FILE_NO_DEVICES = QStringLiteral("%1: \"devices\" is missing or empty");
inline const QString FILE_BAD_GATEWAY
    = QStringLiteral("%1: \"gatewayId\" must be 16 hexadecimal digits");
inline const QString DEVICE_ERROR = QStringLiteral("%1: device %2 (%3): %4");
inline const QString NOT_AN_OBJECT = QStringLiteral("not a JSON object");
inline const QString BAD_EUI = QStringLiteral("\"%1\" must be 16 hexadecimal digits");
inline const QString DUPLICATE_EUI = QStringLiteral("\"devEui\" %1 is used by another device");
inline const QString NO_NAME = QStringLiteral("\"name\" is missing or empty");
inline const QString BAD_INTERVAL
    = QStringLiteral("\"interval\" must be a number of seconds above 0");
inline const QString NO_PACKETS = QStringLiteral("\"packets\" is missing or empty");
inline const QString BAD_PACKET_TYPE
    = QStringLiteral("packet %1: \"type\" must be a number from 0 to 255");
inline const QString DUPLICATE_PACKET_TYPE = QStringLiteral("packet %1: type %2 is listed twice");
inline const QString NO_FIELDS = QStringLiteral("packet %1: \"fields\" is missing or empty");
inline const QString FIELD_ERROR = QStringLiteral("packet %1, field %2: %3");
inline const QString BAD_SIZE = QStringLiteral("\"size\" must be 1, 2, 4 or 8 (bytes)");
inline const QString BAD_TYPE = QStringLiteral("\"type\" must be \"integer\" or \"uinteger\"");
inline const QString BAD_ENDIANNESS = QStringLiteral("\"endianness\" must be \"le\" or \"be\"");
inline const QString BAD_GENERATOR
    = QStringLiteral("\"generator\" must be \"drift\", \"counter\" or \"constant\"");
inline const QString BAD_NUMBER = QStringLiteral("\"%1\" must be a whole number");
inline const QString OUT_OF_RANGE
    = QStringLiteral("\"min\" <= \"start\" <= \"max\" must hold within the field's range %1 to %2");
inline const QString BAD_STEP = QStringLiteral("\"step\" must be 1 or more");
} // namespace NsSimTexts
