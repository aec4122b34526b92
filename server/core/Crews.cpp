// Crew ownership, and the crew texts that follow it.
#include "server/core/Crews.h"

#include <spdlog/spdlog.h>

#include <utility>

#include "server/core/Text.h"
#include "server/core/Views.h"

namespace server {

Crews::Crews(Transport &transport, const Clients &clients, LogBudget &budget)
    : transport_(transport), clients_(clients) {
    log_.Share(budget);
}

void Crews::Set(Client &client, std::string crew, int position, bool crewedWithoutId, std::uint64_t since,
                TimePoint now) {
    std::string oldCrew = std::move(client.crew);
    bool claimsAnew = oldCrew != crew || client.position != 0;
    client.crew = std::move(crew);
    client.position = position;
    client.crewedWithoutId = crewedWithoutId;
    client.crewClaimLogged = false;
    if (claimsAnew || client.remote) client.crewSince = since;
    if (!oldCrew.empty() && owners_.count(oldCrew) != 0 && owners_[oldCrew] == &client &&
        (oldCrew != client.crew || position != 0)) {
        HandOver(oldCrew, client, now);
    }
    Claim(client, now);
    Resend(client);
}

void Crews::Leave(const Client &leaving, TimePoint now) {
    auto owner = owners_.find(leaving.crew);
    if (owner != owners_.end() && owner->second == &leaving) HandOver(leaving.crew, leaving, now);
}

namespace {

// Whether `a` named the crew in the pilot's seat before `b`; every node of a network decides alike.
bool ClaimedFirst(const Client &a, const Client &b) {
    return a.crewSince != b.crewSince ? a.crewSince < b.crewSince : a.uniqueId < b.uniqueId;
}

}  // namespace

// A crew ID belongs to the first client that claimed it in the pilot's seat while that client is
// connected: another client calling itself pilot of the same crew would otherwise be handed the crew's
// members, whose plug-ins fly their own aircraft wherever their crew's pilot goes. When it logged in
// does not matter: a client waiting since before the crew formed gains nothing by naming it.
void Crews::Claim(Client &client, TimePoint now) {
    if (client.crew.empty() || client.position != 0) return;
    auto owner = owners_.find(client.crew);
    if (owner == owners_.end()) {
        owners_.emplace(client.crew, &client);
        return;
    }
    if (owner->second == &client) return;
    // Pilots on other nodes become known here in any order: the one that claimed it first holds the crew,
    // as every node of the network decides alike.
    Client &holder = *owner->second;
    if (ClaimedFirst(client, holder)) {
        owner->second = &client;
        log_.Log(now, spdlog::level::info, "crew '{}' passes from client {} to client {}, which claimed it first",
                 Preview(client.crew), holder.uniqueId, client.uniqueId);
        Resend(holder);
        Resend(client);
        return;
    }
    if (client.crewClaimLogged) return;
    client.crewClaimLogged = true;
    log_.Log(now, spdlog::level::warn,
             "client {} ({}) calls itself pilot of crew '{}', which client {} flies; it is not given the crew",
             client.uniqueId, Preview(client.user), Preview(client.crew), owner->second->uniqueId);
}

void Crews::HandOver(const std::string &crew, const Client &leaving, TimePoint now) {
    owners_.erase(crew);
    Client *next = nullptr;
    for (auto &entry : clients_) {
        Client &candidate = *entry.second;
        if (&candidate == &leaving || candidate.crew != crew || candidate.position != 0) continue;
        if (!next || ClaimedFirst(candidate, *next)) next = &candidate;
    }
    if (!next) return;
    owners_.emplace(crew, next);
    log_.Log(now, spdlog::level::info, "crew '{}' passes from client {} to client {}", Preview(crew), leaving.uniqueId,
             next->uniqueId);
    Resend(*next);
}

const std::string &Crews::EffectiveCrew(const Client &client) const {
    static const std::string none;
    if (client.crew.empty()) return none;
    if (client.position > 0) return client.crew;
    auto owner = owners_.find(client.crew);
    return owner != owners_.end() && owner->second == &client ? client.crew : none;
}

std::string Crews::TextFor(const Client &receiver, const Client &aircraft) const {
    // Only a member of the same crew learns an aircraft's crew ID: anyone else could claim it.
    const std::string &crew = EffectiveCrew(aircraft);
    if (!crew.empty() && EffectiveCrew(receiver) == crew) return crew;
    // Any text but an empty one keeps such a receiver from flying along with every crewless aircraft.
    return receiver.crewedWithoutId ? "-" : "BLANK";
}

void Crews::Resend(Client &client) {
    for (const Viewer &viewer : client.viewers) {
        SendSlotText(transport_, *viewer.receiver, viewer.slot, 'I', TextFor(*viewer.receiver, client));
    }
    // What this client must be told about the others depends on its own crew settings too.
    for (int slot = 1; slot < kSlotCount; ++slot) {
        if (Client *aircraft = client.slots[static_cast<std::size_t>(slot)]) {
            SendSlotText(transport_, client, slot, 'I', TextFor(client, *aircraft));
        }
    }
}

}  // namespace server
