// The ban list, its targets and durations, and its file.
#include "server/core/BanList.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

#include "server/accounts/Authenticator.h"
#include "server/core/WholeFile.h"

namespace server {

namespace {

std::uint32_t Mask(int prefix) { return prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix); }

bool ReadWhole(std::string_view text, std::int64_t *value) {
    if (text.empty() || text.size() > 18) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return error == std::errc() && end == text.data() + text.size();
}

// Four decimal octets, no leading zeros beyond "0" itself.
bool ParseAddress(std::string_view text, std::uint32_t *address) {
    std::uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        std::size_t dot = part < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) return false;
        std::string_view octet = text.substr(0, dot);
        std::int64_t number = 0;
        if (octet.empty() || octet.size() > 3 || (octet.size() > 1 && octet[0] == '0') || !ReadWhole(octet, &number) ||
            number > 255) {
            return false;
        }
        value = value << 8 | static_cast<std::uint32_t>(number);
        text.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    *address = value;
    return text.empty();
}

std::string AddressString(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

bool InForceAt(const Ban &ban, std::int64_t now) { return ban.until == 0 || now < ban.until; }

}  // namespace

bool ParseBanTarget(std::string_view text, Ban *ban, std::string *error) {
    bool looksLikeAddress = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || c == '/';
    }) && text.find('.') != std::string_view::npos;
    if (!looksLikeAddress) {
        if (!IsValidUserId(text)) {
            *error = "not a user ID, an IPv4 address or a network (A.B.C.D/N)";
            return false;
        }
        ban->address = false;
        ban->target.assign(text);
        return true;
    }
    std::size_t slash = text.find('/');
    std::uint32_t address = 0;
    std::int64_t prefix = 32;
    if (!ParseAddress(text.substr(0, slash), &address) ||
        (slash != std::string_view::npos &&
         (!ReadWhole(text.substr(slash + 1), &prefix) || prefix < 0 || prefix > 32))) {
        *error = "not an IPv4 address or network: give A.B.C.D or A.B.C.D/N with N from 0 to 32";
        return false;
    }
    int length = static_cast<int>(prefix);
    if ((address & ~Mask(length)) != 0) {
        *error = "the network's host bits are not zero (did you mean " + AddressString(address & Mask(length)) + "/" +
                 std::to_string(length) + "?)";
        return false;
    }
    ban->address = true;
    ban->network = address;
    ban->prefix = length;
    ban->target = AddressString(address) + (length == 32 ? "" : "/" + std::to_string(length));
    return true;
}

bool ParseBanDuration(std::string_view text, std::int64_t *seconds) {
    if (text.size() < 2) return false;
    std::int64_t unit = 0;
    switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        case 'w':
            unit = 7 * 86400;
            break;
        default:
            return false;
    }
    std::int64_t count = 0;
    if (!ReadWhole(text.substr(0, text.size() - 1), &count) || count <= 0 || count > kLongestBanSeconds / unit) {
        return false;
    }
    *seconds = count * unit;
    return true;
}

void BanList::Add(const Ban &ban) {
    if (!ban.address) {
        users_[ban.target] = ban;
        return;
    }
    networks_[static_cast<std::size_t>(ban.prefix)][ban.network] = ban;
    prefixesInUse_ |= std::uint64_t{1} << ban.prefix;
}

bool BanList::Remove(std::string_view target) {
    Ban parsed;
    std::string error;
    if (!ParseBanTarget(target, &parsed, &error)) return false;
    if (!parsed.address) return users_.erase(parsed.target) > 0;
    auto &networks = networks_[static_cast<std::size_t>(parsed.prefix)];
    bool removed = networks.erase(parsed.network) > 0;
    if (networks.empty()) prefixesInUse_ &= ~(std::uint64_t{1} << parsed.prefix);
    return removed;
}

const Ban *BanList::Get(const Ban &parsed) const {
    if (!parsed.address) {
        auto found = users_.find(parsed.target);
        return found == users_.end() ? nullptr : &found->second;
    }
    const auto &networks = networks_[static_cast<std::size_t>(parsed.prefix)];
    auto found = networks.find(parsed.network);
    return found == networks.end() ? nullptr : &found->second;
}

const Ban *BanList::FindAddress(std::uint32_t address, std::int64_t now) const {
    for (std::uint64_t prefixes = prefixesInUse_; prefixes != 0; prefixes &= prefixes - 1) {
        int prefix = __builtin_ctzll(prefixes);
        const auto &networks = networks_[static_cast<std::size_t>(prefix)];
        auto found = networks.find(address & Mask(prefix));
        if (found != networks.end() && InForceAt(found->second, now)) return &found->second;
    }
    return nullptr;
}

const Ban *BanList::Find(std::string_view user, std::uint32_t address, std::int64_t now) const {
    if (!users_.empty()) {
        auto found = users_.find(std::string(user));
        if (found != users_.end() && InForceAt(found->second, now)) return &found->second;
    }
    return FindAddress(address, now);
}

std::vector<Ban> BanList::InForce(std::int64_t now) {
    std::vector<Ban> bans;
    for (auto user = users_.begin(); user != users_.end();) {
        if (InForceAt(user->second, now)) {
            bans.push_back((user++)->second);
        } else {
            user = users_.erase(user);
        }
    }
    for (std::size_t prefix = 0; prefix < networks_.size(); ++prefix) {
        auto &networks = networks_[prefix];
        for (auto network = networks.begin(); network != networks.end();) {
            if (InForceAt(network->second, now)) {
                bans.push_back((network++)->second);
            } else {
                network = networks.erase(network);
            }
        }
        if (networks.empty()) prefixesInUse_ &= ~(std::uint64_t{1} << prefix);
    }
    std::sort(bans.begin(), bans.end(),
              [](const Ban &a, const Ban &b) { return a.since != b.since ? a.since < b.since : a.target < b.target; });
    return bans;
}

std::size_t BanList::Size() const {
    std::size_t size = users_.size();
    for (const auto &networks : networks_) size += networks.size();
    return size;
}

std::string BanList::Serialize() const {
    std::string out;
    auto write = [&](const Ban &ban) {
        out += ban.target + '\t' + std::to_string(ban.since) + '\t' + std::to_string(ban.until) + '\t' + ban.by + '\t' +
               ban.reason + '\n';
    };
    for (const auto &[target, ban] : users_) write(ban);
    for (const auto &networks : networks_) {
        for (const auto &[network, ban] : networks) write(ban);
    }
    return out;
}

bool BanList::Load(const std::string &path, std::string *error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (errno == ENOENT) {
            *this = BanList();
            return true;
        }
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    BanList loaded;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        std::vector<std::string_view> fields;
        std::string_view rest = line;
        for (std::size_t tab; (tab = rest.find('\t')) != std::string_view::npos; rest.remove_prefix(tab + 1)) {
            fields.push_back(rest.substr(0, tab));
        }
        fields.push_back(rest);
        Ban ban;
        std::string why;
        if (fields.size() != 5 || !ParseBanTarget(fields[0], &ban, &why) || !ReadWhole(fields[1], &ban.since) ||
            !ReadWhole(fields[2], &ban.until) || ban.until < 0) {
            *error = path + ":" + std::to_string(number) + ": not a ban";
            return false;
        }
        ban.by.assign(fields[3]);
        ban.reason.assign(fields[4]);
        loaded.Add(ban);
    }
    *this = std::move(loaded);
    return true;
}

bool BanList::Save(const std::string &path, std::string *error) const {
    return WriteWholeFile(path, Serialize(), error);
}

}  // namespace server
