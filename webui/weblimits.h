#pragma once

#include <QtGlobal>

#include <chrono>

// Every fixed limit of the web application in one place; none of them is configurable.

// A session unused for this long is gone (2 h 46 min 40 s).
constexpr qint64 SESSION_TIMEOUT_S = 10000;
// Largest file of the browser interface that is served (10 MiB).
constexpr qint64 MAX_STATIC_FILE_SIZE = 10485760;
// Bytes read at most from each of the certificate and key files for HTTPS (1 MiB).
constexpr qint64 MAX_TLS_FILE_SIZE = 1048576;

// The fifth failed login of an address starts its ban.
constexpr int MAX_FAILED_LOGINS = 5;
// How long a banned address is refused, counted from its last failure.
constexpr std::chrono::milliseconds LOGIN_BAN_DURATION {10000};

// How long server/getDeviceList waits for the network server's device list.
constexpr std::chrono::milliseconds DEVICES_LIST_WAIT {2000};
// Most register entries one app/addDevice may register.
constexpr int MAX_NEW_DEVICE_REGISTERS = 50;
// Modbus TCP ports an added device may listen on.
constexpr int MIN_TCP_PORT = 1;
constexpr int MAX_TCP_PORT = 65535;
// Modbus register addresses are 16-bit, and the widest value a template decodes is 64 bits.
constexpr int MAX_REGISTER_ADDRESS = 65535;
constexpr int MAX_REGISTER_BITS = 64;
