// Rendering traffic snapshots off the event loop and handing them to the live map connections.
#include "server/http/TrafficFeed.h"

#include <algorithm>
#include <utility>

#include "server/http/ProcessStats.h"
#include "server/http/TrafficJson.h"

namespace server {

namespace {

// Chat lines held for a renderer that has fallen behind the event loop; older ones are let go.
constexpr std::size_t kMaxInboxChat = 256;
// Rendered chat one snapshot hands to the streams: the newest lines that fit. A line is at most 1 KiB of
// text, about twice that as JSON (a quote becomes two characters), so a handful of the longest lines fit
// and a flood within the senders' rates reaches the map cut, not its viewers' connections.
constexpr std::size_t kMaxSnapshotChatBytes = 16 * 1024;
constexpr std::chrono::seconds kStuckAfter{10};

std::string Event(const char *name, const std::string &json) {
    return std::string("event: ") + name + "\ndata: " + json + "\n\n";
}

}  // namespace

TrafficFeed::TrafficFeed(FeedLimits limits) : limits_(limits), renderer_([this] { Render(); }) {}

TrafficFeed::~TrafficFeed() { Stop(); }

void TrafficFeed::Publish(TrafficSnapshot &&snapshot) {
    {
        std::lock_guard<std::mutex> lock(inboxMutex_);
        if (inboxFull_) {
            // The renderer has not taken the previous one: its aircraft are stale, its chat lines are not.
            std::vector<ChatLine> &chat = inbox_.chat;
            chat.insert(chat.end(), std::make_move_iterator(snapshot.chat.begin()),
                        std::make_move_iterator(snapshot.chat.end()));
            if (chat.size() > kMaxInboxChat) chat.erase(chat.begin(), chat.end() - kMaxInboxChat);
            snapshot.chat = std::move(chat);
        }
        inbox_ = std::move(snapshot);
        inboxFull_ = true;
    }
    inboxReady_.notify_one();
}

void TrafficFeed::Render() {
    std::unique_lock<std::mutex> inboxLock(inboxMutex_);
    for (;;) {
        inboxReady_.wait(inboxLock, [this] { return inboxFull_ || stopping_; });
        if (stopping_) return;
        TrafficSnapshot snapshot = std::move(inbox_);
        inbox_ = TrafficSnapshot();
        inboxFull_ = false;
        inboxLock.unlock();

        std::string traffic = TrafficJson(snapshot);
        std::string trafficEvent = Event("traffic", traffic);
        std::vector<std::string> lines;
        std::size_t chatBytes = 0;
        for (auto line = snapshot.chat.rbegin(); line != snapshot.chat.rend(); ++line) {
            std::string event = Event("chat", ChatJson(*line));
            if (chatBytes + event.size() > kMaxSnapshotChatBytes) break;
            chatBytes += event.size();
            lines.push_back(std::move(event));
        }
        std::reverse(lines.begin(), lines.end());
        std::string chatEvents;
        chatEvents.reserve(chatBytes);
        for (const std::string &line : lines) chatEvents += line;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            trafficJson_ = std::move(traffic);
            clients_ = snapshot.clients;
            counters_ = snapshot.counters;
            node_ = snapshot.node;
            lastSnapshot_ = std::chrono::steady_clock::now();
            for (std::string &line : lines) {
                recentChat_.push_back(std::move(line));
                if (recentChat_.size() > limits_.chatBacklog) recentChat_.pop_front();
            }
            for (const std::shared_ptr<Stream> &stream : streams_) {
                if (stream->closed_) continue;
                stream->traffic_ = trafficEvent;
                // Behind by what it has not taken since the previous snapshot, not by this one's size: a
                // reader that keeps up stays whatever a snapshot holds.
                bool behind = stream->chat_.size() > limits_.maxQueuedBytes;
                stream->chat_ += chatEvents;
                if (behind) {
                    // Fallen behind: close it rather than hold ever more for it.
                    stream->closed_ = true;
                    stream->chat_.clear();
                    stream->traffic_.clear();
                    ++stats_.fellBehind;
                }
            }
        }
        streamsReady_.notify_all();
        inboxLock.lock();
    }
}

std::string TrafficFeed::Traffic() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return trafficJson_;
}

std::string TrafficFeed::Metrics() const {
    ClientCounts clients;
    RelayCounters counters;
    NodeState node;
    StreamStats stats;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clients = clients_;
        counters = counters_;
        node = node_;
        stats = stats_;
        stats.open = streams_.size();
    }
    return MetricsText(clients, counters, node, stats) + ProcessMetricsText();
}

bool TrafficFeed::Health(bool ready, std::string *body) const {
    NodeState node;
    std::chrono::steady_clock::duration age;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        node = node_;
        age = std::chrono::steady_clock::now() - lastSnapshot_;
    }
    // Four snapshots a second come from a working event loop; ten seconds without one is a stuck server.
    if (age > kStuckAfter) {
        *body = "event loop: no word for " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(age).count()) + " s\n";
        return false;
    }
    if (!ready) {
        *body = "alive\n";
        return true;
    }
    std::string failing;
    if (!node.listening) failing += "listeners: not open\n";
    if (node.draining) failing += "draining: the server is stopping\n";
    if (node.clustered && !node.networkConnected) failing += "nats: not connected\n";
    if (node.clustered && !node.loginStoreReady) failing += "login store: not answering\n";
    *body = failing.empty() ? "ready\n" : failing;
    return failing.empty();
}

std::shared_ptr<TrafficFeed::Stream> TrafficFeed::Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_ || streams_.size() >= limits_.maxStreams) {
        ++stats_.refused;
        return nullptr;
    }
    auto stream = std::make_shared<Stream>(*this);
    for (const std::string &line : recentChat_) stream->chat_ += line;
    stream->traffic_ = Event("traffic", trafficJson_);
    streams_.push_back(stream);
    return stream;
}

void TrafficFeed::Stop() {
    {
        std::lock_guard<std::mutex> lock(inboxMutex_);
        stopping_ = true;
    }
    inboxReady_.notify_one();
    if (renderer_.joinable()) renderer_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        for (const std::shared_ptr<Stream> &stream : streams_) stream->closed_ = true;
    }
    streamsReady_.notify_all();
}

bool TrafficFeed::Stream::Next(std::string &out, std::chrono::milliseconds wait) {
    out.clear();
    std::unique_lock<std::mutex> lock(feed_.mutex_);
    feed_.streamsReady_.wait_for(lock, wait, [this] { return closed_ || !traffic_.empty() || !chat_.empty(); });
    if (closed_) return false;
    out.swap(chat_);
    out += traffic_;
    traffic_.clear();
    return true;
}

void TrafficFeed::Stream::Close() {
    std::lock_guard<std::mutex> lock(feed_.mutex_);
    closed_ = true;
    auto &streams = feed_.streams_;
    streams.erase(std::remove_if(streams.begin(), streams.end(), [this](const auto &s) { return s.get() == this; }),
                  streams.end());
}

}  // namespace server
