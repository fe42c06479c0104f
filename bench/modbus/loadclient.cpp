#include "loadclient.h"

#include <algorithm>
#include <chrono>
#include <modbus.h>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

struct SConnectionLoad
{
    std::vector<quint32> latenciesNs;
    quint64 failures = 0;
};

void loadOneConnection(quint16 port, int registers, int registerCount, Clock::time_point end,
    int seed, SConnectionLoad& result)
{
    modbus_t* context = modbus_new_tcp("127.0.0.1", port);
    if (modbus_connect(context) != 0) {
        ++result.failures;
        modbus_free(context);
        return;
    }
    std::vector<uint16_t> values(registers);
    int start = (seed * 997) % (registerCount - registers);
    result.latenciesNs.reserve(1 << 20);
    while (Clock::now() < end) {
        const Clock::time_point sent = Clock::now();
        const int read = modbus_read_registers(context, start, registers, values.data());
        const Clock::time_point answered = Clock::now();
        if (read != registers)
            ++result.failures;
        else
            result.latenciesNs.push_back(quint32(
                std::chrono::duration_cast<std::chrono::nanoseconds>(answered - sent).count()));
        start = (start + registers) % (registerCount - registers);
    }
    modbus_close(context);
    modbus_free(context);
}

} // namespace

void SLoadResult::add(const SLoadResult& other)
{
    latenciesNs.insert(latenciesNs.end(), other.latenciesNs.begin(), other.latenciesNs.end());
    failures += other.failures;
    seconds += other.seconds;
}

double SLoadResult::requestsPerSecond() const
{
    return seconds > 0.0 ? latenciesNs.size() / seconds : 0.0;
}

double SLoadResult::percentileUs(double fraction)
{
    if (latenciesNs.empty())
        return 0.0;
    std::sort(latenciesNs.begin(), latenciesNs.end());
    const size_t index = std::min(latenciesNs.size() - 1, size_t(fraction * latenciesNs.size()));
    return latenciesNs[index] / 1000.0;
}

SLoadResult runLoad(quint16 port, int connections, int registers, int registerCount, double seconds)
{
    const Clock::time_point begin = Clock::now();
    const Clock::time_point end = begin
        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<SConnectionLoad> loads(connections);
    std::vector<std::thread> threads;
    for (int i = 0; i < connections; ++i)
        threads.emplace_back(
            loadOneConnection, port, registers, registerCount, end, i, std::ref(loads[i]));
    for (std::thread& thread : threads)
        thread.join();

    SLoadResult result;
    result.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    for (const SConnectionLoad& load : loads) {
        result.latenciesNs.insert(
            result.latenciesNs.end(), load.latenciesNs.begin(), load.latenciesNs.end());
        result.failures += load.failures;
    }
    return result;
}
