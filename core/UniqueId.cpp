// The unique ID this copy of the plug-in gives the server for one run.
#include "core/UniqueId.h"

#include <climits>

#include "platform/System.h"

int DrawUniqueId() {
    unsigned value = 0;
    if (!SystemRandom(&value, sizeof value)) {
        long long seconds = 0;
        long microseconds = 0;
        WallClockNow(&seconds, &microseconds);
        value = (unsigned)microseconds * 2654435761u ^ (unsigned)seconds ^ (ProcessNumber() << 16);
    }
    // Never 0, which servers take for "no ID".
    int id = (int)(value & INT_MAX);
    return id != 0 ? id : 1;
}
