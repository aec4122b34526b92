// The relay's door: which source addresses may connect and try a login, which newcomer gives way when the
// places run out, and whether a login line may be checked at all. It decides; the relay closes and sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <unordered_map>

#include "server/core/ClientMessage.h"
#include "server/core/RelayClient.h"
#include "server/core/RelayLimits.h"
#include "server/core/ReplayMemory.h"
#include "server/core/Transport.h"

namespace server {

class LoginGate {
public:
    explicit LoginGate(const RelayLimits &limits);

    enum class Entry {
        Open,
        CoolingOff,      // after failed logins
        TooManyPending,  // maxPendingPerAddress connections of the address have not logged in
    };
    // Whether `address` may open another connection now.
    Entry Enter(std::uint32_t address, TimePoint now);
    // The connection that must give way before one more can open while `open` are open, if any.
    std::optional<ConnectionId> GivingWay(std::size_t open) const;
    // A connection opened: it counts among its address's connections not logged in, and waits for its
    // login line among the newcomers.
    void Arrive(Connection &connection);
    // Its login line: why it is refused (not counting as a failed login), or nullptr when it gets a
    // ticket for the check of its user and digest.
    const char *TakeLoginLine(Connection &connection, const StreamMessage &message, TimePoint now);
    // The connection whose check has that ticket, once: nothing when it went meanwhile.
    std::optional<ConnectionId> Checked(std::uint64_t ticket);
    // How long `address` is still refused after failed logins (zero: it is not).
    Clock::duration CoolingLeft(std::uint32_t address, TimePoint now) const;
    // A failed login from `address`: the cooling-off it starts, or zero.
    Clock::duration CountFailure(std::uint32_t address, TimePoint now);
    // Its login is in: the address has one connection fewer waiting, and its login line is taken.
    void LoggedIn(Connection &connection);
    // The session of a login line ended: the line stays good from its address for the replay window.
    void SessionEnded(const ReplayMemory::Key &key, TimePoint now) { seenLogins_.End(key, now); }
    // The connection is gone: whatever it held here is given back.
    void Leave(Connection &connection);
    // Called with the relay's tick: forgets, once a second, the addresses with nothing left to remember.
    void Tick(TimePoint now);

private:
    // What the relay remembers of one source address: its connections not logged in, and its failed logins.
    struct AddressRecord {
        std::size_t pending = 0;
        int failures = 0;  // in the minute since failureWindow
        TimePoint failureWindow{};
        TimePoint lastFailure{};
        TimePoint coolingUntil{};
        int coolOffs = 0;  // in a row, for the growing cooling-off
    };

    void ReleasePending(Connection &connection);
    void ExpireRecords(TimePoint now);

    const RelayLimits &limits_;
    std::unordered_map<std::uint32_t, AddressRecord> addresses_;
    std::map<std::uint64_t, ConnectionId> waiting_;  // connections that sent no login line yet, oldest first
    std::uint64_t nextArrival_ = 0;
    ReplayMemory seenLogins_;
    std::unordered_map<std::uint64_t, ConnectionId> checking_;  // login checks under way, by ticket
    std::uint64_t nextTicket_ = 1;
    TimePoint lastExpiry_{};
};

}  // namespace server
