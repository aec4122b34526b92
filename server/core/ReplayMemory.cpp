// The replay memory: digests of accepted login lines, bounded per account and in bytes.
#include "server/core/ReplayMemory.h"

#include <openssl/evp.h>

#include <algorithm>
#include <string>

namespace server {

namespace {

// What one remembered line costs in the containers, allocator overhead included (an estimate that
// errs high): its map node and bucket, its place in its account's list (with the slack a vector keeps)
// and in the global order.
constexpr std::size_t kEntryBytes = 96 + 2 * sizeof(ReplayMemory::Key);
// An account's map node, bucket and empty list.
constexpr std::size_t kAccountBytes = 80;

std::uint64_t AccountOf(std::string_view user) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(user.data(), user.size(), digest, &length, EVP_sha256(), nullptr);
    std::uint64_t account = 0;
    for (int i = 0; i < 8; ++i) account = account << 8 | digest[i];
    return account;
}

}  // namespace

ReplayMemory::ReplayMemory(std::size_t capacityBytes, std::size_t perAccount, Clock::duration window)
    : capacityBytes_(capacityBytes), perAccount_(std::max<std::size_t>(perAccount, 1)), window_(window) {}

ReplayMemory::Key ReplayMemory::KeyOf(int uniqueId, std::string_view user, std::string_view digest) {
    // The user's length goes first, so no user and digest pair reads as another.
    std::string input = std::to_string(uniqueId) + "|" + std::to_string(user.size()) + "|";
    input.append(user);
    input += '|';
    // Digits in either case are the same digest.
    for (char c : digest) input.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    unsigned char digestBytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(input.data(), input.size(), digestBytes, &length, EVP_sha256(), nullptr);
    Key key;
    std::copy(digestBytes, digestBytes + key.size(), key.begin());
    return key;
}

ReplayMemory::Verdict ReplayMemory::Check(const Key &key, std::uint32_t address, TimePoint now) const {
    auto found = entries_.find(key);
    if (found == entries_.end()) return Verdict::Unseen;
    const Entry &entry = found->second;
    if (entry.address != address) return Verdict::OtherAddress;
    if (!entry.live && now - entry.ended > window_) return Verdict::Expired;
    return Verdict::Known;
}

void ReplayMemory::Accept(const Key &key, std::string_view user, std::uint32_t address) {
    auto [found, added] = entries_.try_emplace(key);
    Entry &entry = found->second;
    entry.address = address;
    entry.live = true;
    if (!added) return;
    entry.account = AccountOf(user);
    entry.sequence = nextSequence_++;
    order_.push_back({key, entry.sequence});
    std::vector<Key> &lines = accounts_[entry.account];
    lines.push_back(key);
    if (lines.size() > perAccount_) ForgetOldestOfAccount(entry.account);
    while (Bytes() > capacityBytes_ && ForgetOldest()) {
    }
    // Positions of forgotten lines are dropped from the order now and then, so it never outgrows them.
    if (order_.size() > 2 * entries_.size() + 1024) Compact();
}

void ReplayMemory::End(const Key &key, TimePoint now) {
    auto found = entries_.find(key);
    if (found == entries_.end()) return;
    found->second.live = false;
    found->second.ended = now;
}

std::size_t ReplayMemory::Bytes() const {
    return entries_.size() * kEntryBytes + accounts_.size() * kAccountBytes + order_.size() * sizeof(Ordered);
}

void ReplayMemory::Forget(std::unordered_map<Key, Entry, KeyHash>::iterator entry) {
    auto account = accounts_.find(entry->second.account);
    if (account != accounts_.end()) {
        std::vector<Key> &lines = account->second;
        lines.erase(std::find(lines.begin(), lines.end(), entry->first));
        if (lines.empty()) {
            accounts_.erase(account);
        } else if (lines.capacity() > 2 * lines.size() + 8) {
            lines.shrink_to_fit();
        }
    }
    entries_.erase(entry);
}

void ReplayMemory::ForgetOldestOfAccount(std::uint64_t account) {
    const std::vector<Key> &lines = accounts_[account];
    for (const Key &key : lines) {
        auto entry = entries_.find(key);
        if (entry != entries_.end() && !entry->second.live) {
            Forget(entry);
            return;
        }
    }
}

bool ReplayMemory::ForgetOldest() {
    // A live line goes to the back: its session may end any time, and it must be remembered then.
    for (std::size_t rounds = order_.size(); rounds > 0; --rounds) {
        Ordered oldest = order_.front();
        order_.pop_front();
        auto entry = entries_.find(oldest.key);
        if (entry == entries_.end() || entry->second.sequence != oldest.sequence) continue;
        if (entry->second.live) {
            order_.push_back(oldest);
            continue;
        }
        Forget(entry);
        return true;
    }
    return false;
}

void ReplayMemory::Compact() {
    std::deque<Ordered> kept;
    for (const Ordered &position : order_) {
        auto entry = entries_.find(position.key);
        if (entry != entries_.end() && entry->second.sequence == position.sequence) kept.push_back(position);
    }
    order_.swap(kept);
}

}  // namespace server
