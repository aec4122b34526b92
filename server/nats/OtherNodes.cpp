// The other nodes of the network as this one hears them.
// Which are alive, the aircraft each flies, and their messages checked and handed to the relay.
#include "server/nats/OtherNodes.h"

#include <spdlog/spdlog.h>

#include <vector>

#include "server/core/Relay.h"
#include "server/core/Text.h"

namespace server {

namespace {

std::int64_t Milliseconds(Clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

}  // namespace

OtherNodes::OtherNodes(NatsLink &link, Relay &relay, Publisher &publisher, AdminMessages &admin)
    : link_(link), relay_(relay), publisher_(publisher), admin_(admin) {
    // What other nodes make this one log (a node coming or going, a bad message) draws on the budget of
    // lines outsiders can cause: a rogue publisher churning node names is held to it like a client.
    for (LogLimiter *limiter : {&nodeLog_, &malformedLog_, &subjectLog_, &nameLog_, &foreignLog_, &capacityLog_}) {
        limiter->Share(relay.OutsiderLog());
    }
}

void OtherNodes::Tick(TimePoint now) {
    std::vector<std::string> silent;
    for (const auto &entry : peers_) {
        if (now - entry.second.lastHeard >= link_.Options().nodeTimeout) silent.push_back(entry.first);
    }
    for (const std::string &node : silent)
        DropNode(node, "not heard from for " + std::to_string(Milliseconds(link_.Options().nodeTimeout)) + " ms", now);
}

void OtherNodes::Hear(const std::string &subject, const std::string &data, TimePoint now) {
    ClusterMessage message;
    if (data.size() > kMaxClusterPayload || !ParseClusterMessage(data, &message)) {
        int version = ClusterVersionOf(data);
        if (version > kClusterProtocol) {
            link_.Warn(malformedLog_, now,
                       "dropped a network message of cluster protocol " + std::to_string(version) + " on " +
                           Preview(subject) + ": this node reads " + std::to_string(kOldestClusterProtocol) + " to " +
                           std::to_string(kClusterProtocol));
            return;
        }
        link_.Warn(malformedLog_, now,
                   "dropped a malformed network message on " + Preview(subject) + ": " + Preview(data));
        return;
    }
    if (message.version < link_.Options().protocol && message.node != link_.Node() &&
        olderNodes_.insert(message.node).second && olderNodes_.size() <= link_.Options().maxNodes) {
        // Heard once per node: it reads this node only after its own upgrade.
        spdlog::warn(
            "node {} speaks cluster protocol {}, which this node reads, but it cannot read this node's {}: "
            "run this node with --cluster-protocol {} until every node is upgraded",
            Preview(message.node), message.version, link_.Options().protocol, message.version);
    }
    // Locations come on cell subjects, or straight to this node when it asked for them; nothing else
    // comes on a cell subject.
    bool onCell = subject.compare(0, 13, "skorvale.loc.") == 0;
    bool location = message.kind == ClusterKind::Location;
    if (onCell != location && !(location && subject == link_.OwnSubject())) {
        link_.Warn(subjectLog_, now, "dropped a network message on the wrong subject " + Preview(subject));
        return;
    }
    if (message.node == link_.Node()) {
        link_.Warn(nameLog_, now,
                   "dropped a network message from another node that calls itself " + link_.Node() +
                       ": node names must be unique");
        return;
    }
    Peer *peer = Touch(message.node, now);
    if (!peer) return;
    switch (message.kind) {
        case ClusterKind::Heartbeat:
        case ClusterKind::Sync:
            if (peer->instance != message.instance) {
                if (peer->instance != 0) DropAircraftOf(message.node, *peer, "restarted", now);
                peer->instance = message.instance;
            }
            if (message.kind == ClusterKind::Sync) AnswerSync(message.node, *peer, now);
            break;
        case ClusterKind::Gone:
            DropNode(message.node, "left the network", now);
            break;
        case ClusterKind::Aircraft:
            TakeAircraft(message, *peer, now);
            break;
        case ClusterKind::Location:
            for (const LocationEntry &entry : message.locations) {
                auto owner = remote_.find(entry.uniqueId);
                if (owner != remote_.end() && owner->second != message.node) {
                    link_.Warn(foreignLog_, now,
                               "dropped a location of aircraft " + std::to_string(entry.uniqueId) + " from node " +
                                   message.node + ": it flies on node " + owner->second);
                } else if (owner == remote_.end() || !relay_.OnRemoteLocation(entry.uniqueId, entry.fields, now)) {
                    // Its identity was missed (or has not arrived yet): ask its node again.
                    AskSync(message.node, *peer, now);
                }
            }
            break;
        case ClusterKind::Leave: {
            auto owner = remote_.find(message.uniqueId);
            if (owner == remote_.end() || owner->second != message.node) break;
            remote_.erase(owner);
            peer->aircraft.erase(message.uniqueId);
            relay_.OnRemoteLeave(message.uniqueId);
            break;
        }
        case ClusterKind::Kick:
            relay_.OnReplacedElsewhere(message.uniqueId, message.node);
            break;
        case ClusterKind::Chat:
            relay_.OnRemoteChat(message.text);
            break;
        case ClusterKind::Ban:
        case ClusterKind::Unban:
        case ClusterKind::Eject:
            admin_.Apply(message);
            break;
    }
}

OtherNodes::Peer *OtherNodes::Touch(const std::string &node, TimePoint now) {
    auto found = peers_.find(node);
    if (found == peers_.end()) {
        if (peers_.size() >= link_.Options().maxNodes) {
            link_.Warn(capacityLog_, now,
                       "dropped a message from node " + node + ": already " + std::to_string(peers_.size()) +
                           " nodes in the network");
            return nullptr;
        }
        link_.Say(nodeLog_, now, spdlog::level::info, "hears node " + node);
        found = peers_.emplace(node, Peer{}).first;
        found->second.lastHeard = now;
        // A node met for the first time (it started, or one of the two was cut off): learn its aircraft.
        AskSync(node, found->second, now);
    }
    found->second.lastHeard = now;
    return &found->second;
}

void OtherNodes::TakeAircraft(const ClusterMessage &message, Peer &peer, TimePoint now) {
    auto owner = remote_.find(message.uniqueId);
    if (owner != remote_.end() && owner->second != message.node) {
        // The pilot logged in again on that node; the newer login holds the claim.
        auto previous = peers_.find(owner->second);
        if (previous != peers_.end()) previous->second.aircraft.erase(message.uniqueId);
        owner->second = message.node;
    } else if (owner == remote_.end()) {
        if (remote_.size() >= link_.Options().maxRemoteAircraft) {
            link_.Warn(capacityLog_, now,
                       "dropped aircraft " + std::to_string(message.uniqueId) + " of node " + message.node +
                           ": already " + std::to_string(remote_.size()) + " aircraft from other nodes");
            return;
        }
        if (publisher_.Has(message.uniqueId)) {
            link_.Warn(capacityLog_, now,
                       "dropped aircraft " + std::to_string(message.uniqueId) + " of node " + message.node +
                           ": it is logged in here");
            return;
        }
        remote_.emplace(message.uniqueId, message.node);
    }
    peer.aircraft.insert(message.uniqueId);
    AircraftIdentity identity = message.identity;
    identity.node = message.node;
    relay_.OnRemoteIdentity(identity, now);
}

void OtherNodes::DropAircraftOf(const std::string &node, Peer &peer, const std::string &why, TimePoint now) {
    if (!peer.aircraft.empty()) {
        link_.Say(nodeLog_, now, spdlog::level::info,
                  "node " + node + " " + why + "; its " + std::to_string(peer.aircraft.size()) + " aircraft are gone");
    }
    for (int id : peer.aircraft) {
        remote_.erase(id);
        relay_.OnRemoteLeave(id);
    }
    peer.aircraft.clear();
}

void OtherNodes::DropNode(const std::string &node, const std::string &why, TimePoint now) {
    auto found = peers_.find(node);
    if (found == peers_.end()) return;
    DropAircraftOf(node, found->second, why, now);
    link_.Say(nodeLog_, now, spdlog::level::info, "node " + node + " " + why);
    peers_.erase(found);
}

// Sends this node's aircraft to a node that asked (it joined late, or came back), at most once a second.
void OtherNodes::AnswerSync(const std::string &node, Peer &peer, TimePoint now) {
    if (peer.syncAnswered && now - peer.lastSyncAnswered < std::chrono::seconds(1)) return;
    peer.syncAnswered = true;
    peer.lastSyncAnswered = now;
    publisher_.SendAircraftTo(node);
}

// A location of an aircraft this node does not know: its identity was missed, so ask its node again.
void OtherNodes::AskSync(const std::string &node, Peer &peer, TimePoint now) {
    if (peer.syncAsked && now - peer.lastSyncAsked < std::chrono::seconds(2)) return;
    peer.syncAsked = true;
    peer.lastSyncAsked = now;
    ClusterMessage sync;
    sync.kind = ClusterKind::Sync;
    sync.node = link_.Node();
    sync.instance = link_.Instance();
    link_.Send(NodeSubject(node).c_str(), sync);
}

}  // namespace server
