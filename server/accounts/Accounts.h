// The accounts file: user IDs and their passwords in an SQLite database readable by its owner only.
//
// The login digest binds the password to a random per-run number, so the server must know each
// password itself: the file holds them in plain text, which is why it is created with mode 0600.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/accounts/Authenticator.h"

struct sqlite3;

namespace server {

class AccountStore {
public:
    // Opens the database; with `create`, creates it (mode 0600) when missing. Throws std::runtime_error
    // with a message naming the file when it cannot be opened or is not an accounts file.
    AccountStore(const std::string &path, bool create);
    ~AccountStore();
    AccountStore(const AccountStore &) = delete;
    AccountStore &operator=(const AccountStore &) = delete;

    // Adds a user or replaces its password. Throws std::runtime_error on failure.
    void Add(std::string_view user, std::string_view password);
    // False when there was no such user.
    bool Remove(std::string_view user);
    std::vector<std::string> Users();
    // No value for an unknown user; throws std::runtime_error when the file cannot be read now.
    std::optional<std::string> PasswordOf(std::string_view user);

private:
    void Execute(const char *sql);
    std::string path_;
    sqlite3 *db_ = nullptr;
};

// Checks digests against the passwords in an account store, looked up at each login so accounts
// added while the server runs count at once.
class AccountAuthenticator : public Authenticator {
public:
    explicit AccountAuthenticator(AccountStore &store) : store_(store) {}
    bool Accepts(int uniqueId, std::string_view user, std::string_view digest) override;

private:
    AccountStore &store_;
};

}  // namespace server
