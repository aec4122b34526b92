// The other nodes' aircraft, checked as they arrive from the bridge.
#include "server/core/RemoteAircraft.h"

#include <spdlog/spdlog.h>

#include <memory>
#include <string>
#include <utility>

#include "server/core/ClientMessage.h"
#include "server/core/Crews.h"
#include "server/core/Identities.h"
#include "server/core/Text.h"
#include "server/core/Views.h"

namespace server {

RemoteAircraft::RemoteAircraft(const RelayLimits &limits, Clients &clients, Views &views, Crews &crews,
                               Identities &identities, LogBudget &budget)
    : limits_(limits), clients_(clients), views_(views), crews_(crews), identities_(identities) {
    log_.Share(budget);
}

// Another node's aircraft is checked like a client's identity messages, but not rate-limited again:
// its own node did that.
void RemoteAircraft::Identity(const AircraftIdentity &identity, TimePoint now) {
    auto found = clients_.find(identity.uniqueId);
    Client *client = nullptr;
    if (found != clients_.end()) {
        client = found->second.get();
        if (!client->remote) {
            log_.Log(now, spdlog::level::warn, "dropped another node's aircraft {}: it is logged in here",
                     identity.uniqueId);
            return;
        }
    } else {
        auto created = std::make_unique<Client>(limits_);
        created->uniqueId = identity.uniqueId;
        created->remote = true;
        client = created.get();
        clients_.emplace(identity.uniqueId, std::move(created));
        views_.MarkDirty();
    }
    client->order = identity.since;
    client->lastHeard = now;
    client->node = identity.node;
    client->user = StreamText(identity.user, kMaxText);
    // Its node settled its callsign against what that node knows; here it is settled again against this
    // node's pilots, and the one that asked first keeps the name on both.
    std::string callsign = StreamText(identity.callsign, kMaxText);
    std::uint64_t since = identity.callsignSince != 0 ? identity.callsignSince : identity.since;
    if (callsign != client->wantedCallsign || since != client->callsignSince || client->name.empty()) {
        client->wantedCallsign = std::move(callsign);
        client->callsignSince = since;
        identities_.SettleName(*client);
    }
    std::string plane = RelayedModelPath(identity.plane, kMaxText);
    if (plane != client->plane) {
        client->plane = std::move(plane);
        views_.SendToViewers(*client, 'p', client->plane);
    }
    if (identity.viewOnly != client->viewOnly) {
        client->viewOnly = identity.viewOnly;
        views_.MarkDirty();
    }
    std::string crew = identity.crew.empty() ? std::string() : StreamText(identity.crew, kMaxText);
    if (crew == "BLANK") crew.clear();
    if (crew != client->crew || identity.position != client->position ||
        identity.crewedWithoutId != client->crewedWithoutId) {
        crews_.Set(*client, std::move(crew), identity.position, identity.crewedWithoutId,
                   identity.crewSince != 0 ? identity.crewSince : identity.since, now);
        views_.MarkDirty();
    }
}

bool RemoteAircraft::Location(int uniqueId, std::string_view fields, TimePoint now) {
    Client *client = Find(uniqueId);
    if (!client) return false;
    if (!FitsDatagram(fields)) {
        log_.Log(now, spdlog::level::warn,
                 "dropped another node's location of aircraft {}: {} bytes is too long to relay", uniqueId,
                 fields.size());
        return true;
    }
    double latitude = 0, longitude = 0, elevation = 0;
    std::size_t fieldCount = CountFields(fields);
    if (fieldCount < kMinLocationFields || fieldCount > kMaxLocationFields ||
        !ReadWorldPosition(fields, &latitude, &longitude, &elevation)) {
        log_.Log(now, spdlog::level::warn,
                 "dropped another node's location of aircraft {}: not a position on the earth", uniqueId);
        return true;
    }
    client->lastHeard = now;
    client->location.assign(fields.data(), fields.size());
    client->locationChanged = true;
    if (!client->hasPosition) {
        client->hasPosition = true;
        views_.MarkDirty();
    }
    views_.SendLocation(*client);
    return true;
}

Client *RemoteAircraft::Find(int uniqueId) const {
    auto found = clients_.find(uniqueId);
    return found != clients_.end() && found->second->remote ? found->second.get() : nullptr;
}

// An aircraft of another node that nothing was heard of for so long either left unnoticed (its leave
// was lost) or flies where no pilot of this node is: forget it. Should it come near again, its first
// location makes the bridge ask its node for it anew.
std::vector<Client *> RemoteAircraft::Stale(TimePoint now) const {
    std::vector<Client *> stale;
    for (auto &entry : clients_) {
        Client &client = *entry.second;
        if (client.remote && now - client.lastHeard >= limits_.silenceTimeout) stale.push_back(&client);
    }
    return stale;
}

}  // namespace server
