// The relay: logins, per-receiver slot numbers, and the forwarding of every client message. It keeps the
// connections and the dispatch of their stream lines, and gives the rest to its parts (the login gate,
// crews, views, identities, locations, chat and the other nodes' aircraft).
//
// Transport-independent and single-threaded: the network layer (or a test, or a fuzzer) calls the
// On... functions from one thread with the current time, and the relay answers through its
// Transport. No call blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/core/BanList.h"
#include "server/core/Chat.h"
#include "server/core/Cluster.h"
#include "server/core/Counters.h"
#include "server/core/Crews.h"
#include "server/core/Identities.h"
#include "server/core/Locations.h"
#include "server/core/LogLimiter.h"
#include "server/core/LoginGate.h"
#include "server/core/Notice.h"
#include "server/core/RelayClient.h"
#include "server/core/RelayLimits.h"
#include "server/core/RemoteAircraft.h"
#include "server/core/Shares.h"
#include "server/core/TrafficObserver.h"
#include "server/core/Transport.h"
#include "server/core/Views.h"

namespace server {

class Relay {
public:
    Relay(Transport &transport, RelayLimits limits);
    ~Relay();
    Relay(const Relay &) = delete;
    Relay &operator=(const Relay &) = delete;

    // A new stream connection from `address` (IPv4, host byte order). Over the client limit it is closed.
    void OnConnect(ConnectionId connection, std::uint32_t address, TimePoint now);
    void OnStreamData(ConnectionId connection, const char *data, std::size_t size, TimePoint now);
    // The peer closed the connection, it failed, or the transport dropped it.
    void OnDisconnect(ConnectionId connection, const char *reason);
    void OnDatagram(const Endpoint &from, const char *data, std::size_t size, TimePoint now);
    // The answer to Transport::CheckLogin.
    void OnLoginChecked(std::uint64_t ticket, LoginResult result, TimePoint now);

    // Joins the relay to a network of nodes; without one it runs alone. Set once, before the first call.
    void SetCluster(ClusterLink *cluster);
    // From the bridge to the other nodes, on the same thread as every other call:
    // the network's answer to a ClaimLogin (refused: `reason` says why). Returns false when the
    // connection is gone (a granted claim must then be given back).
    bool OnLoginClaimed(ConnectionId connection, bool granted, const std::string &reason, TimePoint now);
    // A newer login of the same user replaced this local session elsewhere.
    void OnReplacedElsewhere(int uniqueId, const std::string &where);
    // Aircraft of other nodes: they take slots like local ones, but are never receivers here.
    void OnRemoteIdentity(const AircraftIdentity &identity, TimePoint now);
    // False when no aircraft of another node has that ID here (its identity has not arrived).
    bool OnRemoteLocation(int uniqueId, std::string_view fields, TimePoint now);
    void OnRemoteLeave(int uniqueId);
    void OnRemoteChat(std::string_view line);
    // The accounts changed: ends the sessions here of every user not among `users`, the ones that may log
    // in now (an account removed or disabled).
    void KeepOnlyUsers(const std::vector<std::string> &users);
    // Operator control, on the same thread as every other call. Bans are checked at every connect and
    // login (`bans` must outlive the relay; null: none).
    void SetBans(const BanList *bans) { bans_ = bans; }
    // Ends the sessions here that a ban now covers; returns how many.
    std::size_t EndBanned(std::int64_t wallNow);
    // Ends the sessions here of `user`, telling them why (`text` follows "session ended: "); returns how many.
    std::size_t Kick(std::string_view user, std::string_view text);
    // A chat line from the server to every pilot here, and the one each pilot is sent when it logs in.
    void Say(std::string_view text);
    void SetMotd(std::string text) { motd_ = std::move(text); }
    // Operator actions cross the network through the relay's link: out to the other nodes, and in from
    // them to `handler` (the admin commands).
    void PublishOperatorAction(const OperatorAction &action) {
        if (cluster_) cluster_->PublishOperatorAction(action);
    }
    bool InNetwork() const { return cluster_ != nullptr; }
    void SetOperatorHandler(std::function<void(const OperatorAction &)> handler) {
        operatorHandler_ = std::move(handler);
    }
    void OnOperatorAction(const OperatorAction &action) {
        if (operatorHandler_) operatorHandler_(action);
    }
    struct Session {
        int uniqueId = 0;
        std::string user, callsign, crew;
        std::uint32_t address = 0;  // 0 for a pilot on another node
        bool remote = false, viewOnly = false;
        std::string node;  // for a pilot on another node: that node, when known
        int position = 0;
        std::uint64_t since = 0;  // microseconds since 1970
    };
    std::vector<Session> Sessions() const;
    // New limits, from a reload: the running clients' rates change at once, connections keep their line
    // buffers, and the replay memory keeps the size it started with.
    void SetLimits(const RelayLimits &limits);
    // The server is stopping: every local client is told `notice` (a chat line from the server), and new
    // logins are refused with it. The network layer closes the connections later.
    void StartDrain(const std::string &notice);
    bool Draining() const { return draining_; }
    // Clients logged in to this node (the other nodes' aircraft not counted).
    std::size_t LocalClientCount() const;

    // Called about ten times a second: timeouts, held-back changes, and the re-evaluation of who sees whom.
    void OnTick(TimePoint now);
    // Ends a connection with a notice line saying why ("session ended: <text>"), closing it once the line
    // is sent. With Retry::Never (a kick, a ban) the plug-in does not reconnect by itself.
    void EndSession(ConnectionId connection, std::string_view text, Retry retry);

    // For tests and the log: logged-in clients, and the slot in which a receiver shows an aircraft (0: not shown).
    std::size_t ClientCount() const { return clients_.size(); }
    std::size_t ConnectionCount() const { return connections_.size(); }
    int SlotOf(int receiverId, int aircraftId) const;

    // For the web observer and the metrics. The network layer adds to the counters what only it sees.
    RelayCounters &Counters() { return counters_; }
    // The budget of log lines outsiders can cause, for the network layer's such lines too.
    LogBudget &OutsiderLog() { return logBudget_; }
    // The aircraft shown, the chat said since the previous call, the client counts and the counters. Chat
    // is kept for it (a bounded number of lines) only once it has been called.
    void Snapshot(TrafficSnapshot &snapshot);

private:
    bool HandleLine(Connection &connection, std::string_view line, TimePoint now);
    bool HandleLogin(Connection &connection, std::string_view line, TimePoint now);
    void CompleteLogin(Connection &connection, TimePoint now);
    void HandleHeldLines(Connection &connection, TimePoint now);
    // Refuses a login: `why` for the log (nullptr: logged already), `reason` for the metrics, `told` for the
    // client's notice line.
    void RefuseLogin(Connection &connection, TimePoint now, const char *why, bool countsAsFailure, Refusal reason,
                     const std::string &told, Retry retry = Retry::Later);
    bool MakeRoom(TimePoint now);
    const char *OverSessionLimit(const Connection &connection) const;
    void Admit(Connection &connection, TimePoint now);
    void CloseConnection(ConnectionId connection, const char *reason, bool afterSending = false);
    // For a connection the relay never took in: the notice, then the close once it is sent.
    void SendNoticeAndClose(ConnectionId connection, std::string_view text, Retry retry);
    std::string LockedOutText(std::uint32_t address, TimePoint now) const;
    void RemoveClient(Client &client, TimePoint now);

    Transport &transport_;
    RelayLimits limits_;
    LogBudget logBudget_;
    LogBudget sessionLogBudget_;  // logins, logouts and refusals: outsiders' garbage cannot use it up
    std::unordered_map<ConnectionId, std::unique_ptr<Connection>> connections_;
    Clients clients_;
    std::unordered_map<std::string, int> sessionsByUser_;  // this node's logged-in users, to their unique IDs
    // Counted by the parts, and by the network layer for what only it sees; the web observer reads them.
    RelayCounters counters_;
    // Its parts, each of one concern; they share the clients above and run on this thread.
    LoginGate gate_;
    Crews crews_;
    Views views_;
    Identities identities_;
    RemoteAircraft remote_;
    Shares shares_;
    Locations locations_;
    Chat chat_;
    std::uint64_t nextOrder_ = 0;
    ClusterLink *cluster_ = nullptr;
    const BanList *bans_ = nullptr;
    std::string motd_;
    std::function<void(const OperatorAction &)> operatorHandler_;
    bool draining_ = false;
    std::string drainNotice_;
    TimePoint now_{};  // the latest time the relay was given, for the calls that come without one
    LogLimiter badLineLog_{std::chrono::seconds(1), 10};
    // Lines anyone can cause by connecting or logging in: a budget per kind, with bursts large enough for
    // a crowd arriving together.
    LogLimiter connectLog_{std::chrono::milliseconds(100), 50}, refusedLog_{std::chrono::milliseconds(100), 50};
    LogLimiter coolOffLog_{std::chrono::seconds(1), 10}, loginLog_{std::chrono::milliseconds(100), 50};
    LogLimiter leaveLog_{std::chrono::milliseconds(100), 50};
};

}  // namespace server
