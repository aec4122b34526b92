// The hand-off from the relay's event loop to the web observer: a snapshot of the traffic at a fixed rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/core/Counters.h"

namespace server {

// One aircraft as the public may see it: no user ID, unique ID, address or crew ID.
struct AircraftSighting {
    std::uint64_t key = 0;  // login order: tells aircraft apart across snapshots and means nothing else
    std::string callsign;   // as relayed; "BLANK" when the pilot has not named one
    std::string plane;      // model path as relayed
    std::string location;   // the fields of its last location datagram
};

struct ChatLine {
    std::string callsign;  // of the sender, as relayed ("BLANK" when it has none)
    std::string text;
};

struct ClientCounts {
    std::size_t pilots = 0;      // logged in, flying their own aircraft
    std::size_t crew = 0;        // logged in as a crew member of another aircraft
    std::size_t viewOnly = 0;    // logged in to watch
    std::size_t connecting = 0;  // connected, not logged in yet
};

// The node's own state, for the health endpoints and the metrics.
struct NodeState {
    bool listening = false;  // the TCP listener and the UDP socket are open
    bool draining = false;   // stopping: new logins are refused
    std::uint64_t drains = 0;
    std::uint64_t reloads = 0;
    std::uint64_t reloadsRefused = 0;
    // With a network of nodes (--nats) only.
    bool clustered = false;
    bool networkConnected = false;
    bool loginStoreReady = false;  // the login store answered its last call
    std::uint64_t networkReconnects = 0;
    std::uint64_t loginStoreErrors = 0;
    std::uint64_t networkDropped = 0;  // messages from other nodes dropped because the relay fell behind
    std::size_t remoteAircraft = 0;
};

struct TrafficSnapshot {
    std::vector<AircraftSighting> aircraft;  // shown aircraft only: view-only clients and crew members are not
    std::vector<ChatLine> chat;              // lines said since the previous snapshot
    ClientCounts clients;
    RelayCounters counters;
    NodeState node;
};

// Implemented by the web observer. Publish is called on the relay's event-loop thread only, about four
// times a second; it must return at once: no I/O, no waiting on anything but a short lock.
class TrafficObserver {
public:
    virtual ~TrafficObserver() = default;
    virtual void Publish(TrafficSnapshot &&snapshot) = 0;
};

}  // namespace server
