// Swapping the accounts file under the logins that use it.
#include "server/accounts/ReloadableAccounts.h"

namespace server {

void ReloadableAccounts::Open(const std::string &path) {
    auto store = std::make_shared<AccountStore>(path, false);
    std::lock_guard<std::mutex> lock(mutex_);
    store_ = std::move(store);
}

bool ReloadableAccounts::Accepts(int uniqueId, std::string_view user, std::string_view digest) {
    std::shared_ptr<AccountStore> store;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        store = store_;
    }
    // A check under way keeps the old file open until it ends; the store is used by one thread at a time,
    // the login worker's, apart from the moment Open replaces it.
    if (!store) throw std::runtime_error("no accounts file is open");
    AccountAuthenticator check(*store);
    return check.Accepts(uniqueId, user, digest);
}

}  // namespace server
