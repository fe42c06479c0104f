// Reads arbitrary bytes as the JSON body of app/addDevice, as the request parser and the
// application controller do, and checks that every device the reader accepts fits the 16-bit
// register map and can listen on its port.

#include "fuzzsupport.h"
#include "newdevicereader.h"

#include <cstdint>

namespace {
const int MAX_ADDRESS = 65535;
const int MAX_REGISTERS = 50;

void checkRegister(const REGS::SRegisterInfo& info, int startAddr)
{
    check(info.bitSize >= 1);
    check(info.bitSize <= 64);
    check(info.regOffset >= 0);
    const int span = (info.bitSize + 15) / 16;
    check(startAddr + info.regOffset + span - 1 <= MAX_ADDRESS);
}

void checkDevice(const DB::SDeviceRegMapDescription& device)
{
    check(device.port >= 1);
    check(device.port <= 65535);
    check(device.startAddr >= 0);
    check(device.startAddr <= MAX_ADDRESS);
    check(!device.devEui.isEmpty());
    check(!device.appEui.isEmpty());
    check(!device.registers.isEmpty());
    check(device.registers.size() <= MAX_REGISTERS);
    check(device.id == 0);
    for (const REGS::SRegisterInfo& info : device.registers)
        checkRegister(info, device.startAddr);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    silenceQtMessages();

    // The request parser refuses a body that repeats a key; one that is not an object reads as
    // an empty object, as the controller takes it.
    const std::optional<QJsonDocument> body = readJson(inputBytes(data, size));
    if (!body)
        return 0;
    DB::SDeviceRegMapDescription device;
    const QString refusal = readNewDevice(body->object(), device);
    if (refusal.isEmpty())
        checkDevice(device);
    return 0;
}
