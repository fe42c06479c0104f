#include "creadchecker.h"

#include "cuplinkpusher.h"
#include "soaklayout.h"

#include <algorithm>

CReadChecker::CReadChecker(const CUplinkPusher& pusher)
    : pusher(pusher),
      last(SoakLayout::DEVICE_COUNT, 0),
      answersPerDevice(SoakLayout::DEVICE_COUNT, 0)
{
}

void CReadChecker::answer(int device, quint32 sequence, quint32 check, qint64 latencyUs)
{
    ++counts.answers;
    ++answersPerDevice[device];
    latenciesUs.push_back(latencyUs);
    const bool nothingStored = sequence == 0 && check == 0;
    if (nothingStored)
        ++counts.empty;
    if (!nothingStored && check != sequence + SoakLayout::CHECK_OFFSET)
        ++counts.torn;
    if (sequence < last[device])
        ++counts.backwards;
    if (sequence > pusher.sent(device))
        ++counts.ahead;
    last[device] = std::max(last[device], sequence);
}

double CReadChecker::percentileMs(double fraction)
{
    if (latenciesUs.empty())
        return 0;
    std::sort(latenciesUs.begin(), latenciesUs.end());
    const size_t index = std::min(latenciesUs.size() - 1, size_t(fraction * latenciesUs.size()));
    return latenciesUs[index] / 1000.0;
}
