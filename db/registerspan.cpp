#include "registerspan.h"

#include <cmath>

int registerSpan(int bitSize)
{
    return static_cast<int>(std::ceil(bitSize * 0.0625));
}

bool isSoundRowSize(int bitSize)
{
    return bitSize >= 1 && registerSpan(bitSize) <= REGISTER_SPACE;
}
