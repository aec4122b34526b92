// The NATS edge of a node: its parts composed behind the relay's ClusterLink.
// The connection, publishing, hearing the other nodes, login claims, operators' actions and the ban store
// are each a part of their own.
#include "server/nats/NatsBridge.h"

#include "server/core/Relay.h"
#include "server/nats/AdminMessages.h"
#include "server/nats/BanStore.h"
#include "server/nats/CellInterest.h"
#include "server/nats/LoginClaims.h"
#include "server/nats/NatsLink.h"
#include "server/nats/OtherNodes.h"
#include "server/nats/Publisher.h"

namespace server {

namespace {

class NatsBridge : public ClusterBridge, private NatsLink::Receiver {
public:
    NatsBridge(const ClusterOptions &options, Relay &relay, Post post, Later later)
        : relay_(relay),
          link_(options, post, *this),
          interest_(link_),
          publisher_(link_, interest_, post, std::move(later)),
          bans_(link_, post, [this](const std::vector<ClusterMessage> &stored) { admin_.Learn(stored); }),
          admin_(link_, relay, bans_),
          others_(link_, relay, publisher_, admin_),
          claims_(link_, relay, post,
                  [this](ConnectionId connection, int uniqueId) { return Granted(connection, uniqueId); }) {}

    ~NatsBridge() override {
        // Nothing more reaches the parts; the workers of the claims and the bans stop before the connection closes.
        link_.Close();
    }

    void Begin() {
        link_.Begin();
        claims_.Begin();
        bans_.Begin();
    }

    // --- ClusterLink, on the event-loop thread ---

    void ClaimLogin(ConnectionId connection, int uniqueId, std::string_view user, std::uint32_t address) override {
        claims_.Claim(connection, uniqueId, user, address);
    }

    void ReleaseLogin(ConnectionId connection, int uniqueId, std::string_view user) override {
        publisher_.Remove(connection, uniqueId, true);
        claims_.Release(connection, uniqueId, user);
    }

    void PublishIdentity(const AircraftIdentity &identity) override { publisher_.Identity(identity); }

    void PublishLocation(int uniqueId, std::string_view fields, bool shown) override {
        publisher_.Location(uniqueId, fields, shown);
    }

    void PublishChat(std::string_view line) override { publisher_.Chat(line); }

    void PublishOperatorAction(const OperatorAction &action) override { admin_.Publish(action); }

    // --- ClusterBridge ---

    void OnTick(TimePoint now) override {
        publisher_.Heartbeat(now);
        others_.Tick(now);
        publisher_.ForEachCell([&](const Cell &cell) { interest_.ListenAround(cell, now); });
        interest_.Linger(now);
        link_.Tick(now);
    }

    void FillState(NodeState &state) const override {
        state.clustered = true;
        state.networkConnected = link_.Connected();
        state.networkReconnects = link_.Reconnects();
        state.networkDropped = link_.Dropped();
        state.remoteAircraft = others_.RemoteAircraft();
        state.loginStoreReady = claims_.Ready();
        state.loginStoreErrors = claims_.Errors();
    }

    void Stop() override {
        if (!link_.Connection() || !link_.Connected()) return;
        ClusterMessage gone;
        gone.kind = ClusterKind::Gone;
        gone.node = link_.Node();
        gone.instance = link_.Instance();
        link_.Send(kEventSubject, gone);
        link_.Flush(500);
    }

private:
    // --- NatsLink::Receiver ---

    void OnConnected(TimePoint now) override {
        publisher_.RestartHeartbeat();
        OnTick(now);
        // Learn the aircraft already flying elsewhere, and check this node's logins are still its own.
        ClusterMessage sync;
        sync.kind = ClusterKind::Sync;
        sync.node = link_.Node();
        sync.instance = link_.Instance();
        link_.Send(kEventSubject, sync);
        claims_.Refresh();
        bans_.Read();
    }

    void OnMessage(const std::string &subject, const std::string &data, TimePoint now) override {
        others_.Hear(subject, data, now);
    }

    // A login the store granted: this node's aircraft from now on, unless the relay no longer wants it.
    bool Granted(ConnectionId connection, int uniqueId) {
        publisher_.Add(connection, uniqueId);
        if (relay_.OnLoginClaimed(connection, true, std::string(), Clock::now())) return true;
        publisher_.Remove(connection, uniqueId, false);
        return false;
    }

    Relay &relay_;
    // Declared in the order they are built: each part uses only those above it, and they are destroyed in
    // reverse, the claims' worker first and the connection last.
    NatsLink link_;
    CellInterest interest_;
    Publisher publisher_;
    BanStore bans_;
    AdminMessages admin_;
    OtherNodes others_;
    LoginClaims claims_;
};

}  // namespace

std::unique_ptr<ClusterBridge> StartNatsBridge(const ClusterOptions &options, Relay &relay, ClusterBridge::Post post,
                                               ClusterBridge::Later later) {
    auto bridge = std::make_unique<NatsBridge>(options, relay, std::move(post), std::move(later));
    bridge->Begin();
    return bridge;
}

}  // namespace server
