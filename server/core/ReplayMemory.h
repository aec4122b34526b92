// The login lines the relay has accepted, remembered so that one seen on the wire cannot be sent again
// from elsewhere: a fixed-size digest of each, within a capacity counted in bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/core/Transport.h"

namespace server {

class ReplayMemory {
public:
    // 128 bits of SHA-256 over the line's unique ID, user and digest: no outsider can make two lines collide.
    using Key = std::array<std::uint8_t, 16>;

    enum class Verdict {
        Unseen,        // never accepted, or forgotten
        Known,         // first used from this address, and live or ended within the window
        OtherAddress,  // first used from another address
        Expired,       // from this address, but its session ended longer ago than the window
    };

    // Each account keeps up to `perAccount` lines however busy the others are: past that share, only that
    // account's own oldest ended line is forgotten. `capacityBytes` bounds everything; it is reached only
    // when many accounts log in, and then the oldest ended line of any account goes.
    ReplayMemory(std::size_t capacityBytes, std::size_t perAccount, Clock::duration window);

    static Key KeyOf(int uniqueId, std::string_view user, std::string_view digest);

    Verdict Check(const Key &key, std::uint32_t address, TimePoint now) const;
    // The line's session starts (again) from `address`.
    void Accept(const Key &key, std::string_view user, std::uint32_t address);
    // Its session ended at `now`.
    void End(const Key &key, TimePoint now);

    std::size_t Size() const { return entries_.size(); }
    // What it holds, by the same estimate that is held to the capacity.
    std::size_t Bytes() const;

private:
    struct KeyHash {
        std::size_t operator()(const Key &key) const {
            std::size_t value;
            std::memcpy(&value, key.data(), sizeof value);
            return value;
        }
    };
    struct Entry {
        std::uint64_t account = 0;
        std::uint64_t sequence = 0;  // tells a live position in order_ from a stale one
        TimePoint ended{};
        std::uint32_t address = 0;
        bool live = false;
    };
    struct Ordered {
        Key key;
        std::uint64_t sequence;
    };

    void Forget(std::unordered_map<Key, Entry, KeyHash>::iterator entry);
    void ForgetOldestOfAccount(std::uint64_t account);
    bool ForgetOldest();
    void Compact();

    std::size_t capacityBytes_, perAccount_;
    Clock::duration window_;
    std::unordered_map<Key, Entry, KeyHash> entries_;
    std::unordered_map<std::uint64_t, std::vector<Key>> accounts_;  // each account's lines, oldest first
    std::deque<Ordered> order_;                                     // every line, oldest first
    std::uint64_t nextSequence_ = 1;
};

}  // namespace server
