// The network's bans kept in its JetStream store, so that a node joining later learns the bans in force.
#include "server/nats/BanStore.h"

#include <spdlog/spdlog.h>

#include "server/core/Text.h"
#include "server/nats/KeyValue.h"

namespace server {

namespace {

constexpr const char *kBanBucket = "skorvale_bans";

}  // namespace

BanStore::BanStore(NatsLink &link, ClusterBridge::Post post, Learned learned)
    : link_(link), post_(std::move(post)), learned_(std::move(learned)) {}

BanStore::~BanStore() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    ready_.notify_all();
    if (worker_.joinable()) worker_.join();
    if (kv_) kvStore_Destroy(kv_);
    if (js_) jsCtx_Destroy(js_);
}

void BanStore::Begin() {
    worker_ = std::thread([this] { WorkerLoop(); });
}

void BanStore::Keep(const ClusterMessage &message) {
    Job job;
    job.key = HashedKey("ban", message.action.target);
    job.payload = link_.Encode(message);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
}

void BanStore::Read() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A reading waiting behind the job under way makes another one needless; the one under way may
        // have begun before what this one is asked for.
        for (std::size_t i = 1; i < jobs_.size(); ++i) {
            if (jobs_[i].key.empty()) return;
        }
        jobs_.emplace_back();
    }
    ready_.notify_one();
}

// --- the worker thread ---

void BanStore::WorkerLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
            if (stop_) return;
            job = jobs_.front();
        }
        // In order, each until it is done: a ban given here is in the store before the store is read again,
        // so an older lifted ban there cannot undo it.
        bool done = Run(job);
        std::unique_lock<std::mutex> lock(mutex_);
        if (done) {
            jobs_.pop_front();
        } else if (ready_.wait_for(lock, std::chrono::milliseconds(250), [&] { return stop_; })) {
            return;  // the store may be electing a leader, or the connection coming back: try again shortly
        }
    }
}

bool BanStore::Run(const Job &job) {
    if (natsConnection_Status(link_.Connection()) != NATS_CONN_STATUS_CONNECTED) return false;
    if (!kv_) {
        natsStatus status = OpenBucket(link_.Connection(), &js_, &kv_, kBanBucket, link_.Options().storeReplicas,
                                       Clock::duration::zero());
        if (status != NATS_OK) {
            link_.Warn(storeLog_, Clock::now(), "the network's ban store is not available yet: " + StatusText(status));
            return false;
        }
    }
    if (job.key.empty()) return ReadAll();
    natsStatus status =
        kvStore_Put(nullptr, kv_, job.key.c_str(), job.payload.data(), static_cast<int>(job.payload.size()));
    if (status != NATS_OK) {
        link_.Warn(storeLog_, Clock::now(), "cannot keep a ban in the network's store yet: " + StatusText(status));
    }
    return status == NATS_OK;
}

bool BanStore::ReadAll() {
    kvWatchOptions options;
    kvWatchOptions_Init(&options);
    options.IgnoreDeletes = true;
    kvWatcher *watcher = nullptr;
    if (kvStore_WatchAll(&watcher, kv_, &options) != NATS_OK) return false;
    std::vector<ClusterMessage> messages;
    std::size_t unreadable = 0, entries = 0;
    bool complete = false, stopping = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if ((stopping = stop_)) break;
        }
        kvEntry *entry = nullptr;
        if (kvWatcher_Next(&entry, watcher, 2000) != NATS_OK) break;
        if (!entry) {  // every value there was when the watch began
            complete = true;
            break;
        }
        std::string_view value(static_cast<const char *>(kvEntry_Value(entry)),
                               static_cast<std::size_t>(kvEntry_ValueLen(entry)));
        ClusterMessage message;
        if (++entries <= kMaxEntries && value.size() <= kMaxClusterPayload && ParseClusterMessage(value, &message) &&
            (message.kind == ClusterKind::Ban || message.kind == ClusterKind::Unban)) {
            messages.push_back(std::move(message));
        } else {
            ++unreadable;
        }
        kvEntry_Destroy(entry);
        if (entries > kMaxEntries) {
            complete = true;  // the rest stays unread: a store this large is not one this network made
            break;
        }
    }
    kvWatcher_Destroy(watcher);
    if (stopping) return false;
    if (!complete) {
        link_.Warn(storeLog_, Clock::now(), "cannot read the network's ban store yet");
        return false;
    }
    if (unreadable > 0) {
        link_.Warn(unreadableLog_, Clock::now(),
                   "left " + std::to_string(unreadable) + " unreadable entries of the network's ban store aside");
    }
    post_([this, messages = std::move(messages)] { learned_(messages); });
    return true;
}

}  // namespace server
