// The node's connection to the NATS servers, and the hand-over of what it hears to the event-loop thread.
// Options and secrets, subscriptions and publishing live here too.
#include "server/nats/NatsLink.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

#include "server/core/Text.h"
#include "server/nats/Nkey.h"

namespace server {

namespace {

// Network messages handed to the relay per event-loop turn, so datagrams and timers get their turn.
constexpr std::size_t kDeliverBatch = 1024;

// A server URL as it may be logged: any "user:password@" taken out.
std::string UrlWithoutUser(std::string_view url) {
    std::size_t scheme = url.find("://");
    std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    std::size_t at = url.find('@', start);
    if (at == std::string_view::npos || url.find('/', start) < at) return std::string(url);
    return std::string(url.substr(0, start)) + std::string(url.substr(at + 1));
}

// Credentials and TLS. Throws std::invalid_argument naming the flag whose file cannot be used.
void Secure(natsOptions *opts, const ClusterOptions &options) {
    auto check = [](natsStatus status, const char *flag, const std::string &file) {
        if (status != NATS_OK) {
            throw std::invalid_argument(std::string(flag) + " " + file + ": " + StatusText(status));
        }
    };
    if (!options.credentialsFile.empty()) {
        check(natsOptions_SetUserCredentialsFromFiles(opts, options.credentialsFile.c_str(), nullptr), "--nats-creds",
              options.credentialsFile);
    }
    if (!options.nkeyFile.empty()) {
        // The library reads the seed itself at every connection; the public key is told to the server.
        if (!options.credentialsFile.empty() || !options.user.empty()) {
            throw std::invalid_argument("--nats-nkey cannot be given with --nats-creds or --nats-user: choose one");
        }
        std::string publicKey = NkeyPublicKeyOfSeedFile(options.nkeyFile);
        check(natsOptions_SetNKeyFromSeed(opts, publicKey.c_str(), options.nkeyFile.c_str()), "--nats-nkey",
              options.nkeyFile);
    }
    if (!options.user.empty()) {
        std::ifstream file(options.passwordFile);
        std::string password;
        if (options.passwordFile.empty() || !std::getline(file, password) || password.empty()) {
            throw std::invalid_argument("--nats-user needs --nats-password-file with the password on its first line");
        }
        if (!password.empty() && password.back() == '\r') password.pop_back();
        check(natsOptions_SetUserInfo(opts, options.user.c_str(), password.c_str()), "--nats-user", options.user);
    }
    if (!options.tlsCa.empty() || !options.tlsCertificate.empty()) {
        check(natsOptions_SetSecure(opts, true), "--nats-tls-ca", options.tlsCa);
    }
    if (!options.tlsCa.empty()) {
        check(natsOptions_LoadCATrustedCertificates(opts, options.tlsCa.c_str()), "--nats-tls-ca", options.tlsCa);
    }
    if (!options.tlsCertificate.empty() || !options.tlsKey.empty()) {
        check(natsOptions_LoadCertificatesChain(opts, options.tlsCertificate.c_str(), options.tlsKey.c_str()),
              "--nats-tls-cert", options.tlsCertificate);
    }
}

}  // namespace

std::string StatusText(natsStatus status) {
    const char *last = nats_GetLastError(nullptr);
    std::string text = natsStatus_GetText(status);
    if (last && *last) text += std::string(" (") + last + ")";
    return text;
}

NatsLink::NatsLink(const ClusterOptions &options, ClusterBridge::Post post, Receiver &receiver)
    : options_(options), post_(std::move(post)), receiver_(receiver) {
    if (!IsValidNodeName(options.node)) {
        throw std::invalid_argument("node name '" + Preview(options.node) +
                                    "' must be 1 to 32 letters, digits, '-' or '_'");
    }
    if (options.urls.empty()) throw std::invalid_argument("no NATS server given");
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
    try {
        Secure(opts, options);
    } catch (...) {
        natsOptions_Destroy(opts);
        throw;
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
    natsOptions_SetDisconnectedCB(opts, &NatsLink::OnDisconnectedEvent, this);
    natsOptions_SetReconnectedCB(opts, &NatsLink::OnConnectedEvent, this);
    natsOptions_SetRetryOnFailedConnect(opts, true, &NatsLink::OnConnectedEvent, this);
    options_nats_ = opts;
}

NatsLink::~NatsLink() {
    Close();
    natsSubscription_Destroy(eventSub_);
    natsSubscription_Destroy(nodeSub_);
    if (connection_) {
        natsConnection_Close(connection_);
        natsConnection_Destroy(connection_);
    }
    natsOptions_Destroy(options_nats_);
    // The library's threads may still be inside a callback that holds `this`.
    nats_CloseAndWait(2000);
}

void NatsLink::Begin() {
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
}

void NatsLink::Close() {
    std::lock_guard<std::mutex> lock(inboxMutex_);
    closing_ = true;
}

void NatsLink::Tick(TimePoint now) {
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

std::string NatsLink::Encode(ClusterMessage message) const {
    message.version = options_.protocol;
    return EncodeClusterMessage(message);
}

void NatsLink::Publish(const char *subject, const std::string &payload) {
    natsStatus status = natsConnection_Publish(connection_, subject, payload.data(), static_cast<int>(payload.size()));
    if (status != NATS_OK) {
        Warn(publishLog_, Clock::now(), std::string("cannot publish on ") + subject + ": " + StatusText(status));
    }
}

bool NatsLink::Subscribe(natsSubscription **subscription, const std::string &subject) {
    natsStatus status =
        natsConnection_Subscribe(subscription, connection_, subject.c_str(), &NatsLink::OnMessageEvent, this);
    if (status != NATS_OK) {
        Warn(publishLog_, Clock::now(), "cannot subscribe to " + subject + ": " + StatusText(status));
        *subscription = nullptr;
        return false;
    }
    return true;
}

void NatsLink::Flush(int milliseconds) { natsConnection_FlushTimeout(connection_, milliseconds); }

void NatsLink::Say(LogLimiter &limiter, TimePoint now, spdlog::level::level_enum level, const std::string &line) {
    std::uint64_t suppressed = 0;
    if (!limiter.Allow(now, &suppressed)) return;
    std::string written = "node " + options_.node + ": " + line;
    if (suppressed > 0) written += " (" + std::to_string(suppressed) + " similar lines suppressed)";
    spdlog::log(level, "{}", written);
    limiter.Charge(now, written.size());
}

// --- library threads ---

void NatsLink::OnMessageEvent(natsConnection *, natsSubscription *, natsMsg *msg, void *closure) {
    auto *self = static_cast<NatsLink *>(closure);
    Inbound inbound{Inbound::Message, natsMsg_GetSubject(msg), {}};
    int length = natsMsg_GetDataLength(msg);
    if (length > 0) inbound.data.assign(natsMsg_GetData(msg), static_cast<std::size_t>(length));
    natsMsg_Destroy(msg);
    self->Push(std::move(inbound));
}

void NatsLink::OnConnectedEvent(natsConnection *, void *closure) {
    static_cast<NatsLink *>(closure)->Push({Inbound::Connected, {}, {}});
}

void NatsLink::OnDisconnectedEvent(natsConnection *, void *closure) {
    static_cast<NatsLink *>(closure)->Push({Inbound::Disconnected, {}, {}});
}

void NatsLink::Push(Inbound &&inbound) {
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

void NatsLink::Deliver() {
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
                Joined(now);
                break;
            case Inbound::Disconnected:
                if (connected_) spdlog::warn("node {}: lost its NATS server; reconnecting", options_.node);
                connected_ = false;
                break;
            case Inbound::Message:
                receiver_.OnMessage(inbound.subject, inbound.data, now);
                break;
        }
    }
}

void NatsLink::Joined(TimePoint now) {
    char url[256] = "";
    natsConnection_GetConnectedUrl(connection_, url, sizeof url);
    spdlog::info("node {}: joined the network through {}", options_.node, UrlWithoutUser(url));
    if (everConnected_) ++reconnects_;
    everConnected_ = true;
    connected_ = true;
    receiver_.OnConnected(now);
}

}  // namespace server
