// The other nodes of the network as this one hears them.
// Which are alive, the aircraft each flies, and their messages checked and handed to the relay.
#pragma once

#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "server/core/LogLimiter.h"
#include "server/nats/AdminMessages.h"
#include "server/nats/NatsLink.h"
#include "server/nats/Publisher.h"

namespace server {

class Relay;

class OtherNodes {
public:
    OtherNodes(NatsLink &link, Relay &relay, Publisher &publisher, AdminMessages &admin);

    // --- event-loop thread ---
    void Hear(const std::string &subject, const std::string &data, TimePoint now);
    // Drops the nodes not heard from for the node timeout, with their aircraft.
    void Tick(TimePoint now);
    std::size_t RemoteAircraft() const { return remote_.size(); }

private:
    struct Peer {
        std::uint64_t instance = 0;
        TimePoint lastHeard{};
        TimePoint lastSyncAsked{};
        TimePoint lastSyncAnswered{};
        bool syncAnswered = false;
        bool syncAsked = false;
        std::unordered_set<int> aircraft;
    };

    Peer *Touch(const std::string &node, TimePoint now);
    void TakeAircraft(const ClusterMessage &message, Peer &peer, TimePoint now);
    void DropAircraftOf(const std::string &node, Peer &peer, const std::string &why, TimePoint now);
    void DropNode(const std::string &node, const std::string &why, TimePoint now);
    void AnswerSync(const std::string &node, Peer &peer, TimePoint now);
    void AskSync(const std::string &node, Peer &peer, TimePoint now);

    NatsLink &link_;
    Relay &relay_;
    Publisher &publisher_;
    AdminMessages &admin_;
    std::unordered_map<int, std::string> remote_;  // aircraft of other nodes, by unique ID: their node
    std::map<std::string, Peer> peers_;
    std::unordered_set<std::string> olderNodes_;  // nodes heard speaking an older cluster protocol
    // One line of each kind a second, so one kind of bad message cannot hide another.
    LogLimiter malformedLog_, subjectLog_, nameLog_, foreignLog_, capacityLog_;
    // Nodes coming and going: bursts as large as a whole network starting together.
    LogLimiter nodeLog_{std::chrono::milliseconds(100), 64};
};

}  // namespace server
