// Callsigns nobody else shows: who shows which name, on this node and (as far as it has heard) across the
// network, so that no pilot can pass for another on a screen, on the map or in chat.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace server {

// The form two names are compared in: without surrounding spaces, letters in lower case, and the Greek,
// Cyrillic and full-width letters that look like Latin ones as those ("ΑNNA" with a Greek Alpha is "anna").
std::string FoldedName(std::string_view name);

// Only the relay's thread touches it. Entries are kept by unique ID, apart from the client records: an
// aircraft of another node that this node stops tracking still holds its name until it leaves.
class Callsigns {
public:
    // `uniqueId` asks to be shown as `wanted` (a relayed text), which it first asked for at `since`
    // (wall-clock microseconds: every node ranks alike). Returns the name it is shown as: `wanted`, unless
    // someone who asked for that name earlier, or whoever shows it already under a name of its own, has
    // it; then `wanted` with the first free " (2)", " (3)"... Whoever asked for `wanted` later but shows
    // it loses it: their IDs go to `displaced`, to be settled again. The same name spelt anew keeps what it
    // shows.
    std::string Settle(int uniqueId, const std::string &wanted, std::uint64_t since, std::vector<int> *displaced);
    // Settles `uniqueId` again with what it asked for last (it was displaced). Empty when it has no entry.
    std::string Resettle(int uniqueId, std::vector<int> *displaced);
    // It leaves, or shows no name: its name is free.
    void Release(int uniqueId);

private:
    struct Entry {
        std::string wanted;
        std::string wantedKey;
        std::uint64_t since = 0;
        std::string shown;
        std::string shownKey;
    };
    std::unordered_map<int, Entry> entries_;
    std::unordered_map<std::string, int> holders_;  // folded name shown: who shows it
};

}  // namespace server
