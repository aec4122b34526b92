// Loopback addresses of our own for each test process, so suites can run in parallel on port 49556.
#pragma once

#include <string>

namespace testsupport {

// A 127.x.y.z address no other running test process gets: derived from the process id, with a
// per-process counter for tests that need more than one. Never 127.0.0.1.
std::string UniqueLoopbackAddress();

// Sets the environment variable the plug-in reads at connect time, so it logs in to `address`.
void PointPluginAt(const std::string &address);

}  // namespace testsupport
