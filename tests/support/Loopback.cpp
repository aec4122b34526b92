// Per-process loopback addresses for tests.
#include "tests/support/Loopback.h"

#include <unistd.h>

#include <cstdlib>

namespace testsupport {

std::string UniqueLoopbackAddress() {
    // Linux pids stay below 2^22, so the pid and a 2-bit counter fill the 24 host bits of 127.0.0.0/8:
    // four addresses per process, distinct from every other live process. The smallest is 127.0.0.4.
    static unsigned counter = 0;
    unsigned n = (((unsigned)getpid() & 0x3fffffu) << 2) | (counter++ & 3u);
    if (n == 0xffffffu) n = 0xfffffeu;  // not the broadcast address
    return "127." + std::to_string(n >> 16) + "." + std::to_string((n >> 8) & 0xffu) + "." +
           std::to_string(n & 0xffu);
}

void PointPluginAt(const std::string &address) { setenv("SKORVALE_SERVER_ADDRESS", address.c_str(), 1); }

}  // namespace testsupport
