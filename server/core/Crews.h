// Crew ownership: which pilot holds each crew ID, and the crew text each receiver is told of an aircraft.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "server/core/LogLimiter.h"
#include "server/core/RelayClient.h"
#include "server/core/Transport.h"

namespace server {

class Crews {
public:
    Crews(Transport &transport, const Clients &clients, LogBudget &budget);

    // Puts `client` in `crew` at `position` (0: its pilot), passes on a crew it no longer flies, and tells
    // the receivers whose crew texts change. `since`: when it named that crew in the pilot's seat (wall-clock
    // microseconds; another node's aircraft brings its own). The caller re-evaluates the views after it.
    void Set(Client &client, std::string crew, int position, bool crewedWithoutId, std::uint64_t since, TimePoint now);
    // `leaving` goes: a crew it holds passes to its next pilot. The caller re-evaluates the views after it.
    void Leave(const Client &leaving, TimePoint now);
    // The crew `client` counts in: its crew ID, unless it calls itself pilot of a crew another one holds.
    const std::string &EffectiveCrew(const Client &client) const;
    // The crew text `receiver` is told about `aircraft`.
    std::string TextFor(const Client &receiver, const Client &aircraft) const;

private:
    void Claim(Client &client, TimePoint now);
    void HandOver(const std::string &crew, const Client &leaving, TimePoint now);
    void Resend(Client &client);

    Transport &transport_;
    const Clients &clients_;
    std::unordered_map<std::string, Client *> owners_;  // crew ID: its first pilot, while connected
    LogLimiter log_{std::chrono::seconds(1), 10};
};

}  // namespace server
