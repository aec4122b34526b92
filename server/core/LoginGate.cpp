// The login gate's records of source addresses, newcomers, login lines and checks under way.
#include "server/core/LoginGate.h"

#include <algorithm>
#include <chrono>

namespace server {

namespace {

// Source addresses remembered for failed logins; past this the idle ones are forgotten early.
constexpr std::size_t kMaxAddressRecords = 16384;
// How long an address's failed logins count towards a longer cooling-off.
constexpr auto kFailureMemory = std::chrono::hours(1);

}  // namespace

LoginGate::LoginGate(const RelayLimits &limits)
    : limits_(limits), seenLogins_(limits.replayMemoryBytes, limits.replayPerAccount, limits.replayWindow) {}

LoginGate::Entry LoginGate::Enter(std::uint32_t address, TimePoint now) {
    AddressRecord &record = addresses_[address];
    if (now < record.coolingUntil) return Entry::CoolingOff;
    // One address cannot hold the server's connections hostage with idle ones that never log in.
    if (record.pending >= limits_.maxPendingPerAddress) return Entry::TooManyPending;
    return Entry::Open;
}

// Connections that sent nothing yet may hold only the unreserved places: past that, or when every place
// is taken, the oldest of them gives way, so idle connections from many addresses cannot lock newcomers
// out. Those logging in or logged in are never pushed out.
std::optional<ConnectionId> LoginGate::GivingWay(std::size_t open) const {
    std::size_t reserved = std::min(limits_.reservedClients, limits_.maxClients - 1);
    bool full = open >= limits_.maxClients;
    if ((full || waiting_.size() >= limits_.maxClients - reserved) && !waiting_.empty()) {
        return waiting_.begin()->second;
    }
    return std::nullopt;
}

void LoginGate::Arrive(Connection &connection) {
    ++addresses_[connection.address].pending;
    connection.arrival = ++nextArrival_;
    waiting_.emplace(connection.arrival, connection.id);
}

const char *LoginGate::TakeLoginLine(Connection &connection, const StreamMessage &message, TimePoint now) {
    waiting_.erase(connection.arrival);
    connection.loginId = message.uniqueId;
    connection.loginUser.assign(message.text);
    AddressRecord &record = addresses_[connection.address];
    if (now < record.coolingUntil) return "cooling off after failed logins";
    // The protocol has no challenge from the server, so a login line seen on the wire can be sent again.
    // It is only taken from the address that first used it, while that session runs or shortly after.
    connection.loginKey = ReplayMemory::KeyOf(message.uniqueId, connection.loginUser, message.digest);
    switch (seenLogins_.Check(connection.loginKey, connection.address, now)) {
        case ReplayMemory::Verdict::OtherAddress:
            return "this login line was first used from another address";
        case ReplayMemory::Verdict::Expired:
            return "this login line has expired (the plug-in must be restarted)";
        case ReplayMemory::Verdict::Unseen:
        case ReplayMemory::Verdict::Known:
            break;
    }
    connection.ticket = nextTicket_++;
    checking_.emplace(connection.ticket, connection.id);
    return nullptr;
}

std::optional<ConnectionId> LoginGate::Checked(std::uint64_t ticket) {
    auto found = checking_.find(ticket);
    if (found == checking_.end()) return std::nullopt;
    ConnectionId id = found->second;
    checking_.erase(found);
    return id;
}

Clock::duration LoginGate::CoolingLeft(std::uint32_t address, TimePoint now) const {
    auto found = addresses_.find(address);
    if (found == addresses_.end() || now >= found->second.coolingUntil) return Clock::duration::zero();
    return found->second.coolingUntil - now;
}

Clock::duration LoginGate::CountFailure(std::uint32_t address, TimePoint now) {
    AddressRecord &record = addresses_[address];
    if (now - record.failureWindow >= std::chrono::minutes(1)) {
        record.failureWindow = now;
        record.failures = 0;
    }
    if (now - record.lastFailure >= kFailureMemory) record.coolOffs = 0;
    record.lastFailure = now;
    if (++record.failures < limits_.maxLoginFailures) return Clock::duration::zero();
    record.failures = 0;
    int doublings = std::min(record.coolOffs++, 6);
    Clock::duration coolOff = limits_.loginCoolOff * (1 << doublings);
    record.coolingUntil = now + coolOff;
    return coolOff;
}

void LoginGate::LoggedIn(Connection &connection) {
    ReleasePending(connection);
    seenLogins_.Accept(connection.loginKey, connection.loginUser, connection.address);
}

void LoginGate::Leave(Connection &connection) {
    if (connection.ticket != 0) checking_.erase(connection.ticket);
    waiting_.erase(connection.arrival);
    ReleasePending(connection);
}

void LoginGate::ReleasePending(Connection &connection) {
    if (!connection.pending) return;
    connection.pending = false;
    auto record = addresses_.find(connection.address);
    if (record != addresses_.end() && record->second.pending > 0) --record->second.pending;
}

void LoginGate::Tick(TimePoint now) {
    if (now - lastExpiry_ >= std::chrono::seconds(1)) ExpireRecords(now);
}

// Forgets addresses with nothing left to remember.
void LoginGate::ExpireRecords(TimePoint now) {
    lastExpiry_ = now;
    bool crowded = addresses_.size() > kMaxAddressRecords;
    for (auto it = addresses_.begin(); it != addresses_.end();) {
        const AddressRecord &record = it->second;
        bool idle = record.pending == 0 && now >= record.coolingUntil;
        bool failed = record.failures > 0 || record.coolOffs > 0;
        if (idle && (crowded || !failed || now - record.lastFailure >= kFailureMemory)) {
            it = addresses_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace server
