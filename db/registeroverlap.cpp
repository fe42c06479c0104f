#include "registeroverlap.h"

#include "registerspan.h"

#include <algorithm>

std::optional<qint64> firstUsedRegister(
    const QSet<quint16>& used, const DB::SDeviceRegMapDescription& device)
{
    for (const REGS::SRegisterInfo& entry : device.registers) {
        const qint64 first = qint64(device.startAddr) + entry.regOffset;
        // Past one turn of the address space the addresses repeat, so checking more finds
        // nothing new.
        const qint64 span = std::min<qint64>(registerSpan(entry.bitSize), REGISTER_SPACE);
        for (qint64 address = first; address < first + span; ++address) {
            if (used.contains(static_cast<quint16>(address)))
                return address;
        }
    }
    return std::nullopt;
}
