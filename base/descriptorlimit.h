#pragma once

#include <QtGlobal>

// The soft limit on open descriptors is what the kernel enforces; the hard limit is how far an
// unprivileged process may raise it. Distributions often set the soft one at 1024, far below what
// a gateway with many Modbus masters may need.

// Raises the soft limit to the hard limit and returns the soft limit in force afterwards.
qint64 raiseDescriptorLimit();

// The soft limit in force now.
qint64 descriptorLimit();
