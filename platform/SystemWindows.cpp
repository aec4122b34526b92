// The wall clock and the random source on Windows.
#if defined(_WIN32)

#include <windows.h>
// After windows.h, which bcrypt.h needs.
#include <bcrypt.h>

#include "platform/System.h"

void WallClockNow(long long *seconds, long *microseconds) {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    // 100-nanosecond ticks since 1601; 11644473600 seconds lie between 1601 and 1970.
    unsigned long long ticks = ((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime;
    unsigned long long sinceEpoch = ticks - 116444736000000000ull;
    *seconds = (long long)(sinceEpoch / 10000000ull);
    *microseconds = (long)(sinceEpoch % 10000000ull / 10ull);
}

bool SystemRandom(void *out, size_t size) {
    return BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), (ULONG)size, BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

unsigned ProcessNumber() { return (unsigned)GetCurrentProcessId(); }

#endif
