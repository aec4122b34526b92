// Chat lines, to this node's clients and to the other nodes.
#include "server/core/Chat.h"

#include <spdlog/spdlog.h>

#include <string>

#include "server/core/Text.h"

namespace server {

namespace {

// Chat lines kept between two snapshots; a flood past it loses its oldest lines on the map, not on the network.
constexpr std::size_t kMaxSnapshotChat = 64;

}  // namespace

Chat::Chat(Transport &transport, const RelayLimits &limits, const Clients &clients, Shares &shares,
           RelayCounters &counters, LogBudget &budget)
    : transport_(transport), limits_(limits), clients_(clients), shares_(shares), counters_(counters) {
    slowReaderLog_.Share(budget);
}

void Chat::Say(Client &client, std::string_view text, TimePoint now) {
    // A line draws on its session's, its account's and its address's budgets and on the server's, and
    // only when all of them have room: many sessions of one account at their rate get no more lines into
    // the chat windows than one pilot typing, and a line refused by one budget costs the others nothing.
    TokenBucket *budgets[] = {&client.chatBucket, client.account ? &client.account->chat : nullptr,
                              client.from ? &client.from->chat : nullptr, &shares_.ServerChat()};
    for (TokenBucket *budget : budgets) {
        if (budget && !budget->Ready(now)) {
            CountExcess(client, counters_, now, &Client::excessChat);
            return;
        }
    }
    for (TokenBucket *budget : budgets) {
        if (budget) budget->Take(now);
    }
    // The sender gets its own line back too: that echo is how its chat window shows what it said.
    // The name the relay settled on, which no other pilot shows.
    std::string line = StreamText(client.name + ": " + std::string(text), kMaxText);
    std::string message = "0|m|" + line + "\n";
    std::size_t skipped = 0;
    if (cluster_) cluster_->PublishChat(line);
    for (const auto &entry : clients_) {
        if (entry.second->remote) continue;
        ConnectionId receiver = entry.second->connection;
        // Chat is what a crowd can pile up in a slow reader's queue; past its share it is skipped for that
        // reader, which keeps room for the slot messages and keeps it from looking like one that stopped.
        if (transport_.Queued(receiver) + message.size() > limits_.chatQueueShare) {
            ++skipped;
            continue;
        }
        transport_.SendStream(receiver, message);
    }
    if (observed_) {
        if (recent_.size() >= kMaxSnapshotChat) recent_.erase(recent_.begin());
        recent_.push_back({client.callsign, StreamText(text, kMaxText)});
    }
    if (skipped > 0) {
        slowReaderLog_.Log(now, spdlog::level::warn, "a chat line of client {} skipped {} slow readers",
                           client.uniqueId, skipped);
    }
}

void Chat::FromOtherNode(std::string_view line) {
    std::string message = "0|m|" + StreamText(line, kMaxText) + "\n";
    for (const auto &entry : clients_) {
        ConnectionId receiver = entry.second->connection;
        if (entry.second->remote || transport_.Queued(receiver) + message.size() > limits_.chatQueueShare) continue;
        transport_.SendStream(receiver, message);
    }
}

void Chat::TakeRecent(std::vector<ChatLine> &lines) {
    observed_ = true;
    lines.swap(recent_);
    recent_.clear();
}

}  // namespace server
