// Counts of what the relay server receives, relays and drops, which operators graph through /metrics.
#pragma once

#include <array>
#include <cstdint>

#include "server/core/Transport.h"

namespace server {

// Upper bounds, in microseconds, of the relay-latency buckets; one more bucket takes everything slower.
constexpr std::array<std::uint32_t, 10> kLatencyBoundsMicros{10, 25, 50, 100, 250, 500, 1000, 2500, 10000, 50000};

// Why a login, or a connection before its login, was turned away.
enum class Refusal : std::size_t {
    NotALogin,       // the first line was no login
    CoolingOff,      // its address failed too often
    TooManyPending,  // its address has too many connections not logged in
    ServerFull,      // the connection limit
    Replayed,        // a login line seen before, from elsewhere or too long ago
    Credentials,     // unknown user or wrong password
    InUse,           // the unique ID is logged in by someone else
    Unavailable,     // the accounts file or the network's login store could not answer
    Network,         // another node holds the login
    Draining,        // the server is stopping
    AddressFull,     // its address has as many sessions logged in as it may
    Banned,          // an operator banned its user ID or address
    Count
};
constexpr const char *kRefusalNames[] = {"not_a_login", "cooling_off", "too_many_pending", "server_full",
                                         "replayed",    "credentials", "in_use",           "unavailable",
                                         "network",     "draining",    "address_full",     "banned"};
static_assert(sizeof kRefusalNames / sizeof kRefusalNames[0] == static_cast<std::size_t>(Refusal::Count));

// Plain integers, not atomics: only the event-loop thread writes them, and the web observer reads the
// copies that the loop hands over with each traffic snapshot.
struct RelayCounters {
    std::uint64_t datagramsIn = 0;
    std::uint64_t datagramsOut = 0;
    std::uint64_t streamMessagesIn = 0;   // lines read from clients, logins included
    std::uint64_t streamMessagesOut = 0;  // lines queued to clients

    // Datagrams dropped, by reason.
    std::uint64_t datagramsMalformed = 0;      // not a location message
    std::uint64_t datagramsUnknownSender = 0;  // no such client, or not from the client's address and port
    std::uint64_t datagramsTooLong = 0;        // longer than a plug-in's (or than receivers read)
    std::uint64_t datagramsUnplaceable = 0;    // a position off the earth
    std::uint64_t datagramsOverRate = 0;       // over the per-client rate (thinned, the latest still goes)
    std::uint64_t datagramsUnsent = 0;         // the system could not take them
    std::uint64_t linesMalformed = 0;          // stream lines that are no message, or carry another ID
    std::uint64_t chatOverRate = 0;            // chat lines over the sender's share, dropped
    std::uint64_t identityOverRate = 0;        // callsign, crew or model changes held back by their rate

    // Connections the server ended, by reason.
    std::uint64_t closedSlowReader = 0;   // stopped reading what it is sent
    std::uint64_t closedLongLine = 0;     // a line over the length limit
    std::uint64_t closedSilent = 0;       // silence timeout
    std::uint64_t closedNoLogin = 0;      // login timeout
    std::uint64_t closedForNewcomer = 0;  // had sent no login line, and gave its place to a newcomer
    std::uint64_t refusedOverLimit = 0;   // over the connection limit
    std::uint64_t loginsRefused = 0;      // unknown user, wrong password, or unique ID in use
    std::uint64_t logins = 0;             // accepted
    std::array<std::uint64_t, static_cast<std::size_t>(Refusal::Count)> refusals{};

    void Refused(Refusal why) { ++refusals[static_cast<std::size_t>(why)]; }

    // Relay latency, one count per relayed datagram: from the arrival on the server's socket of the datagram
    // it relays to the system taking it.
    std::array<std::uint64_t, kLatencyBoundsMicros.size() + 1> latencyBuckets{};
    std::uint64_t latencyNanosTotal = 0;

    void RecordLatency(Clock::duration latency) {
        auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(latency).count();
        if (nanos < 0) nanos = 0;
        latencyNanosTotal += static_cast<std::uint64_t>(nanos);
        std::size_t bucket = 0;
        while (bucket < kLatencyBoundsMicros.size() &&
               static_cast<std::uint64_t>(nanos) > std::uint64_t{kLatencyBoundsMicros[bucket]} * 1000u) {
            ++bucket;
        }
        ++latencyBuckets[bucket];
    }
};

}  // namespace server
