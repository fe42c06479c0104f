#pragma once

#include <QtGlobal>
#include <vector>

// What one server did under load. Results add up: alternating short runs against two servers
// exposes both to the same background noise on a shared machine.
struct SLoadResult
{
    std::vector<quint32> latenciesNs; // of successful reads
    quint64 failures = 0;
    double seconds = 0.0;

    void add(const SLoadResult& other);
    double requestsPerSecond() const;
    double percentileUs(double fraction); // sorts the latencies
};

// Reads `registers` holding registers in a loop over `connections` concurrent libmodbus
// connections for `seconds`, walking the start address through [0, registerCount).
SLoadResult runLoad(
    quint16 port, int connections, int registers, int registerCount, double seconds);
