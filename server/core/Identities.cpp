// Identity changes, held to each sender's rate.
#include "server/core/Identities.h"

#include <utility>
#include <vector>

#include "server/core/Crews.h"
#include "server/core/Text.h"
#include "server/core/Views.h"

namespace server {

Identities::Identities(const Clients &clients, Views &views, Crews &crews, RelayCounters &counters)
    : clients_(clients), views_(views), crews_(crews), counters_(counters) {}

void Identities::SettleName(Client &client) {
    std::string wanted = client.wantedCallsign != "BLANK" ? client.wantedCallsign : StreamText(client.user, kMaxText);
    std::vector<int> displaced;
    ShowName(client, callsigns_.Settle(client.uniqueId, wanted, client.callsignSince, &displaced));
    // Those who asked for the name later than this client lose it to a suffixed one.
    for (int id : displaced) {
        std::vector<int> none;
        std::string name = callsigns_.Resettle(id, &none);
        auto found = clients_.find(id);
        if (found != clients_.end() && ShowName(*found->second, name)) Publish(*found->second);
    }
}

// True when its relayed callsign changed; its viewers are told.
bool Identities::ShowName(Client &client, const std::string &name) {
    client.name = name;
    std::string callsign = client.wantedCallsign == "BLANK" ? std::string("BLANK") : name;
    if (callsign == client.callsign) return false;
    client.callsign = std::move(callsign);
    views_.SendToViewers(client, 'c', client.callsign);
    return true;
}

void Identities::Publish(const Client &client) {
    if (!cluster_ || client.remote) return;
    AircraftIdentity identity;
    identity.uniqueId = client.uniqueId;
    identity.since = client.order;
    identity.crewSince = client.crewSince;
    identity.callsignSince = client.callsignSince;
    identity.user = client.user;
    identity.callsign = client.callsign;
    identity.plane = client.plane;
    identity.crew = client.crew;
    identity.position = client.position;
    identity.crewedWithoutId = client.crewedWithoutId;
    identity.viewOnly = client.viewOnly;
    cluster_->PublishIdentity(identity);
}

void Identities::OfferCallsign(Client &client, std::string callsign, bool viewOnly, TimePoint now) {
    client.callsignHeld = false;
    if (callsign == client.wantedCallsign && viewOnly == client.viewOnly) return;
    if (!client.callsignBucket.Take(now)) {
        client.callsignHeld = true;
        client.heldCallsign = std::move(callsign);
        client.heldViewOnly = viewOnly;
        CountExcess(client, counters_, now, &Client::excessIdentity);
        return;
    }
    if (viewOnly != client.viewOnly) {
        client.viewOnly = viewOnly;
        views_.MarkDirty();
    }
    if (callsign != client.wantedCallsign) {
        // Another spelling of the same name (case, spaces) keeps its place in the queue for it.
        if (FoldedName(callsign) != FoldedName(client.wantedCallsign)) client.callsignSince = WallMicros();
        client.wantedCallsign = std::move(callsign);
        SettleName(client);
    }
    Publish(client);
}

void Identities::OfferPlane(Client &client, std::string plane, TimePoint now) {
    client.planeHeld = false;
    if (plane == client.plane) return;
    if (!client.planeBucket.Take(now)) {
        client.planeHeld = true;
        client.heldPlane = std::move(plane);
        CountExcess(client, counters_, now, &Client::excessIdentity);
        return;
    }
    client.plane = std::move(plane);
    views_.SendToViewers(client, 'p', client.plane);
    Publish(client);
}

void Identities::OfferCrew(Client &client, std::string crew, int position, bool crewedWithoutId, TimePoint now) {
    client.crewHeld = false;
    if (crew == client.crew && position == client.position && crewedWithoutId == client.crewedWithoutId) return;
    if (!client.crewBucket.Take(now)) {
        client.crewHeld = true;
        client.heldCrew = std::move(crew);
        client.heldPosition = position;
        client.heldCrewedWithoutId = crewedWithoutId;
        CountExcess(client, counters_, now, &Client::excessIdentity);
        return;
    }
    crews_.Set(client, std::move(crew), position, crewedWithoutId, WallMicros(), now);
    views_.MarkDirty();
    Publish(client);
}

void Identities::ApplyHeld(Client &client, TimePoint now) {
    if (client.callsignHeld && client.callsignBucket.Ready(now)) {
        OfferCallsign(client, std::move(client.heldCallsign), client.heldViewOnly, now);
    }
    if (client.planeHeld && client.planeBucket.Ready(now)) OfferPlane(client, std::move(client.heldPlane), now);
    if (client.crewHeld && client.crewBucket.Ready(now)) {
        OfferCrew(client, std::move(client.heldCrew), client.heldPosition, client.heldCrewedWithoutId, now);
    }
}

}  // namespace server
