// The accounts file as the running server uses it: checked at every login, and opened again on a reload,
// so a file replaced on disk, or moved to another path, counts without a restart.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "server/accounts/Accounts.h"

namespace server {

class ReloadableAccounts : public Authenticator {
public:
    // Opens `path` and, once that worked, uses it for the logins that follow. Throws std::runtime_error
    // (naming the file) when it cannot be opened; the file in use stays. Any thread.
    void Open(const std::string &path);
    // On the login worker's thread, while Open may run on another.
    bool Accepts(int uniqueId, std::string_view user, std::string_view digest) override;

private:
    std::mutex mutex_;
    std::shared_ptr<AccountStore> store_;
};

}  // namespace server
