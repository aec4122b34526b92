// The accounts file: user IDs and their passwords in an SQLite database readable by its owner only.
//
// The login digest binds the password to a random per-run number, so the server must know each
// password itself: the file holds them in plain text, which is why it is created with mode 0600.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/accounts/Authenticator.h"

struct sqlite3;

namespace server {

// One account as `accounts list` shows it.
struct Account {
    std::string user;
    bool disabled = false;
};

class AccountStore {
public:
    // Opens the database; with `create`, creates it (mode 0600) when missing. Throws std::runtime_error
    // with a message naming the file when it cannot be opened or is not an accounts file.
    AccountStore(const std::string &path, bool create);
    ~AccountStore();
    AccountStore(const AccountStore &) = delete;
    AccountStore &operator=(const AccountStore &) = delete;

    // Adds a user or replaces its password (a disabled account stays disabled). Throws std::runtime_error
    // on failure.
    void Add(std::string_view user, std::string_view password);
    // False when there was no such user.
    bool Remove(std::string_view user);
    // A disabled account keeps its password but cannot log in. False when there was no such user.
    bool SetDisabled(std::string_view user, bool disabled);
    std::vector<Account> Accounts();
    // The user IDs that may log in: every account that is not disabled.
    std::vector<std::string> ActiveUsers();
    // No value for an unknown or disabled user; throws std::runtime_error when the file cannot be read now.
    std::optional<std::string> PasswordOf(std::string_view user);

    // Opens the file again when it is no longer the one open: replaced (another file renamed over it, as
    // rsync and configuration tools do) or rewritten in place (copied over: SQLite alone would keep its
    // cache when the copy's change counter equals the old one's). True when it did. A new file that is no
    // accounts file is not taken (the one open stays, and that file is not tried again until it changes);
    // a path that is missing for a moment keeps the one open.
    bool Refresh();
    // True once after each time Refresh opened the file again, whoever called it; throws
    // std::runtime_error once with the reason a changed file was not taken.
    bool TakeChange();

private:
    // What tells one state of the file from another.
    struct Stamp {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modifiedNs = 0, changedNs = 0;
        bool operator==(const Stamp &other) const {
            return device == other.device && inode == other.inode && size == other.size &&
                   modifiedNs == other.modifiedNs && changedNs == other.changedNs;
        }
    };
    static std::optional<Stamp> StampOf(const std::string &path);
    static sqlite3 *Open(const std::string &path, bool createTable, bool *hasDisabled);
    void EnsureDisabledColumn();

    std::string path_;
    std::mutex mutex_;  // the login worker and the file watcher share the connection
    sqlite3 *db_ = nullptr;
    bool hasDisabled_ = false;  // files written before accounts could be disabled lack the column
    Stamp stamp_;               // of the file as last opened or tried
    // A change within the file system's time-stamp granularity after the stamp would not show in it: while
    // the stamp is that recent, the next look opens the file again.
    bool recent_ = false;
    bool unseenChange_ = false;
    std::string unseenError_;
};

// Checks digests against the passwords in an account store, looked up at each login so accounts
// added while the server runs count at once.
class AccountAuthenticator : public Authenticator {
public:
    explicit AccountAuthenticator(AccountStore &store) : store_(store) {}
    bool Accepts(int uniqueId, std::string_view user, std::string_view digest) override;
    std::optional<std::vector<std::string>> Reload() override;

private:
    AccountStore &store_;
};

}  // namespace server
