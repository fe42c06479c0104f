#include "random.h"

#include <QRandomGenerator64>

namespace Utils::Random {

quint32 rand(quint32 min, quint32 max)
{
    // Scaling a 32-bit word by the range avoids the bias of a modulo.
    const quint64 word = QRandomGenerator64::global()->QRandomGenerator::generate();
    return min + static_cast<quint32>((word * (quint64(max) - min)) >> 32);
}

} // namespace Utils::Random
