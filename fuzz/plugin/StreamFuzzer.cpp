// Fuzzes arbitrary stream bytes, split into reads, through line-end folding, message parsing and handling.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/SkorvaleSE.h"
#include "net/StreamPhase.h"
#include "simhost/Host.h"
#include "traffic/AircraftUtils.h"

namespace {

void Setup() {
    simhost::TheHost().Reset();
    for (int i = 0; i < kSlotCount; i++) AircraftList[i].set(i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (Setup(), true);
    (void)ready;
    if (size < 1) return 0;
    ResetStreamPhase();

    // The first byte sets the read size, so messages and line ends fall across reads in every way.
    size_t chunk = (size_t)(data[0] % 64) + 1;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    size_t left = size - 1;
    while (left > 0) {
        size_t count = left < chunk ? left : chunk;
        // A read's text ends at its first NUL.
        const void *nul = std::memchr(bytes, '\0', count);
        size_t length = nul ? (size_t)(static_cast<const char *>(nul) - bytes) : count;
        TakeStreamBytes(bytes, length);
        if (tcpBuffer.size() > kStreamBufferLimit) std::abort();
        // Whatever is left never holds a whole message or a terminator: those are handled or dropped at once.
        if (tcpBuffer.find("====") != std::string::npos) std::abort();
        bytes += count;
        left -= count;
    }
    return 0;
}
