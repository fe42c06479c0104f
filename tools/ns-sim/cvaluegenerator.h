#pragma once

#include <QtGlobal>

class QRandomGenerator;

// One simulated reading that moves on with every uplink:
//   drift     a random walk of 1 to step per uplink, kept within [min, max] (a temperature);
//   counter   grows by 1 to step per uplink and starts again at min past max (a meter);
//   constant  stays at its start value (a configured interval, a firmware version).
// A drift or counter whose range holds more than one value changes on every uplink, so a
// reader always sees the device alive.
class CValueGenerator
{
public:
    enum EKind { DRIFT, COUNTER, CONSTANT };

    CValueGenerator() = default;
    CValueGenerator(EKind kind, qint64 start, qint64 min, qint64 max, qint64 step);

    qint64 value() const { return current; }
    void advance(QRandomGenerator& random);

private:
    void count(quint64 distance, quint64 roomUp);

    EKind kind = CONSTANT;
    qint64 current = 0;
    qint64 min = 0;
    qint64 max = 0;
    qint64 step = 1; // at most INT_MAX
};
