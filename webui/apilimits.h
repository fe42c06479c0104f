#pragma once

#include <chrono>

// Limits of the server and app scopes of the web API.

// How long server/getDeviceList waits for the network server's device list.
constexpr std::chrono::milliseconds DEVICES_LIST_WAIT {2000};
// Most register entries one app/addDevice may register.
constexpr int MAX_NEW_DEVICE_REGISTERS = 50;
// Modbus TCP ports an added device may listen on.
constexpr int MIN_TCP_PORT = 1;
constexpr int MAX_TCP_PORT = 65535;
