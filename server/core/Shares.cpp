// The budgets and session counts shared by the sessions of one account and of one address.
#include "server/core/Shares.h"

namespace server {

Shares::Shares(const RelayLimits &limits)
    : limits_(limits), serverChat_(limits.serverChatRate, limits.serverChatBurst) {}

std::size_t Shares::SessionsAt(std::uint32_t address) const {
    auto found = addresses_.find(address);
    return found == addresses_.end() ? 0 : found->second->sessions;
}

void Shares::Join(const std::string &user, std::uint32_t address, Share **account, Share **from) {
    auto &byUser = accounts_[user];
    if (!byUser) {
        byUser =
            std::make_unique<Share>(limits_.accountChatRate, limits_.accountChatBurst, limits_.accountLocationBytes);
    }
    auto &byAddress = addresses_[address];
    if (!byAddress) {
        byAddress = std::make_unique<Share>(limits_.addressChatRate, limits_.addressChatBurst, 0);
    }
    ++byUser->sessions;
    ++byAddress->sessions;
    *account = byUser.get();
    *from = byAddress.get();
}

void Shares::Leave(Share *account, Share *from) {
    if (account && account->sessions > 0) --account->sessions;
    if (from && from->sessions > 0) --from->sessions;
}

void Shares::SetRates() {
    serverChat_.SetRate(limits_.serverChatRate, limits_.serverChatBurst);
    for (auto &entry : accounts_) {
        entry.second->chat.SetRate(limits_.accountChatRate, limits_.accountChatBurst);
        entry.second->locationBytes.SetRate(limits_.accountLocationBytes, limits_.accountLocationBytes);
    }
    for (auto &entry : addresses_) entry.second->chat.SetRate(limits_.addressChatRate, limits_.addressChatBurst);
}

void Shares::Prune(TimePoint now) {
    for (auto it = accounts_.begin(); it != accounts_.end();) {
        Share &share = *it->second;
        if (share.sessions == 0 && share.chat.Full(now) && share.locationBytes.Full(now)) {
            it = accounts_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = addresses_.begin(); it != addresses_.end();) {
        if (it->second->sessions == 0 && it->second->chat.Full(now)) {
            it = addresses_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace server
