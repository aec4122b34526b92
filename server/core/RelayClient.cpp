// What is shared about the relay's clients beyond their record.
#include "server/core/RelayClient.h"

#include <spdlog/spdlog.h>

namespace server {

std::uint64_t WallMicros() {
    auto wall = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(wall).count());
}

void CountExcess(Client &client, RelayCounters &counters, TimePoint now, std::uint64_t Client::*counter) {
    ++(client.*counter);
    ++(counter == &Client::excessChat       ? counters.chatOverRate
       : counter == &Client::excessIdentity ? counters.identityOverRate
                                            : counters.datagramsOverRate);
    std::uint64_t suppressed = 0;
    if (!client.excessLog.Allow(now, &suppressed)) return;
    std::string line = fmt::format(
        "client {} sends more than its share: {} chat lines dropped, {} identity changes held back, {} "
        "location datagrams skipped",
        client.uniqueId, client.excessChat, client.excessIdentity, client.excessLocations);
    spdlog::warn("{}", line);
    client.excessLog.Charge(now, line.size());
    client.excessChat = client.excessIdentity = client.excessLocations = 0;
}

}  // namespace server
