// The NATS edge of a node: publishing its pilots, hearing the other nodes, and claiming logins.
#include "server/nats/NatsBridge.h"

#include <nats/nats.h>
#include <openssl/sha.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "server/core/ClientMessage.h"
#include "server/core/LogLimiter.h"
#include "server/core/Relay.h"
#include "server/core/Text.h"
#include "server/nats/ClusterMessage.h"

namespace server {

namespace {

constexpr const char *kLoginBucket = "skorvale_logins";
// Network messages handed to the relay per event-loop turn, so datagrams and timers get their turn.
constexpr std::size_t kDeliverBatch = 1024;

std::int64_t Milliseconds(Clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

std::string StatusText(natsStatus status) {
    const char *last = nats_GetLastError(nullptr);
    std::string text = natsStatus_GetText(status);
    if (last && *last) text += std::string(" (") + last + ")";
    return text;
}

// Login store keys are subject tokens: a user ID can hold anything, so it goes in as a hash.
std::string UserKey(const std::string &user) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(user.data()), user.size(), digest);
    static const char kHex[] = "0123456789abcdef";
    std::string key = "user.";
    for (unsigned char byte : digest) {
        key += kHex[byte >> 4];
        key += kHex[byte & 15];
    }
    return key;
}

std::string IdKey(int uniqueId) { return "id." + std::to_string(uniqueId); }

// Who holds a login: "node\ninstance\nunique ID\naddress\nuser key". An empty value is a released login.
struct Claim {
    std::string node;
    std::uint64_t instance = 0;
    int uniqueId = 0;
    std::uint32_t address = 0;
    std::string userKey;
};

std::string EncodeClaim(const Claim &claim) {
    return claim.node + "\n" + std::to_string(claim.instance) + "\n" + std::to_string(claim.uniqueId) + "\n" +
           std::to_string(claim.address) + "\n" + claim.userKey;
}

bool ParseClaim(std::string_view text, Claim *claim) {
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

class NatsBridge : public ClusterBridge {
public:
    NatsBridge(const ClusterOptions &options, Relay &relay, Post post, Later later)
        : options_(options), relay_(relay), post_(std::move(post)), later_(std::move(later)) {
        if (!IsValidNodeName(options.node)) {
            throw std::invalid_argument("node name '" + Preview(options.node) +
                                        "' must be 1 to 32 letters, digits, '-' or '_'");
        }
        if (options.urls.empty()) throw std::invalid_argument("no NATS server given");
        // What other nodes make this one log (a node coming or going, a bad message) draws on the budget of
        // lines outsiders can cause: a rogue publisher churning node names is held to it like a client.
        for (LogLimiter *limiter : {&nodeLog_, &malformedLog_, &subjectLog_, &nameLog_, &foreignLog_, &capacityLog_}) {
            limiter->Share(relay.OutsiderLog());
        }
        ownSubject_ = NodeSubject(options.node);
        std::random_device random;
        instance_ = (static_cast<std::uint64_t>(random()) << 32) ^ random() ^
                    static_cast<std::uint64_t>(Clock::now().time_since_epoch().count());
        if (instance_ == 0) instance_ = 1;

        natsOptions *opts = nullptr;
        std::vector<const char *> urls;
        for (const std::string &url : options.urls) urls.push_back(url.c_str());
        natsStatus status = natsOptions_Create(&opts);
        if (status == NATS_OK) status = natsOptions_SetServers(opts, urls.data(), static_cast<int>(urls.size()));
        if (status != NATS_OK) {
            natsOptions_Destroy(opts);
            throw std::invalid_argument("bad NATS server list: " + StatusText(status));
        }
        natsOptions_SetName(opts, ("skorvale-" + options.node).c_str());
        // The servers are tried in the order given, so an operator can point each node at its nearest.
        natsOptions_SetNoRandomize(opts, true);
        natsOptions_SetNoEcho(opts, true);
        natsOptions_SetAllowReconnect(opts, true);
        natsOptions_SetMaxReconnect(opts, -1);
        natsOptions_SetReconnectWait(opts, 100);
        natsOptions_SetTimeout(opts, 1000);
        // A server that hangs without closing is given up after about two seconds.
        natsOptions_SetPingInterval(opts, 1000);
        natsOptions_SetMaxPingsOut(opts, 2);
        // Chat and identities published while reconnecting go out once the connection is back.
        natsOptions_SetReconnectBufSize(opts, static_cast<int>(options.reconnectBuffer));
        natsOptions_UseGlobalMessageDelivery(opts, true);
        natsOptions_SetDisconnectedCB(opts, &NatsBridge::OnDisconnectedEvent, this);
        natsOptions_SetReconnectedCB(opts, &NatsBridge::OnConnectedEvent, this);
        natsOptions_SetRetryOnFailedConnect(opts, true, &NatsBridge::OnConnectedEvent, this);
        options_nats_ = opts;
    }

    ~NatsBridge() override {
        {
            std::lock_guard<std::mutex> lock(inboxMutex_);
            closing_ = true;
        }
        {
            std::lock_guard<std::mutex> lock(jobMutex_);
            workerStop_ = true;
        }
        jobReady_.notify_all();
        if (worker_.joinable()) worker_.join();
        for (auto &entry : cells_) natsSubscription_Destroy(entry.second.subscription);
        natsSubscription_Destroy(eventSub_);
        natsSubscription_Destroy(nodeSub_);
        if (kv_) kvStore_Destroy(kv_);
        if (js_) jsCtx_Destroy(js_);
        if (connection_) {
            natsConnection_Close(connection_);
            natsConnection_Destroy(connection_);
        }
        natsOptions_Destroy(options_nats_);
        // The library's threads may still be inside a callback that holds `this`.
        nats_CloseAndWait(2000);
    }

    void Begin() {
        natsStatus status = natsConnection_Connect(&connection_, options_nats_);
        if (status == NATS_NOT_YET_CONNECTED) {
            spdlog::warn("node {}: no NATS server answers yet; still trying", options_.node);
        } else if (status != NATS_OK) {
            throw std::runtime_error("cannot use the NATS servers: " + StatusText(status));
        } else {
            Push({Inbound::Connected, {}, {}});
        }
        Subscribe(&eventSub_, kEventSubject);
        Subscribe(&nodeSub_, ownSubject_);
        worker_ = std::thread([this] { WorkerLoop(); });
    }

    // --- ClusterLink, on the event-loop thread ---

    void ClaimLogin(ConnectionId connection, int uniqueId, std::string_view user, std::uint32_t address) override {
        Job job;
        job.type = Job::Claim;
        job.connection = connection;
        job.uniqueId = uniqueId;
        job.user.assign(user);
        job.address = address;
        Enqueue(std::move(job));
    }

    void ReleaseLogin(ConnectionId connection, int uniqueId, std::string_view user) override {
        auto found = local_.find(uniqueId);
        if (found != local_.end() && found->second.connection == connection) {
            local_.erase(found);
            ClusterMessage leave;
            leave.kind = ClusterKind::Leave;
            leave.node = options_.node;
            leave.uniqueId = uniqueId;
            Publish(kEventSubject, EncodeClusterMessage(leave));
        }
        Job job;
        job.type = Job::Release;
        job.connection = connection;
        job.uniqueId = uniqueId;
        job.user.assign(user);
        Enqueue(std::move(job));
    }

    void PublishIdentity(const AircraftIdentity &identity) override {
        ClusterMessage message;
        message.kind = ClusterKind::Aircraft;
        message.node = options_.node;
        message.uniqueId = identity.uniqueId;
        message.identity = identity;
        std::string payload = EncodeClusterMessage(message);
        auto found = local_.find(identity.uniqueId);
        if (found != local_.end()) found->second.identity = payload;
        Publish(kEventSubject, payload);
    }

    void PublishLocation(int uniqueId, std::string_view fields, bool shown) override {
        auto found = local_.find(uniqueId);
        if (found == local_.end()) return;
        Local &local = found->second;
        double latitude = 0, longitude = 0, elevation = 0;
        if (!ReadWorldPosition(fields, &latitude, &longitude, &elevation)) return;
        Cell cell = CellOf(latitude, longitude);
        if (!local.hasCell || !(cell == local.cell)) {
            local.hasCell = true;
            local.cell = cell;
            local.subject = CellSubject(cell);
            // At once, not at the next tick: aircraft around a pilot who just arrived show up sooner.
            ListenAround(cell, Clock::now());
        }
        local.fields.clear();
        // Fields with a line feed would read as another aircraft's location in a batch.
        if (!shown || fields.empty() || fields.find('\n') != std::string_view::npos) return;
        local.fields.assign(fields);
        // Positions queued while reconnecting would arrive stale; the next ones replace them anyway.
        if (!connected_) return;
        // Gathered by cell for a few milliseconds (or the rest of this event-loop turn): one message for
        // many aircraft costs the nodes and the NATS servers about what one costs.
        PendingCell *pending = nullptr;
        for (PendingCell &cell : pending_) {
            if (cell.subject == local.subject) pending = &cell;
        }
        if (!pending) {
            pending = &pending_.emplace_back();
            pending->subject = local.subject;
            StartLocations(pending->payload, options_.node);
        }
        if (!AppendLocation(pending->payload, uniqueId, fields)) {
            Publish(pending->subject.c_str(), pending->payload);
            StartLocations(pending->payload, options_.node);
            AppendLocation(pending->payload, uniqueId, fields);
        }
        if (!flushPosted_) {
            flushPosted_ = true;
            if (options_.locationBatch > Clock::duration::zero()) {
                later_(options_.locationBatch, [this] { FlushLocations(); });
            } else {
                post_([this] { FlushLocations(); });
            }
        }
    }

    void PublishChat(std::string_view line) override {
        ClusterMessage message;
        message.kind = ClusterKind::Chat;
        message.node = options_.node;
        message.text.assign(line);
        Publish(kEventSubject, EncodeClusterMessage(message));
    }

    // --- ClusterBridge ---

    void FlushLocations() {
        flushPosted_ = false;
        if (connected_) {
            for (const PendingCell &cell : pending_) Publish(cell.subject.c_str(), cell.payload);
        }
        pending_.clear();
    }

    void OnTick(TimePoint now) override {
        if (connected_ && now - lastBeat_ >= options_.heartbeatPeriod) {
            lastBeat_ = now;
            ClusterMessage beat;
            beat.kind = ClusterKind::Heartbeat;
            beat.node = options_.node;
            beat.instance = instance_;
            beat.count = local_.size();
            Publish(kEventSubject, EncodeClusterMessage(beat));
        }
        std::vector<std::string> silent;
        for (const auto &entry : peers_) {
            if (now - entry.second.lastHeard >= options_.nodeTimeout) silent.push_back(entry.first);
        }
        for (const std::string &node : silent)
            DropNode(node, "not heard from for " + std::to_string(Milliseconds(options_.nodeTimeout)) + " ms", now);
        UpdateInterest(now);
        std::uint64_t dropped = 0;
        {
            std::lock_guard<std::mutex> lock(inboxMutex_);
            std::swap(dropped, inboxDropped_);
        }
        droppedTotal_ += dropped;
        if (dropped > 0) {
            Warn(overflowLog_, now, "dropped " + std::to_string(dropped) + " network messages: the relay fell behind");
        }
    }

    void FillState(NodeState &state) const override {
        state.clustered = true;
        state.networkConnected = connected_;
        state.networkReconnects = reconnects_;
        state.networkDropped = droppedTotal_;
        state.remoteAircraft = remote_.size();
        state.loginStoreReady = storeReady_;
        state.loginStoreErrors = storeErrors_;
    }

    void Stop() override {
        if (!connection_ || !connected_) return;
        ClusterMessage gone;
        gone.kind = ClusterKind::Gone;
        gone.node = options_.node;
        gone.instance = instance_;
        Publish(kEventSubject, EncodeClusterMessage(gone));
        natsConnection_FlushTimeout(connection_, 500);
    }

private:
    struct Inbound {
        enum Type { Message, Connected, Disconnected } type;
        std::string subject;
        std::string data;
    };
    struct Local {
        ConnectionId connection = 0;
        std::string identity;  // its last identity message
        std::string fields;    // its last location's fields, empty while it is not shown
        bool hasCell = false;
        Cell cell;
        std::string subject;
    };
    struct Peer {
        std::uint64_t instance = 0;
        TimePoint lastHeard{};
        TimePoint lastSyncAsked{};
        TimePoint lastSyncAnswered{};
        bool syncAnswered = false;
        bool syncAsked = false;
        std::unordered_set<int> aircraft;
    };
    // Locations of one cell waiting for the end of the event-loop turn.
    struct PendingCell {
        std::string subject;
        std::string payload;
    };
    struct CellSubscription {
        natsSubscription *subscription = nullptr;
        TimePoint lastWanted{};
    };
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

    // --- library threads ---

    static void OnMessageEvent(natsConnection *, natsSubscription *, natsMsg *msg, void *closure) {
        auto *self = static_cast<NatsBridge *>(closure);
        Inbound inbound{Inbound::Message, natsMsg_GetSubject(msg), {}};
        int length = natsMsg_GetDataLength(msg);
        if (length > 0) inbound.data.assign(natsMsg_GetData(msg), static_cast<std::size_t>(length));
        natsMsg_Destroy(msg);
        self->Push(std::move(inbound));
    }
    static void OnConnectedEvent(natsConnection *, void *closure) {
        static_cast<NatsBridge *>(closure)->Push({Inbound::Connected, {}, {}});
    }
    static void OnDisconnectedEvent(natsConnection *, void *closure) {
        static_cast<NatsBridge *>(closure)->Push({Inbound::Disconnected, {}, {}});
    }

    void Push(Inbound &&inbound) {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(inboxMutex_);
            if (closing_) return;
            // Connection events are never dropped: they are few and change how the node behaves.
            if (inbound.type == Inbound::Message && inbox_.size() >= options_.maxInbound) {
                ++inboxDropped_;
                return;
            }
            inbox_.push_back(std::move(inbound));
            wake = !wakePending_;
            wakePending_ = true;
        }
        if (wake) post_([this] { Deliver(); });
    }

    // --- event-loop thread ---

    void Deliver() {
        std::vector<Inbound> batch;
        bool more = false;
        {
            std::lock_guard<std::mutex> lock(inboxMutex_);
            while (!inbox_.empty() && batch.size() < kDeliverBatch) {
                batch.push_back(std::move(inbox_.front()));
                inbox_.pop_front();
            }
            more = !inbox_.empty();
            wakePending_ = more;
        }
        if (more) post_([this] { Deliver(); });
        TimePoint now = Clock::now();
        for (Inbound &inbound : batch) {
            switch (inbound.type) {
                case Inbound::Connected:
                    OnConnected(now);
                    break;
                case Inbound::Disconnected:
                    if (connected_) spdlog::warn("node {}: lost its NATS server; reconnecting", options_.node);
                    connected_ = false;
                    break;
                case Inbound::Message:
                    Handle(inbound.subject, inbound.data, now);
                    break;
            }
        }
    }

    void OnConnected(TimePoint now) {
        char url[256] = "";
        natsConnection_GetConnectedUrl(connection_, url, sizeof url);
        spdlog::info("node {}: joined the network through {}", options_.node, url);
        if (everConnected_) ++reconnects_;
        everConnected_ = true;
        connected_ = true;
        lastBeat_ = TimePoint{};
        OnTick(now);
        // Learn the aircraft already flying elsewhere, and check this node's logins are still its own.
        ClusterMessage sync;
        sync.kind = ClusterKind::Sync;
        sync.node = options_.node;
        sync.instance = instance_;
        Publish(kEventSubject, EncodeClusterMessage(sync));
        Job refresh;
        refresh.type = Job::Refresh;
        Enqueue(std::move(refresh));
    }

    void Handle(const std::string &subject, const std::string &data, TimePoint now) {
        ClusterMessage message;
        if (data.size() > kMaxClusterPayload || !ParseClusterMessage(data, &message)) {
            Warn(malformedLog_, now,
                 "dropped a malformed network message on " + Preview(subject) + ": " + Preview(data));
            return;
        }
        // Locations come on cell subjects, or straight to this node when it asked for them; nothing else
        // comes on a cell subject.
        bool onCell = subject.compare(0, 13, "skorvale.loc.") == 0;
        bool location = message.kind == ClusterKind::Location;
        if (onCell != location && !(location && subject == ownSubject_)) {
            Warn(subjectLog_, now, "dropped a network message on the wrong subject " + Preview(subject));
            return;
        }
        if (message.node == options_.node) {
            Warn(nameLog_, now,
                 "dropped a network message from another node that calls itself " + options_.node +
                     ": node names must be unique");
            return;
        }
        Peer *peer = Touch(message.node, now);
        if (!peer) return;
        switch (message.kind) {
            case ClusterKind::Heartbeat:
            case ClusterKind::Sync:
                if (peer->instance != message.instance) {
                    if (peer->instance != 0) DropAircraftOf(message.node, *peer, "restarted", now);
                    peer->instance = message.instance;
                }
                if (message.kind == ClusterKind::Sync) AnswerSync(message.node, *peer, now);
                break;
            case ClusterKind::Gone:
                DropNode(message.node, "left the network", now);
                break;
            case ClusterKind::Aircraft:
                TakeAircraft(message, *peer, now);
                break;
            case ClusterKind::Location:
                for (const LocationEntry &entry : message.locations) {
                    auto owner = remote_.find(entry.uniqueId);
                    if (owner != remote_.end() && owner->second != message.node) {
                        Warn(foreignLog_, now,
                             "dropped a location of aircraft " + std::to_string(entry.uniqueId) + " from node " +
                                 message.node + ": it flies on node " + owner->second);
                    } else if (owner == remote_.end() || !relay_.OnRemoteLocation(entry.uniqueId, entry.fields, now)) {
                        // Its identity was missed (or has not arrived yet): ask its node again.
                        AskSync(message.node, *peer, now);
                    }
                }
                break;
            case ClusterKind::Leave: {
                auto owner = remote_.find(message.uniqueId);
                if (owner == remote_.end() || owner->second != message.node) break;
                remote_.erase(owner);
                peer->aircraft.erase(message.uniqueId);
                relay_.OnRemoteLeave(message.uniqueId);
                break;
            }
            case ClusterKind::Kick:
                relay_.OnReplacedElsewhere(message.uniqueId, message.node);
                break;
            case ClusterKind::Chat:
                relay_.OnRemoteChat(message.text);
                break;
        }
    }

    Peer *Touch(const std::string &node, TimePoint now) {
        auto found = peers_.find(node);
        if (found == peers_.end()) {
            if (peers_.size() >= options_.maxNodes) {
                Warn(capacityLog_, now,
                     "dropped a message from node " + node + ": already " + std::to_string(peers_.size()) +
                         " nodes in the network");
                return nullptr;
            }
            Say(nodeLog_, now, spdlog::level::info, "hears node " + node);
            found = peers_.emplace(node, Peer{}).first;
            found->second.lastHeard = now;
            // A node met for the first time (it started, or one of the two was cut off): learn its aircraft.
            AskSync(node, found->second, now);
        }
        found->second.lastHeard = now;
        return &found->second;
    }

    void TakeAircraft(const ClusterMessage &message, Peer &peer, TimePoint now) {
        auto owner = remote_.find(message.uniqueId);
        if (owner != remote_.end() && owner->second != message.node) {
            // The pilot logged in again on that node; the newer login holds the claim.
            auto previous = peers_.find(owner->second);
            if (previous != peers_.end()) previous->second.aircraft.erase(message.uniqueId);
            owner->second = message.node;
        } else if (owner == remote_.end()) {
            if (remote_.size() >= options_.maxRemoteAircraft) {
                Warn(capacityLog_, now,
                     "dropped aircraft " + std::to_string(message.uniqueId) + " of node " + message.node +
                         ": already " + std::to_string(remote_.size()) + " aircraft from other nodes");
                return;
            }
            if (local_.count(message.uniqueId) != 0) {
                Warn(capacityLog_, now,
                     "dropped aircraft " + std::to_string(message.uniqueId) + " of node " + message.node +
                         ": it is logged in here");
                return;
            }
            remote_.emplace(message.uniqueId, message.node);
        }
        peer.aircraft.insert(message.uniqueId);
        relay_.OnRemoteIdentity(message.identity, now);
    }

    void DropAircraftOf(const std::string &node, Peer &peer, const std::string &why, TimePoint now) {
        if (!peer.aircraft.empty()) {
            Say(nodeLog_, now, spdlog::level::info,
                "node " + node + " " + why + "; its " + std::to_string(peer.aircraft.size()) + " aircraft are gone");
        }
        for (int id : peer.aircraft) {
            remote_.erase(id);
            relay_.OnRemoteLeave(id);
        }
        peer.aircraft.clear();
    }

    void DropNode(const std::string &node, const std::string &why, TimePoint now) {
        auto found = peers_.find(node);
        if (found == peers_.end()) return;
        DropAircraftOf(node, found->second, why, now);
        Say(nodeLog_, now, spdlog::level::info, "node " + node + " " + why);
        peers_.erase(found);
    }

    // Sends this node's aircraft to a node that asked (it joined late, or came back), at most once a second.
    void AnswerSync(const std::string &node, Peer &peer, TimePoint now) {
        if (peer.syncAnswered && now - peer.lastSyncAnswered < std::chrono::seconds(1)) return;
        peer.syncAnswered = true;
        peer.lastSyncAnswered = now;
        std::string subject = NodeSubject(node), location;
        for (const auto &entry : local_) {
            if (!entry.second.identity.empty()) Publish(subject.c_str(), entry.second.identity);
            if (entry.second.fields.empty()) continue;
            StartLocations(location, options_.node);
            if (AppendLocation(location, entry.first, entry.second.fields)) Publish(subject.c_str(), location);
        }
    }

    // A location of an aircraft this node does not know: its identity was missed, so ask its node again.
    void AskSync(const std::string &node, Peer &peer, TimePoint now) {
        if (peer.syncAsked && now - peer.lastSyncAsked < std::chrono::seconds(2)) return;
        peer.syncAsked = true;
        peer.lastSyncAsked = now;
        ClusterMessage sync;
        sync.kind = ClusterKind::Sync;
        sync.node = options_.node;
        sync.instance = instance_;
        Publish(NodeSubject(node).c_str(), EncodeClusterMessage(sync));
    }

    // Listens to the cells around every local pilot (each one's cell and its eight neighbours), so an
    // aircraft just across a cell edge can still be among a receiver's nearest.
    void UpdateInterest(TimePoint now) {
        for (const auto &entry : local_) {
            if (entry.second.hasCell) ListenAround(entry.second.cell, now);
        }
        for (auto it = cells_.begin(); it != cells_.end();) {
            if (now - it->second.lastWanted >= options_.cellLinger) {
                natsSubscription_Unsubscribe(it->second.subscription);
                natsSubscription_Destroy(it->second.subscription);
                it = cells_.erase(it);
            } else {
                ++it;
            }
        }
    }

    void ListenAround(const Cell &center, TimePoint now) {
        for (int dLat = -1; dLat <= 1; ++dLat) {
            int latitude = center.latitude + dLat;
            if (latitude < -90 || latitude > 89) continue;
            for (int dLon = -1; dLon <= 1; ++dLon) {
                Cell cell = CellOf(latitude + 0.5, center.longitude + dLon + 0.5);
                auto found = cells_.find(cell);
                if (found == cells_.end()) {
                    CellSubscription subscription;
                    if (!Subscribe(&subscription.subscription, CellSubject(cell))) continue;
                    found = cells_.emplace(cell, subscription).first;
                }
                found->second.lastWanted = now;
            }
        }
    }

    bool Subscribe(natsSubscription **subscription, const std::string &subject) {
        natsStatus status =
            natsConnection_Subscribe(subscription, connection_, subject.c_str(), &NatsBridge::OnMessageEvent, this);
        if (status != NATS_OK) {
            Warn(publishLog_, Clock::now(), "cannot subscribe to " + subject + ": " + StatusText(status));
            *subscription = nullptr;
            return false;
        }
        return true;
    }

    void Publish(const char *subject, const std::string &payload) {
        natsStatus status =
            natsConnection_Publish(connection_, subject, payload.data(), static_cast<int>(payload.size()));
        if (status != NATS_OK) {
            Warn(publishLog_, Clock::now(), std::string("cannot publish on ") + subject + ": " + StatusText(status));
        }
    }

    void Warn(LogLimiter &limiter, TimePoint now, const std::string &line) {
        Say(limiter, now, spdlog::level::warn, line);
    }

    void Say(LogLimiter &limiter, TimePoint now, spdlog::level::level_enum level, const std::string &line) {
        std::uint64_t suppressed = 0;
        if (!limiter.Allow(now, &suppressed)) return;
        std::string written = "node " + options_.node + ": " + line;
        if (suppressed > 0) written += " (" + std::to_string(suppressed) + " similar lines suppressed)";
        spdlog::log(level, "{}", written);
        limiter.Charge(now, written.size());
    }

    // --- the login store, on the worker thread ---

    void Enqueue(Job &&job) {
        {
            std::lock_guard<std::mutex> lock(jobMutex_);
            jobs_.push_back(std::move(job));
        }
        jobReady_.notify_one();
    }

    void WorkerLoop() {
        auto nextRefresh = Clock::now() + options_.claimLifetime / 3;
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
                nextRefresh = Clock::now() + options_.claimLifetime / 3;
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

    bool StopRequested() {
        std::lock_guard<std::mutex> lock(jobMutex_);
        return workerStop_;
    }

    // A bare "no responders" tells an operator nothing: name the likely fixes, JetStream first.
    std::string StoreAdvice(natsStatus status) {
        std::string advice;
        if (status == NATS_NO_RESPONDERS || status == NATS_TIMEOUT) {
            advice += "; the login store needs JetStream: start every NATS server with -js";
        }
        char **servers = nullptr;
        int count = 0;
        if (natsConnection_GetServers(connection_, &servers, &count) == NATS_OK) {
            for (int i = 0; i < count; ++i) free(servers[i]);
            free(servers);
        }
        if (count > 0 && options_.storeReplicas > count) {
            advice += "; --store-replicas " + std::to_string(options_.storeReplicas) + " is more than the " +
                      std::to_string(count) + " NATS server(s) this node knows of: use at most " +
                      std::to_string(count);
        } else if (count > 0) {
            advice += "; --store-replicas " + std::to_string(options_.storeReplicas) + " fits the " +
                      std::to_string(count) + " NATS server(s) this node knows of";
        }
        return advice;
    }

    bool OpenStore() {
        if (kv_) return true;
        if (natsConnection_Status(connection_) != NATS_CONN_STATUS_CONNECTED) return false;
        if (!js_) {
            jsOptions jsOpts;
            jsOptions_Init(&jsOpts);
            jsOpts.Wait = 1000;
            if (natsConnection_JetStream(&js_, connection_, &jsOpts) != NATS_OK) return false;
        }
        natsStatus status = js_KeyValue(&kv_, js_, kLoginBucket);
        if (status != NATS_OK) {
            kvConfig config;
            kvConfig_Init(&config);
            config.Bucket = kLoginBucket;
            config.History = 1;
            config.TTL = std::chrono::duration_cast<std::chrono::nanoseconds>(options_.claimLifetime).count();
            config.Replicas = options_.storeReplicas;
            status = js_CreateKeyValue(&kv_, js_, &config);
        }
        if (status != NATS_OK) {
            kv_ = nullptr;
            storeReady_ = false;
            ++storeErrors_;
            Warn(storeLog_, Clock::now(),
                 "the login store is not available yet: " + StatusText(status) + StoreAdvice(status));
            return false;
        }
        spdlog::info("node {}: login store ready", options_.node);
        storeReady_ = true;
        return true;
    }

    void RunClaim(const Job &job) {
        Claim mine{options_.node, instance_, job.uniqueId, job.address, UserKey(job.user)};
        std::string value = EncodeClaim(mine);
        std::string keys[2] = {IdKey(job.uniqueId), mine.userKey};
        std::vector<Claim> replaced;
        auto deadline = job.queued + options_.claimTimeout;
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
                if (kvStore_Create(&revision, kv_, key.c_str(), value.data(), static_cast<int>(value.size())) ==
                    NATS_OK) {
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
                Claim holder;
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
        for (const Claim &old : replaced) {
            if (old.node == options_.node && old.instance == instance_) {
                if (old.uniqueId != job.uniqueId) {
                    int id = old.uniqueId;
                    post_([this, id] { relay_.OnReplacedElsewhere(id, options_.node); });
                }
            } else if (old.node != options_.node) {
                ClusterMessage kick;
                kick.kind = ClusterKind::Kick;
                kick.node = options_.node;
                kick.uniqueId = old.uniqueId;
                std::string payload = EncodeClusterMessage(kick);
                natsConnection_Publish(connection_, kEventSubject, payload.data(), static_cast<int>(payload.size()));
            }
        }
        ConnectionId connection = job.connection;
        int uniqueId = job.uniqueId;
        std::string user = job.user;
        post_([this, connection, uniqueId, user] {
            local_[uniqueId] = Local{};
            local_[uniqueId].connection = connection;
            if (!relay_.OnLoginClaimed(connection, true, std::string(), Clock::now())) {
                auto found = local_.find(uniqueId);
                if (found != local_.end() && found->second.connection == connection) local_.erase(found);
                Job release;
                release.type = Job::Release;
                release.connection = connection;
                release.uniqueId = uniqueId;
                release.user = user;
                Enqueue(std::move(release));
            }
        });
    }

    void RunRelease(const Job &job) {
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
    void RefreshClaims() {
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
                if (kvStore_Create(&revision, kv_, key.c_str(), held.value.data(),
                                   static_cast<int>(held.value.size())) == NATS_OK) {
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

    ClusterOptions options_;
    Relay &relay_;
    Post post_;
    Later later_;
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
    TimePoint lastBeat_{};
    std::unordered_map<int, Local> local_;
    std::unordered_map<int, std::string> remote_;  // aircraft of other nodes, by unique ID: their node
    std::map<std::string, Peer> peers_;
    std::map<Cell, CellSubscription> cells_;
    std::vector<PendingCell> pending_;
    bool flushPosted_ = false;
    // One line of each kind a second, so one kind of bad message cannot hide another.
    LogLimiter malformedLog_, subjectLog_, nameLog_, foreignLog_, capacityLog_, publishLog_, overflowLog_;
    // Nodes coming and going: bursts as large as a whole network starting together.
    LogLimiter nodeLog_{std::chrono::milliseconds(100), 64};

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

}  // namespace

std::unique_ptr<ClusterBridge> StartNatsBridge(const ClusterOptions &options, Relay &relay, ClusterBridge::Post post,
                                               ClusterBridge::Later later) {
    auto bridge = std::make_unique<NatsBridge>(options, relay, std::move(post), std::move(later));
    bridge->Begin();
    return bridge;
}

}  // namespace server
