// The network's bans kept in its JetStream store, so that a node joining later learns the bans in force.
// That holds for a node restarted without its --bans file too. Written and read on a worker thread of its
// own, since every call waits for the servers.
//
// Each target has one key, holding the last Ban or Unban message given on it anywhere in the network, as it
// was published; a node reads them all whenever it (re)joins the network.
#pragma once

#include <nats/nats.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/core/LogLimiter.h"
#include "server/nats/NatsLink.h"

namespace server {

class BanStore {
public:
    // What the store holds, handed over on the event-loop thread: every Ban and Unban message in it.
    using Learned = std::function<void(const std::vector<ClusterMessage> &)>;

    BanStore(NatsLink &link, ClusterBridge::Post post, Learned learned);
    // Stops the worker and lets go of the store.
    ~BanStore();
    BanStore(const BanStore &) = delete;
    BanStore &operator=(const BanStore &) = delete;

    void Begin();

    // --- event-loop thread ---
    // Keeps a Ban or Unban message given on this node, as it was published.
    void Keep(const ClusterMessage &message);
    // Reads the whole store again (the node joined or came back).
    void Read();

    // Entries the store holds at most: a node reads no more than this many.
    static constexpr std::size_t kMaxEntries = 200000;

private:
    struct Job {
        std::string key;      // empty: read the store
        std::string payload;  // what to keep under the key
    };

    void WorkerLoop();
    bool Run(const Job &job);
    bool ReadAll();

    NatsLink &link_;
    ClusterBridge::Post post_;
    Learned learned_;

    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Job> jobs_;
    bool stop_ = false;
    // Worker thread only.
    jsCtx *js_ = nullptr;
    kvStore *kv_ = nullptr;
    // The store not answering, and what others wrote into it: each kind on its own budget.
    LogLimiter storeLog_{std::chrono::seconds(5)}, unreadableLog_{std::chrono::seconds(5)};
};

}  // namespace server
