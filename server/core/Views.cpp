// Slots, views and the forwarding of slot texts and locations to the receivers.
#include "server/core/Views.h"

#include <algorithm>
#include <limits>

#include "server/core/ClientMessage.h"
#include "server/core/Crews.h"

namespace server {

void SendSlotText(Transport &transport, const Client &receiver, int slot, char type, std::string_view text) {
    std::string message = std::to_string(slot);
    message += '|';
    message += type;
    message += '|';
    message.append(text);
    message += '\n';
    transport.SendStream(receiver.connection, message);
}

Views::Views(Transport &transport, const RelayLimits &limits, const Clients &clients, const Crews &crews)
    : transport_(transport), limits_(limits), clients_(clients), crews_(crews) {}

void Views::SendToViewers(const Client &aircraft, char type, const std::string &text) {
    for (const Viewer &viewer : aircraft.viewers) SendSlotText(transport_, *viewer.receiver, viewer.slot, type, text);
}

void Views::SendLocation(Client &aircraft) {
    aircraft.locationHeld = false;
    if (aircraft.viewers.empty() || !IsShownAsAircraft(aircraft)) return;
    batch_.clear();
    for (const Viewer &viewer : aircraft.viewers) {
        if (viewer.receiver->hasEndpoint) {
            batch_.push_back({viewer.receiver->endpoint, SlotPrefix(viewer.slot), aircraft.location});
        }
    }
    if (!batch_.empty()) transport_.SendDatagrams(batch_.data(), batch_.size());
}

void Views::Detach(Client &client) {
    while (!client.viewers.empty()) {
        Viewer viewer = client.viewers.back();
        FreeSlot(*viewer.receiver, viewer.slot, true);
    }
    for (Client *aircraft : client.slots) {
        if (!aircraft) continue;
        auto &viewers = aircraft->viewers;
        viewers.erase(std::remove_if(viewers.begin(), viewers.end(),
                                     [&](const Viewer &viewer) { return viewer.receiver == &client; }),
                      viewers.end());
    }
}

void Views::SetShownAircraft(Client &receiver, int aircraft, TimePoint now) {
    // Each slot let go here was paid for when it was given: flipping the number costs no more than that.
    for (int slot = aircraft + 1; slot <= receiver.shownAircraft; ++slot) {
        if (receiver.slots[static_cast<std::size_t>(slot)]) FreeSlot(receiver, slot, true);
    }
    receiver.shownAircraft = aircraft;
    receiver.slotBucket.SetRate(limits_.slotChangeRate, SlotChangeBurst(limits_, aircraft));
    // The larger burst is granted once, for the first time a receiver asks for that many: it fills the new
    // slots at once, and asking again and again earns nothing more.
    if (aircraft > receiver.mostAircraftAsked) {
        receiver.slotBucket.Grant(
            now, SlotChangeBurst(limits_, aircraft) - SlotChangeBurst(limits_, receiver.mostAircraftAsked));
        receiver.mostAircraftAsked = aircraft;
    }
    dirty_ = true;
}

int Views::SlotOf(const Client &receiver, const Client &aircraft) const {
    for (int slot = 1; slot < kSlotCount; ++slot) {
        if (receiver.slots[static_cast<std::size_t>(slot)] == &aircraft) return slot;
    }
    return 0;
}

void Views::Refresh(TimePoint now) {
    dirty_ = false;
    lastRefresh_ = now;
    for (auto &entry : clients_) {
        Client &client = *entry.second;
        if (!client.locationChanged) continue;
        client.locationChanged = false;
        double latitude = 0, longitude = 0, elevation = 0;
        client.pointValid = ReadWorldPosition(client.location, &latitude, &longitude, &elevation);
        if (client.pointValid) client.point = ToEarthPoint(latitude, longitude, elevation);
    }
    for (auto &entry : clients_) {
        if (!entry.second->remote) RefreshView(*entry.second, now);
    }
}

void Views::RefreshView(Client &receiver, TimePoint now) {
    candidates_.clear();
    candidateClients_.clear();
    bool inCrew = IsCrewMember(receiver);
    for (auto &entry : clients_) {
        Client &aircraft = *entry.second;
        aircraft.selected = false;
        if (&aircraft == &receiver || !IsShownAsAircraft(aircraft)) continue;
        ViewCandidate candidate;
        candidate.forced = inCrew && aircraft.crew == receiver.crew && crews_.EffectiveCrew(aircraft) == receiver.crew;
        candidate.holder = std::find(receiver.slots.begin(), receiver.slots.end(), &aircraft) != receiver.slots.end();
        // An aircraft nobody can place is never near; a receiver that cannot be placed sees the others in
        // login order.
        if (!aircraft.pointValid) {
            candidate.distance = std::numeric_limits<double>::infinity();
        } else {
            candidate.distance = receiver.pointValid ? Distance(receiver.point, aircraft.point) : 0.0;
        }
        candidate.order = aircraft.order;
        candidates_.push_back(candidate);
        candidateClients_.push_back(&aircraft);
    }
    const int shown = receiver.shownAircraft;
    for (std::size_t index : ChooseVisible(candidates_, static_cast<std::size_t>(shown))) {
        candidateClients_[index]->selected = true;
    }
    // The newcomers, the crew's pilot first and then the nearest, take free slots and the slots of aircraft no
    // longer chosen. Each change draws on the receiver's slot budget, so aircraft moving in and out of its
    // nearest cost it a few lines a second at most; past the budget it keeps what it shows a little longer.
    newcomers_.clear();
    for (std::size_t index = 0; index < candidateClients_.size(); ++index) {
        if (candidateClients_[index]->selected && !candidates_[index].holder) newcomers_.push_back(index);
    }
    std::sort(newcomers_.begin(), newcomers_.end(), [&](std::size_t a, std::size_t b) {
        const ViewCandidate &ca = candidates_[a], &cb = candidates_[b];
        if (ca.forced != cb.forced) return ca.forced;
        if (ca.distance != cb.distance) return ca.distance < cb.distance;
        return ca.order < cb.order;
    });
    auto outgoing = [&](int slot) {
        Client *aircraft = receiver.slots[static_cast<std::size_t>(slot)];
        return aircraft && !aircraft->selected;
    };
    for (std::size_t index : newcomers_) {
        int slot = 1;
        while (slot <= shown && receiver.slots[static_cast<std::size_t>(slot)]) ++slot;
        if (slot > shown) {
            slot = 1;
            while (slot <= shown && !outgoing(slot)) ++slot;
        }
        if (slot > shown) break;
        if (!candidates_[index].forced && !receiver.slotBucket.Take(now)) break;
        // Given at once to another aircraft: its new texts replace the old ones, no BLANK in between.
        if (receiver.slots[static_cast<std::size_t>(slot)]) FreeSlot(receiver, slot, false);
        GiveSlot(receiver, *candidateClients_[index], slot);
    }
    for (int slot = 1; slot < kSlotCount; ++slot) {
        if (outgoing(slot) &&
            (!IsShownAsAircraft(*receiver.slots[static_cast<std::size_t>(slot)]) || receiver.slotBucket.Take(now))) {
            FreeSlot(receiver, slot, true);
        }
    }
}

void Views::GiveSlot(Client &receiver, Client &aircraft, int slot) {
    receiver.slots[static_cast<std::size_t>(slot)] = &aircraft;
    aircraft.viewers.push_back({&receiver, slot});
    std::string prefix = std::to_string(slot);
    std::string message = prefix + "|c|" + aircraft.callsign + "\n" + prefix + "|I|" +
                          crews_.TextFor(receiver, aircraft) + "\n" + prefix + "|p|" + aircraft.plane + "\n";
    transport_.SendStream(receiver.connection, message);
    // Its last known state at once, rather than wherever the slot's previous aircraft was left.
    if (receiver.hasEndpoint && !aircraft.location.empty()) {
        OutboundDatagram datagram{receiver.endpoint, SlotPrefix(slot), aircraft.location};
        transport_.SendDatagrams(&datagram, 1);
    }
}

void Views::FreeSlot(Client &receiver, int slot, bool tell) {
    Client *aircraft = receiver.slots[static_cast<std::size_t>(slot)];
    receiver.slots[static_cast<std::size_t>(slot)] = nullptr;
    if (!aircraft) return;
    auto &viewers = aircraft->viewers;
    for (std::size_t i = 0; i < viewers.size(); ++i) {
        if (viewers[i].receiver == &receiver && viewers[i].slot == slot) {
            viewers[i] = viewers.back();
            viewers.pop_back();
            break;
        }
    }
    if (!tell) return;
    std::string prefix = std::to_string(slot);
    transport_.SendStream(receiver.connection, prefix + "|c|BLANK\n" + prefix + "|I|BLANK\n" + prefix + "|p|BLANK\n");
}

}  // namespace server
