#pragma once

#include <QtGlobal>

// Registers in the Modbus address space: no register entry can cover more than all of them.
constexpr qint64 REGISTER_SPACE = 65536;

// Number of 16-bit registers a value of bitSize bits covers: ceil(bitSize / 16).
int registerSpan(int bitSize);

// Whether a stored row of bitSize bits may take part in the register image and usage: it covers
// at least one register and no more than the whole address space. Rows that start near 65535 and
// run on at 0 are sound; only a size no device can have is not.
bool isSoundRowSize(int bitSize);
