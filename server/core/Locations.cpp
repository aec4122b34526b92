// Location datagrams, from the socket to the other nodes and the receivers.
#include "server/core/Locations.h"

#include <spdlog/spdlog.h>

#include <cmath>
#include <string>

#include "server/core/ClientMessage.h"
#include "server/core/Identities.h"
#include "server/core/Text.h"
#include "server/core/Views.h"

namespace server {

namespace {

// A client's datagrams move to a new port once the old one was silent this long and the new one sent
// this many in a row (a plug-in sends about 30 a second).
constexpr auto kTakeOverSilence = std::chrono::seconds(1);
constexpr int kTakeOverDatagrams = 5;

// A receiver's plug-in draws an aircraft on its sender's clock: one far from everyone's would freeze the
// slot for whoever comes into it next. Such a clock goes on as the server's own time; a pilot whose
// computer is set to another day is still shown.
constexpr double kClockSkewSeconds = 24 * 3600;

void KeepClockNear(std::string &fields) {
    double sender = 0;
    if (CountFields(fields) != kMaxLocationFields || !ReadSenderClock(fields, &sender)) return;
    double wall = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    if (std::fabs(sender - wall) > kClockSkewSeconds) SetSenderClock(fields, wall);
}

}  // namespace

Locations::Locations(const RelayLimits &limits, const Clients &clients, Views &views, Identities &identities,
                     RelayCounters &counters, LogBudget &budget)
    : limits_(limits), clients_(clients), views_(views), identities_(identities), counters_(counters) {
    for (LogLimiter *limiter : {&badDatagramLog_, &unknownSenderLog_, &endpointLog_}) limiter->Share(budget);
}

void Locations::Take(const Endpoint &from, const char *data, std::size_t size, TimePoint now) {
    LocationDatagram location;
    if (!ParseLocationDatagram(std::string_view(data, size), &location)) {
        ++counters_.datagramsMalformed;
        badDatagramLog_.Log(now, spdlog::level::warn, "dropped a datagram from {}: {}",
                            EndpointText(from.address, from.port), Preview(std::string_view(data, size)));
        return;
    }
    auto found = clients_.find(location.uniqueId);
    if (found == clients_.end()) {
        ++counters_.datagramsUnknownSender;
        unknownSenderLog_.Log(now, spdlog::level::warn, "dropped a datagram from {}: no client {} is logged in",
                              EndpointText(from.address, from.port), location.uniqueId);
        return;
    }
    Client &client = *found->second;
    if (from.address != client.streamAddress) {
        ++counters_.datagramsUnknownSender;
        unknownSenderLog_.Log(now, spdlog::level::warn,
                              "dropped a datagram for client {} from {}: not the address it logged in from",
                              client.uniqueId, EndpointText(from.address, from.port));
        return;
    }
    if (!client.hasEndpoint) {
        client.hasEndpoint = true;
        client.endpoint = from;
        endpointLog_.Log(now, spdlog::level::info, "client {} sends its datagrams from {}", client.uniqueId,
                         EndpointText(from.address, from.port));
    } else if (from != client.endpoint && !FollowEndpoint(client, from, now)) {
        ++counters_.datagramsUnknownSender;
        unknownSenderLog_.Log(now, spdlog::level::warn, "dropped a datagram for client {} from {}: it sends from {}",
                              client.uniqueId, EndpointText(from.address, from.port),
                              EndpointText(client.endpoint.address, client.endpoint.port));
        return;
    }
    if (from == client.endpoint) {
        client.endpointHeard = now;
        client.candidateCount = 0;
    }
    client.lastHeard = now;
    // Checked before anything of it is kept: a datagram longer than a plug-in's, of another shape, or with
    // a position off the earth is never relayed, and never makes its sender anyone's nearest aircraft.
    if (size > limits_.maxLocationBytes || !FitsDatagram(location.fields)) {
        ++counters_.datagramsTooLong;
        badDatagramLog_.Log(now, spdlog::level::warn, "dropped a datagram from client {}: {} bytes is too long",
                            client.uniqueId, size);
        return;
    }
    std::size_t fieldCount = CountFields(location.fields);
    if (fieldCount < kMinLocationFields || fieldCount > kMaxLocationFields) {
        ++counters_.datagramsMalformed;
        badDatagramLog_.Log(now, spdlog::level::warn, "dropped a datagram from client {}: {} fields", client.uniqueId,
                            fieldCount);
        return;
    }
    double latitude = 0, longitude = 0, elevation = 0;
    if (!ReadWorldPosition(location.fields, &latitude, &longitude, &elevation)) {
        ++counters_.datagramsUnplaceable;
        badDatagramLog_.Log(now, spdlog::level::warn, "dropped a datagram from client {}: a position off the earth",
                            client.uniqueId);
        return;
    }
    if (location.viewOnly != client.viewOnly) {
        // Counts as an identity change, like the view-only callsign: it moves the client in and out of
        // every receiver's slots.
        identities_.OfferCallsign(client, client.callsignHeld ? client.heldCallsign : client.wantedCallsign,
                                  location.viewOnly, now);
    }
    client.location.assign(location.fields.data(), location.fields.size());
    KeepClockNear(client.location);
    client.locationChanged = true;
    if (!client.hasPosition) {
        client.hasPosition = true;
        views_.MarkDirty();
    }
    // Past its rate a sender's datagrams are thinned, not cut off: the next one after a token comes goes
    // out, and a held one goes at the next tick, so receivers see it move at an even rate.
    if (!client.locationBucket.Take(now) ||
        (client.account && !client.account->locationBytes.Take(now, static_cast<double>(size)))) {
        client.locationHeld = true;
        CountExcess(client, counters_, now, &Client::excessLocations);
        return;
    }
    Forward(client);
}

// Home routers and mobile links move a client's datagrams to a new port now and then, and a forger
// may have sent the first datagram: a new port takes over once the one in use has gone quiet and the
// new one keeps sending, so whoever sends alone from the client's address is followed within a second.
bool Locations::FollowEndpoint(Client &client, const Endpoint &from, TimePoint now) {
    if (from != client.candidate) {
        client.candidate = from;
        client.candidateCount = 0;
    }
    if (++client.candidateCount < kTakeOverDatagrams || now - client.endpointHeard < kTakeOverSilence) return false;
    endpointLog_.Log(now, spdlog::level::info, "client {} now sends its datagrams from {} (was {})", client.uniqueId,
                     EndpointText(from.address, from.port),
                     EndpointText(client.endpoint.address, client.endpoint.port));
    client.endpoint = from;
    client.candidateCount = 0;
    return true;
}

void Locations::Forward(Client &client) {
    if (cluster_ && !client.remote)
        cluster_->PublishLocation(client.uniqueId, client.location, IsShownAsAircraft(client));
    views_.SendLocation(client);
}

}  // namespace server
