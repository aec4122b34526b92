// The web observer's side of the hand-off: renders each traffic snapshot once, on a thread of its own,
// and fans it out to the live map connections, each with a bounded queue.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/core/TrafficObserver.h"
#include "server/http/Metrics.h"

namespace server {

struct FeedLimits {
    std::size_t maxStreams = 16;  // live map connections at once; more are turned away
    // Chat a connection may have left untaken when the next snapshot comes; past it, it is closed.
    std::size_t maxQueuedBytes = 64 * 1024;
    std::size_t chatBacklog = 20;  // recent lines a new connection starts with
};

class TrafficFeed : public TrafficObserver {
public:
    class Stream;

    explicit TrafficFeed(FeedLimits limits);
    ~TrafficFeed() override;
    TrafficFeed(const TrafficFeed &) = delete;
    TrafficFeed &operator=(const TrafficFeed &) = delete;

    // On the event-loop thread: takes the snapshot and wakes the renderer, nothing more.
    void Publish(TrafficSnapshot &&snapshot) override;

    // The rest is called from the HTTP threads.
    std::string Traffic() const;  // the latest aircraft, as JSON
    std::string Metrics() const;  // the latest counters, in the Prometheus format
    // Alive (`ready` false), or ready for pilots (true): false with the failing part named in `body` when
    // not. Alive means the event loop hands over snapshots; ready adds that the sockets are open, the node
    // is not draining, and with a network its NATS connection and login store answer.
    bool Health(bool ready, std::string *body) const;
    // A live event stream that starts with the latest traffic and the recent chat; null when the stream
    // limit is reached.
    std::shared_ptr<Stream> Open();
    // Ends every stream and the renderer. Safe to call more than once.
    void Stop();

private:
    void Render();

    const FeedLimits limits_;

    // Between the event loop and the renderer.
    std::mutex inboxMutex_;
    std::condition_variable inboxReady_;
    TrafficSnapshot inbox_;
    bool inboxFull_ = false;
    bool stopping_ = false;

    // Between the renderer and the HTTP threads; the event loop never takes this lock.
    mutable std::mutex mutex_;
    std::condition_variable streamsReady_;
    std::string trafficJson_ = "{\"aircraft\":[]}";
    std::deque<std::string> recentChat_;  // rendered events
    ClientCounts clients_;
    RelayCounters counters_;
    NodeState node_;
    std::chrono::steady_clock::time_point lastSnapshot_ = std::chrono::steady_clock::now();
    StreamStats stats_;
    std::vector<std::shared_ptr<Stream>> streams_;
    bool stopped_ = false;

    std::thread renderer_;
};

// One live map connection's queue. Waiting and taking happen on that connection's HTTP thread.
class TrafficFeed::Stream {
public:
    explicit Stream(TrafficFeed &feed) : feed_(feed) {}
    // Waits up to `wait` for events and moves them, in the event-stream format, into `out` (left empty when
    // none came). False once the stream is closed: it fell behind, or the feed stopped.
    bool Next(std::string &out, std::chrono::milliseconds wait);
    // The connection has ended; frees its place.
    void Close();

private:
    friend class TrafficFeed;
    TrafficFeed &feed_;
    // Guarded by the feed's mutex. Traffic is state: a newer snapshot replaces one not sent yet, so a slow
    // browser sees fewer frames. Chat lines are events: they queue, within the byte limit.
    std::string traffic_;
    std::string chat_;
    bool closed_ = false;
};

}  // namespace server
