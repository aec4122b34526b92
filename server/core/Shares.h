// What the sessions of one account, and the sessions of one address, share: how many there are, and the
// budgets of chat and relayed location bytes they draw on together, so that many sessions get no more
// than one, and a session logging in again gets no fresh burst.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "server/core/RelayLimits.h"
#include "server/core/TokenBucket.h"
#include "server/core/Transport.h"

namespace server {

struct Share {
    Share(double chatRate, double chatBurst, double bytesPerSecond)
        : chat(chatRate, chatBurst), locationBytes(bytesPerSecond, bytesPerSecond) {}
    std::size_t sessions = 0;
    TokenBucket chat;
    TokenBucket locationBytes;  // drawn on by accounts only
};

// Only the relay's thread touches it. A share lives while a session uses it, and after the last one has
// gone until its budgets are full again, so leaving and logging in again gives no fresh burst.
class Shares {
public:
    explicit Shares(const RelayLimits &limits);

    // Sessions logged in now from `address`.
    std::size_t SessionsAt(std::uint32_t address) const;
    // A session of `user` from `address` starts or ends.
    void Join(const std::string &user, std::uint32_t address, Share **account, Share **from);
    void Leave(Share *account, Share *from);
    // The limits changed (a reload): every share takes the new rates, keeping what it has saved up.
    void SetRates();
    // Forgets shares that no session uses and whose budgets are full again.
    void Prune(TimePoint now);

    // The chat budget of the whole server.
    TokenBucket &ServerChat() { return serverChat_; }

private:
    const RelayLimits &limits_;
    std::unordered_map<std::string, std::unique_ptr<Share>> accounts_;
    std::unordered_map<std::uint32_t, std::unique_ptr<Share>> addresses_;
    TokenBucket serverChat_;
};

}  // namespace server
