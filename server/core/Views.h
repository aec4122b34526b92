// What each receiver sees: the aircraft in its slots, re-evaluated now and then, and the slot messages and
// location datagrams that keep its slots current.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/RelayClient.h"
#include "server/core/RelayLimits.h"
#include "server/core/Transport.h"
#include "server/core/ViewPlanner.h"

namespace server {

class Crews;

// The plug-in reads at most this many bytes of a datagram; a longer one would reach it cut short.
constexpr std::size_t kMaxDatagram = 1400;

// "<slot>|l|", the prefix of a location datagram for that slot.
inline const std::string &SlotPrefix(int slot) {
    static const std::array<std::string, kSlotCount> prefixes = [] {
        std::array<std::string, kSlotCount> all;
        for (int i = 0; i < kSlotCount; ++i) all[static_cast<std::size_t>(i)] = std::to_string(i) + "|l|";
        return all;
    }();
    return prefixes[static_cast<std::size_t>(slot)];
}

// Whether location fields fit a datagram behind the longest slot prefix.
inline bool FitsDatagram(std::string_view fields) {
    return fields.size() + SlotPrefix(kSlotCount - 1).size() <= kMaxDatagram;
}

// Tells `receiver` one text of the aircraft in `slot` ('c' callsign, 'I' crew, 'p' model).
void SendSlotText(Transport &transport, const Client &receiver, int slot, char type, std::string_view text);

class Views {
public:
    Views(Transport &transport, const RelayLimits &limits, const Clients &clients, const Crews &crews);

    // Something that decides who sees whom changed: the views are re-evaluated at the next tick.
    void MarkDirty() { dirty_ = true; }
    // Called with the relay's tick: re-evaluates when marked, and every viewPeriod as aircraft move.
    void Tick(TimePoint now) {
        if (dirty_ || now - lastRefresh_ >= limits_.viewPeriod) Refresh(now);
    }
    // Tells every receiver showing `aircraft` one of its texts.
    void SendToViewers(const Client &aircraft, char type, const std::string &text);
    // Sends `aircraft`'s latest location to every receiver showing it.
    void SendLocation(Client &aircraft);
    // `client` goes: it leaves every slot it is shown in, and is no longer a viewer of the others.
    void Detach(Client &client);
    // `receiver` is handed slots 1..`aircraft` from now on (1 to kMostAircraft). Fewer than before: the slots
    // above are let go (BLANK) at once; more: the newcomers come at the next evaluation.
    void SetShownAircraft(Client &receiver, int aircraft, TimePoint now);
    // The slot in which `receiver` shows `aircraft` (0: not shown).
    int SlotOf(const Client &receiver, const Client &aircraft) const;

private:
    void Refresh(TimePoint now);
    void RefreshView(Client &receiver, TimePoint now);
    void GiveSlot(Client &receiver, Client &aircraft, int slot);
    // `tell`: the receiver is sent BLANK texts for it (not when the slot is given to another aircraft at once).
    void FreeSlot(Client &receiver, int slot, bool tell);

    Transport &transport_;
    const RelayLimits &limits_;
    const Clients &clients_;
    const Crews &crews_;
    bool dirty_ = false;
    TimePoint lastRefresh_{};
    std::vector<OutboundDatagram> batch_;
    std::vector<ViewCandidate> candidates_;
    std::vector<Client *> candidateClients_;
    std::vector<std::size_t> newcomers_;
};

}  // namespace server
