// What this node tells the others about its own pilots.
// Identities, locations gathered by cell, chat, heartbeats, and its aircraft for a node that asks.
#include "server/nats/Publisher.h"

#include "server/core/ClientMessage.h"

namespace server {

void Publisher::Add(ConnectionId connection, int uniqueId) {
    local_[uniqueId] = Local{};
    local_[uniqueId].connection = connection;
}

void Publisher::Remove(ConnectionId connection, int uniqueId, bool tell) {
    auto found = local_.find(uniqueId);
    if (found == local_.end() || found->second.connection != connection) return;
    local_.erase(found);
    if (!tell) return;
    ClusterMessage leave;
    leave.kind = ClusterKind::Leave;
    leave.node = link_.Node();
    leave.uniqueId = uniqueId;
    link_.Send(kEventSubject, leave);
}

void Publisher::Identity(const AircraftIdentity &identity) {
    ClusterMessage message;
    message.kind = ClusterKind::Aircraft;
    message.node = link_.Node();
    message.uniqueId = identity.uniqueId;
    message.identity = identity;
    std::string payload = link_.Encode(message);
    auto found = local_.find(identity.uniqueId);
    if (found != local_.end()) found->second.identity = payload;
    link_.Publish(kEventSubject, payload);
}

void Publisher::Location(int uniqueId, std::string_view fields, bool shown) {
    auto found = local_.find(uniqueId);
    if (found == local_.end()) return;
    Local &local = found->second;
    double latitude = 0, longitude = 0, elevation = 0;
    if (!ReadWorldPosition(fields, &latitude, &longitude, &elevation)) return;
    Cell cell = CellOf(latitude, longitude);
    if (!local.hasCell || !(cell == local.cell)) {
        local.hasCell = true;
        local.cell = cell;
        local.subject = CellSubject(cell);
        // At once, not at the next tick: aircraft around a pilot who just arrived show up sooner.
        interest_.ListenAround(cell, Clock::now());
    }
    local.fields.clear();
    // Fields with a line feed would read as another aircraft's location in a batch.
    if (!shown || fields.empty() || fields.find('\n') != std::string_view::npos) return;
    local.fields.assign(fields);
    // Positions queued while reconnecting would arrive stale; the next ones replace them anyway.
    if (!link_.Connected()) return;
    // Gathered by cell for a few milliseconds (or the rest of this event-loop turn): one message for
    // many aircraft costs the nodes and the NATS servers about what one costs.
    PendingCell *pending = nullptr;
    for (PendingCell &cell : pending_) {
        if (cell.subject == local.subject) pending = &cell;
    }
    const ClusterOptions &options = link_.Options();
    if (!pending) {
        pending = &pending_.emplace_back();
        pending->subject = local.subject;
        StartLocations(pending->payload, options.node, options.protocol);
    }
    if (!AppendLocation(pending->payload, uniqueId, fields)) {
        link_.Publish(pending->subject.c_str(), pending->payload);
        StartLocations(pending->payload, options.node, options.protocol);
        AppendLocation(pending->payload, uniqueId, fields);
    }
    if (!flushPosted_) {
        flushPosted_ = true;
        if (options.locationBatch > Clock::duration::zero()) {
            later_(options.locationBatch, [this] { FlushLocations(); });
        } else {
            post_([this] { FlushLocations(); });
        }
    }
}

void Publisher::FlushLocations() {
    flushPosted_ = false;
    if (link_.Connected()) {
        for (const PendingCell &cell : pending_) link_.Publish(cell.subject.c_str(), cell.payload);
    }
    pending_.clear();
}

void Publisher::Chat(std::string_view line) {
    ClusterMessage message;
    message.kind = ClusterKind::Chat;
    message.node = link_.Node();
    message.text.assign(line);
    link_.Send(kEventSubject, message);
}

void Publisher::Heartbeat(TimePoint now) {
    if (!link_.Connected() || now - lastBeat_ < link_.Options().heartbeatPeriod) return;
    lastBeat_ = now;
    ClusterMessage beat;
    beat.kind = ClusterKind::Heartbeat;
    beat.node = link_.Node();
    beat.instance = link_.Instance();
    beat.count = local_.size();
    link_.Send(kEventSubject, beat);
}

void Publisher::SendAircraftTo(const std::string &node) {
    std::string subject = NodeSubject(node), location;
    const ClusterOptions &options = link_.Options();
    for (const auto &entry : local_) {
        if (!entry.second.identity.empty()) link_.Publish(subject.c_str(), entry.second.identity);
        if (entry.second.fields.empty()) continue;
        StartLocations(location, options.node, options.protocol);
        if (AppendLocation(location, entry.first, entry.second.fields)) link_.Publish(subject.c_str(), location);
    }
}

void Publisher::ForEachCell(const std::function<void(const Cell &)> &visit) const {
    for (const auto &entry : local_) {
        if (entry.second.hasCell) visit(entry.second.cell);
    }
}

}  // namespace server
