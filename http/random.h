#pragma once

#include <QtGlobal>

namespace Utils::Random {

// A random number in [min, max) from the securely seeded process-wide generator;
// min itself when min equals max.
quint32 rand(quint32 min = 0, quint32 max = 0xFFFFFFFF);

} // namespace Utils::Random
