// Logins claimed in the network's JetStream store, so a unique ID and a user fly on one node at a time.
// Claimed, released and renewed on a worker thread of their own, since every call waits for the servers.
#include "server/nats/LoginClaims.h"

#include <spdlog/spdlog.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "server/core/Relay.h"
#include "server/nats/KeyValue.h"

namespace server {

namespace {

constexpr const char *kLoginBucket = "skorvale_logins";

std::string UserKey(const std::string &user) { return HashedKey("user", user); }

std::string IdKey(int uniqueId) { return "id." + std::to_string(uniqueId); }

// Who holds a login: "node\ninstance\nunique ID\naddress\nuser key". An empty value is a released login.
struct Holder {
    std::string node;
    std::uint64_t instance = 0;
    int uniqueId = 0;
    std::uint32_t address = 0;
    std::string userKey;
};

std::string EncodeClaim(const Holder &claim) {
    return claim.node + "\n" + std::to_string(claim.instance) + "\n" + std::to_string(claim.uniqueId) + "\n" +
           std::to_string(claim.address) + "\n" + claim.userKey;
}

bool ParseClaim(std::string_view text, Holder *claim) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find('\n', start);
        fields.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos || fields.size() > 5) break;
        start = end + 1;
    }
    if (fields.size() != 5) return false;
    try {
        claim->node = fields[0];
        claim->instance = std::stoull(fields[1]);
        claim->uniqueId = std::stoi(fields[2]);
        claim->address = static_cast<std::uint32_t>(std::stoul(fields[3]));
        claim->userKey = fields[4];
    } catch (const std::exception &) {
        return false;
    }
    return true;
}

}  // namespace

LoginClaims::LoginClaims(NatsLink &link, Relay &relay, ClusterBridge::Post post, Granted granted)
    : link_(link), relay_(relay), post_(std::move(post)), granted_(std::move(granted)) {}

LoginClaims::~LoginClaims() {
    {
        std::lock_guard<std::mutex> lock(jobMutex_);
        workerStop_ = true;
    }
    jobReady_.notify_all();
    if (worker_.joinable()) worker_.join();
    if (kv_) kvStore_Destroy(kv_);
    if (js_) jsCtx_Destroy(js_);
}

void LoginClaims::Begin() {
    worker_ = std::thread([this] { WorkerLoop(); });
}

void LoginClaims::Claim(ConnectionId connection, int uniqueId, std::string_view user, std::uint32_t address) {
    Job job;
    job.type = Job::Claim;
    job.connection = connection;
    job.uniqueId = uniqueId;
    job.user.assign(user);
    job.address = address;
    Enqueue(std::move(job));
}

void LoginClaims::Release(ConnectionId connection, int uniqueId, std::string_view user) {
    Job job;
    job.type = Job::Release;
    job.connection = connection;
    job.uniqueId = uniqueId;
    job.user.assign(user);
    Enqueue(std::move(job));
}

void LoginClaims::Refresh() {
    Job refresh;
    refresh.type = Job::Refresh;
    Enqueue(std::move(refresh));
}

// --- the worker thread ---

void LoginClaims::Enqueue(Job &&job) {
    {
        std::lock_guard<std::mutex> lock(jobMutex_);
        jobs_.push_back(std::move(job));
    }
    jobReady_.notify_one();
}

void LoginClaims::WorkerLoop() {
    auto nextRefresh = Clock::now() + link_.Options().claimLifetime / 3;
    for (;;) {
        Job job;
        bool have = false;
        {
            std::unique_lock<std::mutex> lock(jobMutex_);
            jobReady_.wait_for(lock, std::chrono::milliseconds(200), [&] { return workerStop_ || !jobs_.empty(); });
            if (workerStop_) return;
            if (!jobs_.empty()) {
                job = std::move(jobs_.front());
                jobs_.pop_front();
                have = true;
            }
        }
        if (!kv_) OpenStore();
        if (Clock::now() >= nextRefresh) {
            nextRefresh = Clock::now() + link_.Options().claimLifetime / 3;
            RefreshClaims();
        }
        if (!have) continue;
        switch (job.type) {
            case Job::Claim:
                RunClaim(job);
                break;
            case Job::Release:
                RunRelease(job);
                break;
            case Job::Refresh:
                RefreshClaims();
                break;
        }
    }
}

bool LoginClaims::StopRequested() {
    std::lock_guard<std::mutex> lock(jobMutex_);
    return workerStop_;
}

// A bare "no responders" tells an operator nothing: name the likely fixes, JetStream first.
std::string LoginClaims::StoreAdvice(natsStatus status) {
    std::string advice;
    if (status == NATS_NO_RESPONDERS || status == NATS_TIMEOUT) {
        advice += "; the login store needs JetStream: start every NATS server with -js";
    }
    char **servers = nullptr;
    int count = 0;
    if (natsConnection_GetServers(link_.Connection(), &servers, &count) == NATS_OK) {
        for (int i = 0; i < count; ++i) free(servers[i]);
        free(servers);
    }
    if (count > 0 && link_.Options().storeReplicas > count) {
        advice += "; --store-replicas " + std::to_string(link_.Options().storeReplicas) + " is more than the " +
                  std::to_string(count) + " NATS server(s) this node knows of: use at most " + std::to_string(count);
    } else if (count > 0) {
        advice += "; --store-replicas " + std::to_string(link_.Options().storeReplicas) + " fits the " +
                  std::to_string(count) + " NATS server(s) this node knows of";
    }
    return advice;
}

bool LoginClaims::OpenStore() {
    if (kv_) return true;
    if (natsConnection_Status(link_.Connection()) != NATS_CONN_STATUS_CONNECTED) return false;
    natsStatus status = OpenBucket(link_.Connection(), &js_, &kv_, kLoginBucket, link_.Options().storeReplicas,
                                   link_.Options().claimLifetime);
    if (status != NATS_OK) {
        kv_ = nullptr;
        storeReady_ = false;
        ++storeErrors_;
        link_.Warn(storeLog_, Clock::now(),
                   "the login store is not available yet: " + StatusText(status) + StoreAdvice(status));
        return false;
    }
    spdlog::info("node {}: login store ready", link_.Node());
    storeReady_ = true;
    return true;
}

void LoginClaims::RunClaim(const Job &job) {
    Holder mine{link_.Node(), link_.Instance(), job.uniqueId, job.address, UserKey(job.user)};
    std::string value = EncodeClaim(mine);
    std::string keys[2] = {IdKey(job.uniqueId), mine.userKey};
    std::vector<Holder> replaced;
    auto deadline = job.queued + link_.Options().claimTimeout;
    std::string refusal;
    std::vector<std::pair<std::string, std::uint64_t>> taken;
    for (const std::string &key : keys) {
        std::uint64_t revision = 0;
        for (;;) {
            if (StopRequested()) return;
            if (Clock::now() >= deadline) {
                refusal = "the network's login store did not answer in time";
                storeReady_ = false;
                ++storeErrors_;
                break;
            }
            if (!OpenStore()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            if (kvStore_Create(&revision, kv_, key.c_str(), value.data(), static_cast<int>(value.size())) == NATS_OK) {
                break;
            }
            kvEntry *entry = nullptr;
            natsStatus status = kvStore_Get(&entry, kv_, key.c_str());
            if (status == NATS_NOT_FOUND) continue;  // released meanwhile: create again
            if (status != NATS_OK) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            std::string current(static_cast<const char *>(kvEntry_Value(entry)),
                                static_cast<std::size_t>(kvEntry_ValueLen(entry)));
            std::uint64_t last = kvEntry_Revision(entry);
            kvEntry_Destroy(entry);
            Holder holder;
            bool released = current.empty();
            if (!released && !ParseClaim(current, &holder)) {
                refusal = "the login store holds something unreadable for it";
                break;
            }
            // A correct login of the same user replaces its older session, wherever it is and from any address.
            bool samePilot = released || holder.userKey == mine.userKey;
            if (!samePilot) {
                refusal = key[0] == 'i'
                              ? "unique ID " + std::to_string(job.uniqueId) + " is logged in on node " + holder.node
                              : "that user is logged in on node " + holder.node;
                break;
            }
            if (kvStore_Update(&revision, kv_, key.c_str(), value.data(), static_cast<int>(value.size()), last) ==
                NATS_OK) {
                if (!released && !(holder.node == mine.node && holder.uniqueId == mine.uniqueId &&
                                   holder.instance == mine.instance)) {
                    replaced.push_back(holder);
                }
                break;
            }
        }
        if (!refusal.empty()) break;
        taken.emplace_back(key, revision);
    }
    if (!refusal.empty()) {
        // Give back what this attempt took, so a refused login leaves nothing behind.
        for (const auto &[key, revision] : taken) {
            kvStore_Update(nullptr, kv_, key.c_str(), "", 0, revision);
        }
        ConnectionId connection = job.connection;
        post_([this, connection, refusal] { relay_.OnLoginClaimed(connection, false, refusal, Clock::now()); });
        return;
    }
    for (const auto &[key, revision] : taken) held_[key] = Held{revision, job.connection, job.uniqueId, value};
    for (const Holder &old : replaced) {
        if (old.node == link_.Node() && old.instance == link_.Instance()) {
            if (old.uniqueId != job.uniqueId) {
                int id = old.uniqueId;
                post_([this, id] { relay_.OnReplacedElsewhere(id, link_.Node()); });
            }
        } else if (old.node != link_.Node()) {
            ClusterMessage kick;
            kick.kind = ClusterKind::Kick;
            kick.node = link_.Node();
            kick.uniqueId = old.uniqueId;
            std::string payload = link_.Encode(kick);
            natsConnection_Publish(link_.Connection(), kEventSubject, payload.data(), static_cast<int>(payload.size()));
        }
    }
    ConnectionId connection = job.connection;
    int uniqueId = job.uniqueId;
    std::string user = job.user;
    post_([this, connection, uniqueId, user] {
        if (!granted_(connection, uniqueId)) {
            Job release;
            release.type = Job::Release;
            release.connection = connection;
            release.uniqueId = uniqueId;
            release.user = user;
            Enqueue(std::move(release));
        }
    });
}

void LoginClaims::RunRelease(const Job &job) {
    for (const std::string &key : {IdKey(job.uniqueId), UserKey(job.user)}) {
        auto found = held_.find(key);
        if (found == held_.end() || found->second.connection != job.connection) continue;
        // Only the revision this node wrote is released: a newer login elsewhere stays.
        if (kv_) kvStore_Update(nullptr, kv_, key.c_str(), "", 0, found->second.revision);
        held_.erase(found);
    }
}

// Renews this node's logins before they expire; one that another node took while this one was
// cut off belongs to that node now, and the session here is closed.
void LoginClaims::RefreshClaims() {
    if (held_.empty() || !OpenStore()) return;
    std::set<int> lost;
    for (auto it = held_.begin(); it != held_.end();) {
        Held &held = it->second;
        const std::string &key = it->first;
        std::uint64_t revision = 0;
        natsStatus status = kvStore_Update(&revision, kv_, key.c_str(), held.value.data(),
                                           static_cast<int>(held.value.size()), held.revision);
        if (status == NATS_OK) {
            held.revision = revision;
            ++it;
            continue;
        }
        kvEntry *entry = nullptr;
        status = kvStore_Get(&entry, kv_, key.c_str());
        if (status == NATS_NOT_FOUND) {
            // Expired while this node was away, and nobody else took it.
            if (kvStore_Create(&revision, kv_, key.c_str(), held.value.data(), static_cast<int>(held.value.size())) ==
                NATS_OK) {
                held.revision = revision;
            }
            ++it;
            continue;
        }
        if (status != NATS_OK) {
            ++it;  // the store is busy; try again next round
            continue;
        }
        std::string current(static_cast<const char *>(kvEntry_Value(entry)),
                            static_cast<std::size_t>(kvEntry_ValueLen(entry)));
        std::uint64_t last = kvEntry_Revision(entry);
        kvEntry_Destroy(entry);
        if (current == held.value || current.empty()) {
            if (kvStore_Update(&revision, kv_, key.c_str(), held.value.data(), static_cast<int>(held.value.size()),
                               last) == NATS_OK) {
                held.revision = revision;
            }
            ++it;
            continue;
        }
        lost.insert(held.uniqueId);
        it = held_.erase(it);
    }
    for (int id : lost) {
        post_([this, id] { relay_.OnReplacedElsewhere(id, "elsewhere"); });
    }
}

}  // namespace server
