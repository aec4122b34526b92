// The node's connection to the NATS servers, and the hand-over of what it hears to the event-loop thread.
// Options and secrets, subscriptions and publishing live here too.
#pragma once

#include <nats/nats.h>
#include <spdlog/spdlog.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "server/core/LogLimiter.h"
#include "server/nats/ClusterMessage.h"
#include "server/nats/NatsBridge.h"

namespace server {

// A library status as an operator reads it, with the library's last error.
std::string StatusText(natsStatus status);

class NatsLink {
public:
    // What the link hands over, on the event-loop thread.
    class Receiver {
    public:
        virtual ~Receiver() = default;
        // The connection is up, for the first time or again.
        virtual void OnConnected(TimePoint now) = 0;
        virtual void OnMessage(const std::string &subject, const std::string &data, TimePoint now) = 0;
    };

    // Throws std::invalid_argument for a bad node name, URL list or secret file.
    NatsLink(const ClusterOptions &options, ClusterBridge::Post post, Receiver &receiver);
    // Closes the connection and waits for the library's threads to leave their callbacks.
    ~NatsLink();
    NatsLink(const NatsLink &) = delete;
    NatsLink &operator=(const NatsLink &) = delete;

    // Connects (or keeps trying in the background) and listens to the events and this node's own subject.
    void Begin();
    // Nothing received from now on reaches the receiver.
    void Close();

    const ClusterOptions &Options() const { return options_; }
    const std::string &Node() const { return options_.node; }
    // This run of the node: other nodes tell a restart by it.
    std::uint64_t Instance() const { return instance_; }
    const std::string &OwnSubject() const { return ownSubject_; }
    // For the login store, from its worker thread; the library's calls are thread-safe.
    natsConnection *Connection() const { return connection_; }

    // --- event-loop thread ---
    bool Connected() const { return connected_; }
    std::uint64_t Reconnects() const { return reconnects_; }
    std::uint64_t Dropped() const { return droppedTotal_; }
    // Counts and reports the messages dropped because the event loop fell behind.
    void Tick(TimePoint now);

    // A message in the version this node speaks; callable from any thread.
    std::string Encode(ClusterMessage message) const;
    void Publish(const char *subject, const std::string &payload);
    void Send(const char *subject, const ClusterMessage &message) { Publish(subject, Encode(message)); }
    // False, with a line in the log, when the subscription cannot be made.
    bool Subscribe(natsSubscription **subscription, const std::string &subject);
    // Sends what is buffered, waiting at most `milliseconds`.
    void Flush(int milliseconds);

    // "node NAME: LINE" when `limiter` allows it, with the count of lines it held back.
    void Say(LogLimiter &limiter, TimePoint now, spdlog::level::level_enum level, const std::string &line);
    void Warn(LogLimiter &limiter, TimePoint now, const std::string &line) {
        Say(limiter, now, spdlog::level::warn, line);
    }

private:
    struct Inbound {
        enum Type { Message, Connected, Disconnected } type;
        std::string subject;
        std::string data;
    };

    static void OnMessageEvent(natsConnection *, natsSubscription *, natsMsg *msg, void *closure);
    static void OnConnectedEvent(natsConnection *, void *closure);
    static void OnDisconnectedEvent(natsConnection *, void *closure);
    void Push(Inbound &&inbound);
    void Deliver();
    void Joined(TimePoint now);

    ClusterOptions options_;
    ClusterBridge::Post post_;
    Receiver &receiver_;
    std::uint64_t instance_ = 0;
    std::string ownSubject_;
    natsOptions *options_nats_ = nullptr;
    natsConnection *connection_ = nullptr;
    natsSubscription *eventSub_ = nullptr;
    natsSubscription *nodeSub_ = nullptr;

    // Shared with the library's threads.
    std::mutex inboxMutex_;
    std::deque<Inbound> inbox_;
    bool wakePending_ = false;
    bool closing_ = false;
    std::uint64_t inboxDropped_ = 0;

    // Event-loop thread only.
    bool connected_ = false;
    bool everConnected_ = false;
    std::uint64_t reconnects_ = 0;
    std::uint64_t droppedTotal_ = 0;
    LogLimiter publishLog_, overflowLog_;
};

}  // namespace server
