// Settling the names pilots are shown as, first come first served.
#include "server/core/Callsigns.h"

#include "server/core/RelayClient.h"
#include "server/core/Text.h"

namespace server {

namespace {

std::string_view Trimmed(std::string_view name) {
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    return name;
}

// The name the server signs its own chat lines with ("Server: ..."): no pilot shows it unsuffixed.
constexpr std::string_view kServerName = "server";

}  // namespace

std::string FoldedName(std::string_view name) {
    std::string folded(Trimmed(name));
    for (char &c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

void Callsigns::Release(int uniqueId) {
    auto found = entries_.find(uniqueId);
    if (found == entries_.end()) return;
    auto holder = holders_.find(found->second.shownKey);
    if (holder != holders_.end() && holder->second == uniqueId) holders_.erase(holder);
    entries_.erase(found);
}

std::string Callsigns::Resettle(int uniqueId, std::vector<int> *displaced) {
    auto found = entries_.find(uniqueId);
    if (found == entries_.end()) return {};
    Entry entry = found->second;
    Release(uniqueId);
    return Settle(uniqueId, entry.wanted, entry.since, displaced);
}

std::string Callsigns::Settle(int uniqueId, const std::string &wanted, std::uint64_t since,
                              std::vector<int> *displaced) {
    std::string key = FoldedName(wanted);
    auto current = entries_.find(uniqueId);
    auto holder = current != entries_.end() ? holders_.find(current->second.shownKey) : holders_.end();
    if (current != entries_.end() && current->second.wantedKey == key && holder != holders_.end() &&
        holder->second == uniqueId) {
        // The same name spelt anew: it keeps what it shows (in the new spelling, when that is the name).
        Entry &entry = current->second;
        entry.wanted = wanted;
        if (entry.shownKey == key) entry.shown = wanted;
        return entry.shown;
    }
    Release(uniqueId);
    Entry entry{wanted, key, since, {}, {}};
    std::string shown = wanted;
    holder = holders_.find(entry.wantedKey);
    bool reserved = entry.wantedKey == kServerName;
    if (reserved || holder != holders_.end()) {
        bool earlier = false;
        if (!reserved) {
            const Entry &other = entries_[holder->second];
            earlier = other.wantedKey == entry.wantedKey &&
                      (since != other.since ? since < other.since : uniqueId < holder->second);
        }
        if (earlier) {
            // It asked first: the one showing the name now is settled again, with a suffix.
            displaced->push_back(holder->second);
            holders_.erase(holder);
        } else {
            // Room for the suffix within the longest relayed text, cut where a character starts.
            std::string base = StreamText(Trimmed(wanted), kMaxText - 12);
            for (std::size_t n = 2;; ++n) {
                shown = base + " (" + std::to_string(n) + ")";
                if (holders_.count(FoldedName(shown)) == 0) break;
            }
        }
    }
    entry.shownKey = FoldedName(shown);
    entry.shown = shown;
    holders_[entry.shownKey] = uniqueId;
    entries_[uniqueId] = std::move(entry);
    return shown;
}

}  // namespace server
