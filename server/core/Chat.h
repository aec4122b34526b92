// Chat: a client's lines to every client of this node (its own echo included) and to the other nodes, the
// other nodes' lines to this node's clients, and the recent lines for the web observer.
#pragma once

#include <string_view>
#include <vector>

#include "server/core/Cluster.h"
#include "server/core/Counters.h"
#include "server/core/LogLimiter.h"
#include "server/core/RelayClient.h"
#include "server/core/RelayLimits.h"
#include "server/core/Shares.h"
#include "server/core/TrafficObserver.h"
#include "server/core/Transport.h"

namespace server {

class Chat {
public:
    Chat(Transport &transport, const RelayLimits &limits, const Clients &clients, Shares &shares,
         RelayCounters &counters, LogBudget &budget);
    void SetCluster(ClusterLink *cluster) { cluster_ = cluster; }

    // A line `client` said, held to its session's, account's, address's and the server's rates.
    void Say(Client &client, std::string_view text, TimePoint now);
    // A line as another node sends it to its own clients ("name: text").
    void FromOtherNode(std::string_view line);
    // The lines said since the previous call. Lines are kept for it (a bounded number) only once it has
    // been called.
    void TakeRecent(std::vector<ChatLine> &lines);

private:
    Transport &transport_;
    const RelayLimits &limits_;
    const Clients &clients_;
    Shares &shares_;
    RelayCounters &counters_;
    ClusterLink *cluster_ = nullptr;
    LogLimiter slowReaderLog_;
    std::vector<ChatLine> recent_;
    bool observed_ = false;
};

}  // namespace server
