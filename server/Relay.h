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
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/Authenticator.h"
#include "server/Counters.h"
#include "server/LineBuffer.h"
#include "server/LogLimiter.h"
#include "server/TrafficObserver.h"
#include "server/Transport.h"
#include "server/ViewPlanner.h"

namespace server {

struct RelayLimits {
    std::size_t maxClients = 100;                               // open connections, logged in or not
    std::size_t maxLineLength = 4096;                           // one stream line, bytes
    int maxDatagramsPerSecond = 200;                            // per client; more are dropped
    Clock::duration silenceTimeout = std::chrono::seconds(30);  // no message at all: removed
    Clock::duration loginTimeout = std::chrono::seconds(10);    // connected but no opening message
    Clock::duration viewPeriod = std::chrono::seconds(1);       // nearest-aircraft re-evaluation
};

// Slots 1..19 are other aircraft; slot 0 is the receiver's own and never given out.
constexpr int kSlotCount = 20;

class Relay {
public:
    Relay(Transport &transport, Authenticator &authenticator, RelayLimits limits);
    ~Relay();
    Relay(const Relay &) = delete;
    Relay &operator=(const Relay &) = delete;

    // A new stream connection from `address` (IPv4, host byte order). Over the client limit it is closed.
    void OnConnect(ConnectionId connection, std::uint32_t address, TimePoint now);
    void OnStreamData(ConnectionId connection, const char *data, std::size_t size, TimePoint now);
    // The peer closed the connection, it failed, or the transport dropped it.
    void OnDisconnect(ConnectionId connection, const char *reason);
    void OnDatagram(const Endpoint &from, const char *data, std::size_t size, TimePoint now);
    // Called about ten times a second: timeouts and the re-evaluation of who sees whom.
    void OnTick(TimePoint now);

    // For tests and the log: logged-in clients, and the slot in which a receiver shows an aircraft (0: not shown).
    std::size_t ClientCount() const { return clients_.size(); }
    std::size_t ConnectionCount() const { return connections_.size(); }
    int SlotOf(int receiverId, int aircraftId) const;

    // For the web observer and the metrics. The network layer adds to the counters what only it sees.
    RelayCounters &Counters() { return counters_; }
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

    bool HandleLine(Connection &connection, std::string_view line, TimePoint now);
    bool HandleLogin(Connection &connection, std::string_view line, TimePoint now);
    void HandleCrew(Client &client, std::string_view crew, int position);
    void HandleChat(Client &client, std::string_view text);
    void CloseConnection(ConnectionId connection, const char *reason);
    void RemoveClient(Client &client);
    void RefreshViews(TimePoint now);
    void RefreshView(Client &receiver);
    void GiveSlot(Client &receiver, Client &aircraft, int slot);
    void FreeSlot(Client &receiver, int slot);
    void SendToViewers(Client &aircraft, char type, const std::string &text);
    void SendSlotText(Client &receiver, int slot, char type, std::string_view text);
    std::string CrewTextFor(const Client &receiver, const Client &aircraft) const;
    bool IsShownAsAircraft(const Client &client) const;
    bool IsCrewMember(const Client &client) const;
    void Warn(LogLimiter &limiter, TimePoint now, const std::string &line);

    Transport &transport_;
    Authenticator &authenticator_;
    RelayLimits limits_;
    std::unordered_map<ConnectionId, std::unique_ptr<Connection>> connections_;
    std::unordered_map<int, std::unique_ptr<Client>> clients_;  // by unique ID
    std::uint64_t nextOrder_ = 0;
    bool viewsDirty_ = false;
    TimePoint lastViewRefresh_{};
    std::vector<OutboundDatagram> batch_;
    std::vector<ViewCandidate> candidates_;
    std::vector<Client *> candidateClients_;
    LogLimiter badDatagramLog_, unknownSenderLog_, badLineLog_;

    // The web observer's share.
    RelayCounters counters_;
    std::vector<ChatLine> snapshotChat_;
    bool observed_ = false;
};

}  // namespace server
