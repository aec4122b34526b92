// The wall clock and the system's random source, as the plug-in uses them on every system.
#pragma once

#include <cstddef>

// The time of day since 1970 (UTC), in whole seconds and the microseconds past them.
void WallClockNow(long long *seconds, long *microseconds);

// Fills `out` from the system's random source without waiting; false when it cannot.
bool SystemRandom(void *out, size_t size);

// This process's number, for mixing into a fallback when the random source fails.
unsigned ProcessNumber();
