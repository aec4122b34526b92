// Identity changes, held to each sender's rate.
#include "server/core/Identities.h"

#include <utility>

#include "server/core/Crews.h"
#include "server/core/Views.h"

namespace server {

Identities::Identities(Views &views, Crews &crews, RelayCounters &counters)
    : views_(views), crews_(crews), counters_(counters) {}

void Identities::Publish(const Client &client) {
    if (!cluster_ || client.remote) return;
    AircraftIdentity identity;
    identity.uniqueId = client.uniqueId;
    identity.since = client.order;
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
    if (callsign == client.callsign && viewOnly == client.viewOnly) return;
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
    if (callsign != client.callsign) {
        client.callsign = std::move(callsign);
        views_.SendToViewers(client, 'c', client.callsign);
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
    crews_.Set(client, std::move(crew), position, crewedWithoutId, now);
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
