#include "cvaluegenerator.h"

#include <QRandomGenerator>

#include <algorithm>

CValueGenerator::CValueGenerator(EKind kind, qint64 start, qint64 min, qint64 max, qint64 step)
    : kind(kind), current(start), min(min), max(max), step(step)
{
}

void CValueGenerator::advance(QRandomGenerator& random)
{
    if (kind == CONSTANT || max <= min)
        return;
    // Unsigned differences: the range of a 64-bit field does not fit a signed one.
    const quint64 roomUp = quint64(max) - quint64(current);
    const quint64 roomDown = quint64(current) - quint64(min);
    const quint64 distance = quint64(random.bounded(int(step))) + 1;
    if (kind == COUNTER) {
        count(std::min(distance, quint64(max) - quint64(min)), roomUp);
        return;
    }
    // A move never goes farther than the larger room, so one of the two directions fits.
    const quint64 move = std::min(distance, std::max(roomUp, roomDown));
    if ((random.bounded(2) == 1 && roomUp >= move) || roomDown < move)
        current = qint64(quint64(current) + move);
    else
        current = qint64(quint64(current) - move);
}

// Past max the count goes on from min, as a meter's display rolls over.
void CValueGenerator::count(quint64 distance, quint64 roomUp)
{
    if (roomUp >= distance)
        current = qint64(quint64(current) + distance);
    else
        current = qint64(quint64(min) + (distance - roomUp - 1));
}
