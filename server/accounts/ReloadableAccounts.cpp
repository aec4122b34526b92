// Swapping the accounts file under the logins that use it.
#include "server/accounts/ReloadableAccounts.h"

#include <stdexcept>

namespace server {

void ReloadableAccounts::Open(const std::string &path) {
    auto store = std::make_shared<AccountStore>(path, false);
    std::lock_guard<std::mutex> lock(mutex_);
    store_ = std::move(store);
    opened_ = true;
}

std::shared_ptr<AccountStore> ReloadableAccounts::Current() {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_;
}

std::optional<std::vector<std::string>> ReloadableAccounts::Reload() {
    std::shared_ptr<AccountStore> store;
    bool opened = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        store = store_;
        opened = opened_;
        opened_ = false;
    }
    if (!store) return std::nullopt;
    AccountAuthenticator check(*store);
    std::optional<std::vector<std::string>> users = check.Reload();
    if (!users && opened) users = store->ActiveUsers();
    return users;
}

bool ReloadableAccounts::SetDisabled(const std::string &user, bool disabled) {
    std::shared_ptr<AccountStore> store = Current();
    if (!store) throw std::runtime_error("no accounts file is open");
    return store->SetDisabled(user, disabled);
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
