// Operators' kicks, bans and lifted bans carried between the nodes of a network.
#pragma once

#include "server/core/Cluster.h"
#include "server/nats/NatsLink.h"

namespace server {

class Relay;

class AdminMessages {
public:
    AdminMessages(NatsLink &link, Relay &relay) : link_(link), relay_(relay) {}

    // --- event-loop thread ---
    // An action given on this node, for every other node.
    void Publish(const OperatorAction &action);
    // An action another node sent (a Ban, Unban or Eject message).
    void Apply(const ClusterMessage &message);

private:
    NatsLink &link_;
    Relay &relay_;
};

}  // namespace server
