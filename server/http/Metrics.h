// The relay server's numbers in the Prometheus text format, for /metrics.
#pragma once

#include <cstdint>
#include <string>

#include "server/core/TrafficObserver.h"

namespace server {

// What the web observer itself adds: its live event streams.
struct StreamStats {
    std::size_t open = 0;
    std::uint64_t refused = 0;     // over the stream limit
    std::uint64_t fellBehind = 0;  // closed because the browser did not keep up
};

// The relay's counters, the node's state (with the build's version) and the web side's streams.
std::string MetricsText(const ClientCounts &clients, const RelayCounters &counters, const NodeState &node,
                        const StreamStats &streams);

}  // namespace server
