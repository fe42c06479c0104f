#pragma once

#include <functional>

// Runs the calling thread's event loop until condition holds or timeoutMs have passed; false on
// the time-out. Between checks the thread sleeps in the event loop instead of spinning, so a
// benchmark waiting here leaves the CPU to the programs it measures.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);
