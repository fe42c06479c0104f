#pragma once

#include "dbrecords.h"

#include <QSet>

#include <optional>

// The first register of the device's entries, in entry order, that the usage set of its port
// already holds, as the unreduced address startAddr + regOffset + k; none when nothing clashes.
// Entries of the device are not checked against each other.
std::optional<qint64> firstUsedRegister(
    const QSet<quint16>& used, const DB::SDeviceRegMapDescription& device);
