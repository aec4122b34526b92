// Who may not log in: user IDs and IPv4 addresses or networks the operator banned, for a while or for good.
//
// A login is checked against every ban, so the check is a hash lookup for the user and one for each
// network length in use (at most 33), whatever the number of bans.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace server {

struct Ban {
    std::string target;         // as shown and stored: the user ID, "A.B.C.D" or "A.B.C.D/N"
    bool address = false;       // an address or network, not a user ID
    std::uint32_t network = 0;  // host byte order, masked to `prefix` bits
    int prefix = 32;
    std::int64_t since = 0;  // seconds since 1970
    std::int64_t until = 0;  // seconds since 1970; 0: for good
    std::string by;          // who banned, for the log and `bans`
    std::string reason;
};

// Longest ban with an end, and longest reason: past them an operator has typed something else.
constexpr std::int64_t kLongestBanSeconds = 10LL * 366 * 86400;
constexpr std::size_t kMaxBanReason = 200;

// Reads a target: "A.B.C.D" or "A.B.C.D/N" (N 0 to 32, the host bits must be zero) is an address or a
// network, anything else a user ID (which `accounts add` would take). False, with `error` saying why, for
// anything else.
bool ParseBanTarget(std::string_view text, Ban *ban, std::string *error);

// "90s", "30m", "12h", "7d", "2w" (a whole number and its unit), at least a second and at most
// kLongestBanSeconds. False for anything else.
bool ParseBanDuration(std::string_view text, std::int64_t *seconds);

class BanList {
public:
    // Adds a ban, or replaces the one on the same target.
    void Add(const Ban &ban);
    // False when that target was not banned.
    bool Remove(std::string_view target);
    // The ban on the target of `parsed` (as ParseBanTarget reads it), ended or not; null when there is none.
    const Ban *Get(const Ban &parsed) const;
    // The ban that keeps a login of `user` from `address` out at `now`, or null; ended bans do not count.
    const Ban *Find(std::string_view user, std::uint32_t address, std::int64_t now) const;
    const Ban *FindAddress(std::uint32_t address, std::int64_t now) const;
    // Every ban in force, oldest first; ended ones are forgotten.
    std::vector<Ban> InForce(std::int64_t now);
    std::size_t Size() const;

    // The list as a file: one ban a line, "target<TAB>since<TAB>until<TAB>by<TAB>reason" (no field holds a
    // tab or a line break). Load replaces the list; false, with the line number in `error`, for a file that
    // is not one (the list is left as it was). A missing file is an empty list.
    std::string Serialize() const;
    bool Load(const std::string &path, std::string *error);
    // Writes the file whole (a new file renamed over the old, mode 0600). False, with `error`, on failure.
    bool Save(const std::string &path, std::string *error) const;

private:
    std::unordered_map<std::string, Ban> users_;
    std::array<std::unordered_map<std::uint32_t, Ban>, 33> networks_;  // by prefix length
    std::uint64_t prefixesInUse_ = 0;                                  // bit N: some ban of length N
};

}  // namespace server
