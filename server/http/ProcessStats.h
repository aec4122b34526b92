// The server process's own numbers (CPU, memory, descriptors, start time) in the Prometheus format, under
// the names every Prometheus client library uses for them.
#pragma once

#include <string>

namespace server {

// Read from /proc/self at each call; a number that cannot be read is left out.
std::string ProcessMetricsText();

}  // namespace server
