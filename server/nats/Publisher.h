// What this node tells the others about its own pilots.
// Identities, locations gathered by cell, chat, heartbeats, and its aircraft for a node that asks.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/nats/CellInterest.h"
#include "server/nats/NatsLink.h"

namespace server {

class Publisher {
public:
    Publisher(NatsLink &link, CellInterest &interest, ClusterBridge::Post post, ClusterBridge::Later later)
        : link_(link), interest_(interest), post_(std::move(post)), later_(std::move(later)) {}

    // --- event-loop thread ---
    // A login the network granted to `connection`.
    void Add(ConnectionId connection, int uniqueId);
    // The session of `connection` ended: with `tell`, the other nodes drop its aircraft.
    void Remove(ConnectionId connection, int uniqueId, bool tell);
    bool Has(int uniqueId) const { return local_.count(uniqueId) != 0; }

    void Identity(const AircraftIdentity &identity);
    void Location(int uniqueId, std::string_view fields, bool shown);
    void Chat(std::string_view line);
    // A heartbeat when one is due; `Restart` makes the next one due at once.
    void Heartbeat(TimePoint now);
    void RestartHeartbeat() { lastBeat_ = TimePoint{}; }
    // Every local aircraft's identity and last location, to one node.
    void SendAircraftTo(const std::string &node);
    // The cell of every local pilot that has reported one.
    void ForEachCell(const std::function<void(const Cell &)> &visit) const;

private:
    struct Local {
        ConnectionId connection = 0;
        std::string identity;  // its last identity message
        std::string fields;    // its last location's fields, empty while it is not shown
        bool hasCell = false;
        Cell cell;
        std::string subject;
    };
    // Locations of one cell waiting for the end of the event-loop turn.
    struct PendingCell {
        std::string subject;
        std::string payload;
    };

    void FlushLocations();

    NatsLink &link_;
    CellInterest &interest_;
    ClusterBridge::Post post_;
    ClusterBridge::Later later_;
    std::unordered_map<int, Local> local_;
    std::vector<PendingCell> pending_;
    bool flushPosted_ = false;
    TimePoint lastBeat_{};
};

}  // namespace server
