// Settling the names pilots are shown as, first come first served.
#include "server/core/Callsigns.h"

#include <algorithm>
#include <iterator>

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

// Letters of other scripts drawn like a Latin letter or digit in the fonts pilots see (Greek and Cyrillic
// capitals and the common small ones, full-width forms apart), by code point: what they fold to.
struct Lookalike {
    char32_t code;
    char ascii;
};
constexpr Lookalike kLookalikes[] = {
    {0x0391, 'a'}, {0x0392, 'b'}, {0x0395, 'e'}, {0x0396, 'z'}, {0x0397, 'h'}, {0x0399, 'i'}, {0x039a, 'k'},
    {0x039c, 'm'}, {0x039d, 'n'}, {0x039f, 'o'}, {0x03a1, 'p'}, {0x03a4, 't'}, {0x03a5, 'y'}, {0x03a7, 'x'},
    {0x03bf, 'o'}, {0x0405, 's'}, {0x0406, 'i'}, {0x0408, 'j'}, {0x0410, 'a'}, {0x0412, 'b'}, {0x0415, 'e'},
    {0x041a, 'k'}, {0x041c, 'm'}, {0x041d, 'h'}, {0x041e, 'o'}, {0x0420, 'p'}, {0x0421, 'c'}, {0x0422, 't'},
    {0x0423, 'y'}, {0x0425, 'x'}, {0x0430, 'a'}, {0x0435, 'e'}, {0x043e, 'o'}, {0x0440, 'p'}, {0x0441, 'c'},
    {0x0443, 'y'}, {0x0445, 'x'}, {0x0455, 's'}, {0x0456, 'i'}, {0x0458, 'j'}, {0x04c0, 'i'},
};

char FoldedAscii(char32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    // Full-width forms of the ASCII letters, digits and signs (U+FF01..U+FF5E).
    if (c >= 0xff01 && c <= 0xff5e) return FoldedAscii(c - 0xff01 + 0x21);
    auto found = std::lower_bound(std::begin(kLookalikes), std::end(kLookalikes), c,
                                  [](const Lookalike &l, char32_t code) { return l.code < code; });
    return found != std::end(kLookalikes) && found->code == c ? found->ascii : '\0';
}

}  // namespace

std::string FoldedName(std::string_view name) {
    std::string folded;
    name = Trimmed(name);
    while (!name.empty()) {
        std::size_t length = 1;
        char ascii = FoldedAscii(DecodeUtf8(name, &length));
        if (ascii != '\0') {
            folded.push_back(ascii);
        } else {
            folded.append(name.substr(0, length));
        }
        name.remove_prefix(length);
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
