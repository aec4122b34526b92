// Clients' location datagrams: taken only from the address a client logged in from and the port it sends
// from, thinned to its rate, and forwarded to the other nodes and to the receivers that show it. This is
// the relay's busiest path: nothing on it allocates.
#pragma once

#include <cstddef>

#include "server/core/Cluster.h"
#include "server/core/Counters.h"
#include "server/core/LogLimiter.h"
#include "server/core/RelayClient.h"
#include "server/core/RelayLimits.h"
#include "server/core/Transport.h"

namespace server {

class Identities;
class Views;

class Locations {
public:
    Locations(const RelayLimits &limits, const Clients &clients, Views &views, Identities &identities,
              RelayCounters &counters, LogBudget &budget);
    void SetCluster(ClusterLink *cluster) { cluster_ = cluster; }

    void Take(const Endpoint &from, const char *data, std::size_t size, TimePoint now);
    // Sends a location the client's rate held back, once the rate allows.
    void SendHeld(Client &client, TimePoint now) {
        if (client.locationHeld && client.locationBucket.Take(now) &&
            (!client.account || client.account->locationBytes.Take(now, static_cast<double>(client.location.size())))) {
            Forward(client);
        }
    }

private:
    bool FollowEndpoint(Client &client, const Endpoint &from, TimePoint now);
    void Forward(Client &client);

    const RelayLimits &limits_;
    const Clients &clients_;
    Views &views_;
    Identities &identities_;
    RelayCounters &counters_;
    ClusterLink *cluster_ = nullptr;
    LogLimiter badDatagramLog_, unknownSenderLog_, endpointLog_{std::chrono::milliseconds(100), 50};
};

}  // namespace server
