// Operators' kicks, bans and lifted bans carried between the nodes of a network.
// The bans and lifted bans are kept in the network's store as well.
#pragma once

#include <vector>

#include "server/core/Cluster.h"
#include "server/nats/BanStore.h"
#include "server/nats/NatsLink.h"

namespace server {

class Relay;

class AdminMessages {
public:
    AdminMessages(NatsLink &link, Relay &relay, BanStore &store) : link_(link), relay_(relay), store_(store) {}

    // --- event-loop thread ---
    // An action given on this node, for every other node.
    void Publish(const OperatorAction &action);
    // An action another node sent (a Ban, Unban or Eject message).
    void Apply(const ClusterMessage &message);
    // What the network's store holds (Ban and Unban messages only): bans and lifted bans given anywhere,
    // perhaps long ago.
    void Learn(const std::vector<ClusterMessage> &messages);

private:
    NatsLink &link_;
    Relay &relay_;
    BanStore &store_;
};

}  // namespace server
