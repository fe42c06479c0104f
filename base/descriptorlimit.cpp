#include "descriptorlimit.h"

#include <limits>
#include <sys/resource.h>

namespace {
qint64 asLimit(rlim_t value)
{
    if (value == RLIM_INFINITY || value > rlim_t(std::numeric_limits<qint64>::max()))
        return std::numeric_limits<qint64>::max();
    return qint64(value);
}
} // namespace

qint64 raiseDescriptorLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return descriptorLimit();
    if (limit.rlim_cur != limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        // Refused when the hard limit is infinite but the kernel caps descriptors (nr_open):
        // the soft limit then stays as it was.
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    return descriptorLimit();
}

qint64 descriptorLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::numeric_limits<qint64>::max();
    return asLimit(limit.rlim_cur);
}
