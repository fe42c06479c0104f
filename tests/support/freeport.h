#pragma once

#include <QtGlobal>

// A loopback port nobody listens on right now, picked by the OS. Another process may take it
// before the caller binds it; on loopback in a test run that race is accepted.
quint16 freePort();
