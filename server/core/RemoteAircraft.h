// The aircraft of the other nodes of a network as they come, move and go: shown in slots like local
// ones, but never receivers here.
#pragma once

#include <string_view>
#include <vector>

#include "server/core/Cluster.h"
#include "server/core/LogLimiter.h"
#include "server/core/RelayClient.h"
#include "server/core/RelayLimits.h"
#include "server/core/Transport.h"

namespace server {

class Crews;
class Identities;
class Views;

class RemoteAircraft {
public:
    RemoteAircraft(const RelayLimits &limits, Clients &clients, Views &views, Crews &crews, Identities &identities,
                   LogBudget &budget);

    // Its identity arrived or changed: it is added when new, and its receivers learn what changed.
    void Identity(const AircraftIdentity &identity, TimePoint now);
    // False when no aircraft of another node has that ID here (its identity has not arrived).
    bool Location(int uniqueId, std::string_view fields, TimePoint now);
    // The aircraft of another node with that ID, or nullptr.
    Client *Find(int uniqueId) const;
    // Those nothing was heard of for silenceTimeout.
    std::vector<Client *> Stale(TimePoint now) const;

private:
    const RelayLimits &limits_;
    Clients &clients_;
    Views &views_;
    Crews &crews_;
    Identities &identities_;
    LogLimiter log_{std::chrono::seconds(1), 10};
};

}  // namespace server
