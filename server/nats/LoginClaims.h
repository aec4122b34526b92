// Logins claimed in the network's JetStream store, so a unique ID and a user fly on one node at a time.
// Claimed, released and renewed on a worker thread of their own, since every call waits for the servers.
#pragma once

#include <nats/nats.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "server/core/LogLimiter.h"
#include "server/nats/NatsLink.h"

namespace server {

class Relay;

class LoginClaims {
public:
    // A login the store granted, on the event-loop thread: true when the relay took it.
    using Granted = std::function<bool(ConnectionId connection, int uniqueId)>;

    LoginClaims(NatsLink &link, Relay &relay, ClusterBridge::Post post, Granted granted);
    // Stops the worker and lets go of the store.
    ~LoginClaims();
    LoginClaims(const LoginClaims &) = delete;
    LoginClaims &operator=(const LoginClaims &) = delete;

    void Begin();

    // --- event-loop thread ---
    // Answered by Relay::OnLoginClaimed, or by `granted`.
    void Claim(ConnectionId connection, int uniqueId, std::string_view user, std::uint32_t address);
    void Release(ConnectionId connection, int uniqueId, std::string_view user);
    // Checks at once that this node's logins are still its own (after a reconnect).
    void Refresh();

    bool Ready() const { return storeReady_; }
    std::uint64_t Errors() const { return storeErrors_; }

private:
    struct Job {
        enum Type { Claim, Release, Refresh } type = Claim;
        ConnectionId connection = 0;
        int uniqueId = 0;
        std::string user;
        std::uint32_t address = 0;
        Clock::time_point queued = Clock::now();
    };
    // A login this node holds in the store: the revision it wrote, and for which session.
    struct Held {
        std::uint64_t revision = 0;
        ConnectionId connection = 0;
        int uniqueId = 0;
        std::string value;
    };

    void Enqueue(Job &&job);
    void WorkerLoop();
    bool StopRequested();
    std::string StoreAdvice(natsStatus status);
    bool OpenStore();
    void RunClaim(const Job &job);
    void RunRelease(const Job &job);
    void RefreshClaims();

    NatsLink &link_;
    Relay &relay_;
    ClusterBridge::Post post_;
    Granted granted_;

    // Worker thread only (and the destructor, after the worker has stopped).
    std::thread worker_;
    std::mutex jobMutex_;
    std::condition_variable jobReady_;
    std::deque<Job> jobs_;
    bool workerStop_ = false;
    jsCtx *js_ = nullptr;
    kvStore *kv_ = nullptr;
    std::map<std::string, Held> held_;
    // Written by the worker, read for the metrics on the event loop.
    std::atomic<bool> storeReady_{false};
    std::atomic<std::uint64_t> storeErrors_{0};
    LogLimiter storeLog_{std::chrono::seconds(5)};
};

}  // namespace server
