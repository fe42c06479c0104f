#pragma once

#include <QVector>

#include <vector>

class CUplinkPusher;

// Judges the answers of one kind of reader (the Modbus masters, the web clients) against what
// was sent. A read is torn when its check value does not belong to its sequence number, goes
// backwards when it is older than the device's previous read, and is ahead when it names an
// uplink not sent yet. It also keeps every answer time.
class CReadChecker
{
public:
    struct SCounts
    {
        qint64 answers = 0;
        qint64 empty = 0; // answers before the device's first uplink was stored
        qint64 errors = 0;
        qint64 timeouts = 0;
        qint64 torn = 0;
        qint64 backwards = 0;
        qint64 ahead = 0;
    };

    explicit CReadChecker(const CUplinkPusher& pusher);

    // Sequence and check 0 stand for a device nothing was stored for yet.
    void answer(int device, quint32 sequence, quint32 check, qint64 latencyUs);
    void error() { ++counts.errors; }
    void timeout() { ++counts.timeouts; }

    const SCounts& totals() const { return counts; }
    quint32 lastSequence(int device) const { return last[device]; }
    qint64 answersOf(int device) const { return answersPerDevice[device]; }
    // The answer time that this fraction of the answers did not exceed, in milliseconds.
    double percentileMs(double fraction);

private:
    const CUplinkPusher& pusher;
    SCounts counts;
    QVector<quint32> last;
    QVector<qint64> answersPerDevice;
    std::vector<qint64> latenciesUs;
};
