// What the operator's commands do: who is online, kicks, bans, disabled accounts, and the server's words to
// the pilots. Runs on the relay's event loop (the control socket calls it there).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "server/core/BanList.h"
#include "server/core/Cluster.h"

namespace server {

class Relay;

class AdminCommands {
public:
    // Disables (true) or enables an account in the accounts file in use; false for an unknown user, throws
    // std::runtime_error when the file cannot be written. Empty for a server without an accounts file.
    using DisableAccount = std::function<bool(const std::string &user, bool disabled)>;

    // `bansFile` keeps the bans across restarts, `motdFile` the message of the day set by `motd` (empty:
    // kept until the server stops).
    AdminCommands(Relay &relay, BanList &bans, std::string bansFile, std::string motdFile, DisableAccount disable)
        : relay_(relay),
          bans_(bans),
          bansFile_(std::move(bansFile)),
          motdFile_(std::move(motdFile)),
          disable_(std::move(disable)) {}

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
    // An action read from the network's store, and the end of such a reading.
    void Learn(const OperatorAction &action, const Ban &ban);
    void FinishLearning(const OperatorAction &action);

    Relay &relay_;
    BanList &bans_;
    std::string bansFile_;
    std::string motdFile_;
    DisableAccount disable_;
    bool learnedChanges_ = false;  // the store's reading so far changed the bans
};

// A text the server keeps or says (a reason, `say`, `motd`): at most kMaxText bytes, one line, nothing that
// would hide or move text. False, with `error` naming `what`, for anything else.
bool CheckAdminText(const std::string &text, const char *what, std::string *error);

// The usage of every command, for `skorvale-server admin --help` and for a command the server does not know.
extern const char *const kAdminUsage;

}  // namespace server
