// The relay: logins, per-receiver slot numbers, and the forwarding of every client message.
//
// Transport-independent and single-threaded: the network layer (or a test, or a fuzzer) calls the
// On... functions from one thread with the current time, and the relay answers through its
// Transport. No call blocks.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/core/Cluster.h"
#include "server/core/Counters.h"
#include "server/core/LineBuffer.h"
#include "server/core/LogLimiter.h"
#include "server/core/ReplayMemory.h"
#include "server/core/TrafficObserver.h"
#include "server/core/Transport.h"
#include "server/core/ViewPlanner.h"

namespace server {

// Every bound the server keeps on what outsiders can make it do. Each has a flag in main.cpp and a line
// in the README.
struct RelayLimits {
    std::size_t maxClients = 100;                               // open connections, logged in or not
    std::size_t maxLineLength = 4096;                           // one stream line, bytes
    Clock::duration silenceTimeout = std::chrono::seconds(30);  // no message at all: removed
    Clock::duration loginTimeout = std::chrono::seconds(10);    // connected but no opening message
    Clock::duration viewPeriod = std::chrono::seconds(1);       // nearest-aircraft re-evaluation

    // What one sender may have relayed: a sustained rate a second and a burst (token buckets).
    double chatRate = 2;  // chat lines
    double chatBurst = 5;
    double identityRate = 1;  // changes of callsign, of crew and of model, each
    double identityBurst = 3;
    double locationRate = 100;  // location datagrams; the rest are skipped, so a faster sender is thinned
    double locationBurst = 3;

    // A receiver's unsent stream output. Chat is not queued to a receiver holding more than the chat
    // share, so chat alone never makes it look like a receiver that stopped reading; one holding more
    // than maxQueuedBytes for stallTimeout, or twice that at any time, is dropped.
    std::size_t maxQueuedBytes = 256 * 1024;
    std::size_t chatQueueShare = 64 * 1024;
    Clock::duration stallTimeout = std::chrono::seconds(5);

    // Logins, per source address.
    std::size_t maxPendingPerAddress = 8;                     // connections that have not logged in
    int maxLoginFailures = 10;                                // a minute; then refused for a cooling-off
    Clock::duration loginCoolOff = std::chrono::seconds(60);  // doubled for each one in a row, up to 64x
    Clock::duration refusalDelay = std::chrono::seconds(1);   // a refused login waits this before it is closed
    // A login line (unique ID and digest) is accepted again only from the address that first used it,
    // while that session is live or for this long after it ended.
    Clock::duration replayWindow = std::chrono::hours(1);
    // What is remembered of accepted login lines: a capacity in bytes, and the lines each account keeps
    // however many the others make.
    std::size_t replayMemoryBytes = 8 << 20;
    std::size_t replayPerAccount = 64;
    // Places of maxClients that connections which have not sent a login line cannot take: when they hold
    // all the others, the oldest of them gives way to a newcomer.
    std::size_t reservedClients = 25;
    // Log lines a minute that outsiders can cause, all kinds together (a burst of as many may come at once).
    double logBudget = 120;
};

// Slots 1..19 are other aircraft; slot 0 is the receiver's own and never given out.
constexpr int kSlotCount = 20;

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
    void SetCluster(ClusterLink *cluster) { cluster_ = cluster; }
    // From the bridge to the other nodes, on the same thread as every other call:
    // the network's answer to a ClaimLogin (refused: `reason` says why). Returns false when the
    // connection is gone (a granted claim must then be given back).
    bool OnLoginClaimed(ConnectionId connection, bool granted, const std::string &reason, TimePoint now);
    // A newer login of the same pilot (same user, same address) replaced this local session elsewhere.
    void OnReplacedElsewhere(int uniqueId, const std::string &where);
    // Aircraft of other nodes: they take slots like local ones, but are never receivers here.
    void OnRemoteIdentity(const AircraftIdentity &identity, TimePoint now);
    // False when no aircraft of another node has that ID here (its identity has not arrived).
    bool OnRemoteLocation(int uniqueId, std::string_view fields, TimePoint now);
    void OnRemoteLeave(int uniqueId);
    void OnRemoteChat(std::string_view line);
    // Called about ten times a second: timeouts, held-back changes, and the re-evaluation of who sees whom.
    void OnTick(TimePoint now);

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
    struct Client;
    struct Connection;
    struct Viewer {
        Client *receiver;
        int slot;
    };
    // What the relay remembers of one source address: its connections not logged in, and its failed logins.
    struct AddressRecord {
        std::size_t pending = 0;
        int failures = 0;  // in the minute since failureWindow
        TimePoint failureWindow{};
        TimePoint lastFailure{};
        TimePoint coolingUntil{};
        int coolOffs = 0;  // in a row, for the growing cooling-off
    };

    bool HandleLine(Connection &connection, std::string_view line, TimePoint now);
    bool HandleLogin(Connection &connection, std::string_view line, TimePoint now);
    void CompleteLogin(Connection &connection, TimePoint now);
    void RefuseLogin(Connection &connection, TimePoint now, const char *why, bool countsAsFailure);
    void ReleasePending(Connection &connection);
    bool MakeRoom(TimePoint now);
    void HandleCrew(Client &client, std::string crew, int position, bool crewedWithoutId, TimePoint now);
    void SetCrew(Client &client, std::string crew, int position, bool crewedWithoutId);
    void Admit(Connection &connection, TimePoint now);
    void PublishIdentity(const Client &client);
    void HandleChat(Client &client, std::string_view text, TimePoint now);
    void OfferCallsign(Client &client, std::string callsign, bool viewOnly, TimePoint now);
    void OfferPlane(Client &client, std::string plane, TimePoint now);
    void ApplyHeld(Client &client, TimePoint now);
    void ForwardLocation(Client &client);
    bool FollowEndpoint(Client &client, const Endpoint &from, TimePoint now);
    void CountExcess(Client &client, TimePoint now, std::uint64_t Client::*counter);
    void ClaimCrew(Client &client);
    void HandOverCrew(const std::string &crew, const Client &leaving);
    void ResendCrew(Client &client);
    const std::string &EffectiveCrew(const Client &client) const;
    void CloseConnection(ConnectionId connection, const char *reason);
    void RemoveClient(Client &client, TimePoint now);
    void ExpireRecords(TimePoint now);
    void RefreshViews(TimePoint now);
    void RefreshView(Client &receiver);
    void GiveSlot(Client &receiver, Client &aircraft, int slot);
    void FreeSlot(Client &receiver, int slot);
    void SendToViewers(Client &aircraft, char type, const std::string &text);
    void SendSlotText(Client &receiver, int slot, char type, std::string_view text);
    std::string CrewTextFor(const Client &receiver, const Client &aircraft) const;
    bool IsShownAsAircraft(const Client &client) const;
    bool IsCrewMember(const Client &client) const;

    Transport &transport_;
    RelayLimits limits_;
    std::unordered_map<ConnectionId, std::unique_ptr<Connection>> connections_;
    std::unordered_map<int, std::unique_ptr<Client>> clients_;  // by unique ID
    std::unordered_map<std::string, Client *> crewOwners_;      // crew ID: its first pilot, while connected
    std::unordered_map<std::uint32_t, AddressRecord> addresses_;
    std::map<std::uint64_t, ConnectionId> waiting_;  // connections that sent no login line yet, oldest first
    std::uint64_t nextArrival_ = 0;
    ReplayMemory seenLogins_;
    std::unordered_map<std::uint64_t, ConnectionId> checking_;  // login checks under way, by ticket
    std::uint64_t nextTicket_ = 1;
    std::uint64_t nextOrder_ = 0;
    ClusterLink *cluster_ = nullptr;
    bool viewsDirty_ = false;
    TimePoint lastViewRefresh_{};
    TimePoint lastExpiry_{};
    TimePoint now_{};  // the latest time the relay was given, for the calls that come without one
    std::vector<OutboundDatagram> batch_;
    std::vector<ViewCandidate> candidates_;
    std::vector<Client *> candidateClients_;
    LogBudget logBudget_;
    LogLimiter badDatagramLog_, unknownSenderLog_, badLineLog_{std::chrono::seconds(1), 10};
    // Lines anyone can cause by connecting or logging in: a budget per kind, with bursts large enough for
    // a crowd arriving together.
    LogLimiter connectLog_{std::chrono::milliseconds(100), 50}, refusedLog_{std::chrono::milliseconds(100), 50};
    LogLimiter coolOffLog_{std::chrono::seconds(1), 10}, loginLog_{std::chrono::milliseconds(100), 50};
    LogLimiter leaveLog_{std::chrono::milliseconds(100), 50}, endpointLog_{std::chrono::milliseconds(100), 50};
    LogLimiter crewLog_{std::chrono::seconds(1), 10}, slowReaderLog_, remoteLog_{std::chrono::seconds(1), 10};

    // The web observer's share.
    RelayCounters counters_;
    std::vector<ChatLine> snapshotChat_;
    bool observed_ = false;
};

}  // namespace server
