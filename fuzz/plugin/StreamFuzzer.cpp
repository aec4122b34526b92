// Fuzzes arbitrary stream bytes, split into reads, through line-end folding, message parsing and handling,
// checks that a sound message after them and a line end always arrives, and checks the one-pass model
// name reader against the pattern it stands for.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <pcrecpp.h>

#include "core/SkorvaleSE.h"
#include "net/ModelPath.h"
#include "net/StreamPhase.h"
#include "simhost/Host.h"
#include "traffic/AircraftUtils.h"

namespace {

void Setup() {
    simhost::TheHost().Reset();
    for (int i = 0; i < kSlotCount; i++) AircraftList[i].set(i);
}

void CheckModelName(const std::string &path) {
    static const pcrecpp::RE pattern("^.*\\/(.*?)\\.[aA][cC][fF]");
    std::string expected;
    if (!pattern.PartialMatch(path, &expected)) expected.clear();
    if (ModelName(path) != expected) std::abort();
}

// What a model path may load here begins at the aircraft folder, climbs out of nothing and names a model.
void CheckLocalModelPath(const std::string &path) {
    std::string local;
    if (path.find('\n') != std::string::npos || !LocalModelPath(path, &local)) return;
    if (local.rfind("Aircraft/", 0) != 0 || local.find('\\') != std::string::npos) std::abort();
    if (("/" + local + "/").find("/../") != std::string::npos) std::abort();
    std::string file = local.substr(local.rfind('/') + 1);
    if (file.size() <= 4 || ModelName("/" + file).empty()) std::abort();
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

    // Whatever came before, a line end and then a sound message: the message is handled.
    Callsigns[7] = "before";
    const char probe[] = "\n7|c|Probe\n";
    TakeStreamBytes(probe, sizeof probe - 1);
    if (Callsigns[7] != "Probe") std::abort();
    // The highest slot the relay numbers is handled; one past it is no slot at all.
    const char high[] = "\n63|c|High\n64|c|Over\n";
    TakeStreamBytes(high, sizeof high - 1);
    if (Callsigns[63] != "High") std::abort();

    // The pattern backtracks on long inputs, so the comparison takes the first kilobyte.
    std::string text(reinterpret_cast<const char *>(data + 1), std::min<size_t>(size - 1, 1024));
    CheckModelName(text);
    CheckLocalModelPath(text);
    return 0;
}
