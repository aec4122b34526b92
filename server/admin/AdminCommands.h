// What the operator's commands do: who is online, kicks, bans, disabled accounts, and the server's words to
// the pilots. Runs on the relay's event loop (the control socket calls it there).
#pragma once

#include <string>
#include <vector>

#include "server/core/BanList.h"
#include "server/core/Cluster.h"

namespace server {

class AccountStore;
class Relay;

class AdminCommands {
public:
    // `bansFile` keeps the bans across restarts (empty: kept until the server stops); `accounts` is null
    // for a server without an accounts file.
    AdminCommands(Relay &relay, BanList &bans, std::string bansFile, AccountStore *accounts)
        : relay_(relay), bans_(bans), bansFile_(std::move(bansFile)), accounts_(accounts) {}

    // Runs one command, given as its words, for `who`; returns AdminOk(...) or AdminError(...). Every
    // command that changes something is logged with who gave it.
    std::string Run(const std::vector<std::string> &words, const std::string &who);

    // An action another node's operator gave: applied here too, and logged with who gave it where.
    void Apply(const OperatorAction &action);

    // Texts the server says (`say`, `motd`) and reasons are at most this long.
    static constexpr std::size_t kMaxText = 512;

private:
    std::string AddBan(const std::vector<std::string> &words, const std::string &who);
    std::string SaveBans();

    Relay &relay_;
    BanList &bans_;
    std::string bansFile_;
    AccountStore *accounts_;
};

// The usage of every command, for `skorvale-server admin --help` and for a command the server does not know.
extern const char *const kAdminUsage;

}  // namespace server
