// The relay's state machine: connections, logins, slots and the forwarding of messages.
#include "server/core/Relay.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <utility>

#include "server/core/ClientMessage.h"
#include "server/core/Text.h"

namespace server {

namespace {

// Longest text relayed on the stream (callsign, crew ID, model path, chat line).
constexpr std::size_t kMaxText = 1024;
// The plug-in reads at most this many bytes of a datagram; a longer one would reach it cut short.
constexpr std::size_t kMaxDatagram = 1400;
constexpr std::size_t kMaxVisible = kSlotCount - 1;
// Chat lines kept between two snapshots; a flood past it loses its oldest lines on the map, not on the network.
constexpr std::size_t kMaxSnapshotChat = 64;

const std::string &SlotPrefix(int slot) {
    static const std::array<std::string, kSlotCount> prefixes = [] {
        std::array<std::string, kSlotCount> all;
        for (int i = 0; i < kSlotCount; ++i) all[static_cast<std::size_t>(i)] = std::to_string(i) + "|l|";
        return all;
    }();
    return prefixes[static_cast<std::size_t>(slot)];
}

}  // namespace

struct Relay::Client {
    explicit Client(const RelayLimits &limits)
        : chatBucket(limits.chatRate, limits.chatBurst),
          callsignBucket(limits.identityRate, limits.identityBurst),
          crewBucket(limits.identityRate, limits.identityBurst),
          planeBucket(limits.identityRate, limits.identityBurst),
          locationBucket(limits.locationRate, limits.locationBurst) {}
    int uniqueId = 0;
    ConnectionId connection = 0;
    std::uint32_t streamAddress = 0;
    std::string user;
    // Relayed texts, already sanitized; "BLANK" until the client names them.
    std::string callsign = "BLANK";
    std::string plane = "BLANK";
    std::string crew;  // empty: not in a crew
    int position = 0;
    // Crewed mode with an empty crew ID: that plug-in takes every aircraft with an empty crew ID for its pilot.
    bool crewedWithoutId = false;
    bool viewOnly = false;
    bool hasEndpoint = false;
    Endpoint endpoint;
    TimePoint endpointHeard{};  // its last datagram from `endpoint`
    Endpoint candidate;         // another port of its address, and the valid datagrams it sent in a row
    int candidateCount = 0;
    bool hasPosition = false;
    bool locationChanged = false;
    std::string location;  // the fields of its last location datagram
    bool pointValid = false;
    EarthPoint point;
    TimePoint lastHeard{};
    // When it logged in (microseconds of the wall clock, which the nodes of a network share), so every
    // node picks the same first pilot of a crew.
    std::uint64_t order = 0;
    bool remote = false;           // logged in on another node: shown here, never a receiver here
    ReplayMemory::Key loginKey{};  // its entry in seenLogins_

    // Each sender's share. A change that finds its bucket empty is held, and the latest held value goes
    // out when the bucket allows, so receivers always end up with the sender's current identity.
    TokenBucket chatBucket, callsignBucket, crewBucket, planeBucket, locationBucket;
    bool callsignHeld = false, crewHeld = false, planeHeld = false;
    bool locationHeld = false;  // its latest location has not been forwarded
    std::string heldCallsign, heldPlane, heldCrew;
    bool heldViewOnly = false, heldCrewedWithoutId = false;
    int heldPosition = 0;
    bool crewClaimLogged = false;  // told the log it claims a crew another pilot owns
    // Dropped or held back over its share, for its next log line.
    std::uint64_t excessChat = 0, excessIdentity = 0, excessLocations = 0;
    LogLimiter excessLog{std::chrono::seconds(5)};
    bool selected = false;  // scratch for RefreshView
    std::array<Client *, kSlotCount> slots{};
    std::vector<Viewer> viewers;  // receivers that show this client, with the slot each uses
};

struct Relay::Connection {
    Connection(ConnectionId id, std::uint32_t address, std::size_t maxLine, TimePoint now)
        : id(id), address(address), lines(maxLine), opened(now) {}
    ConnectionId id;
    std::uint32_t address;
    LineBuffer lines;
    TimePoint opened;
    std::uint64_t arrival = 0;  // its key in waiting_ until it sends a login line
    Client *client = nullptr;
    bool pending = true;    // counted in its address's connections that have not logged in
    bool claiming = false;  // checked, and waiting for the network to agree that it is online nowhere else
    // A login under check: what it asked for, and the lines that came after it, held until the answer.
    std::uint64_t ticket = 0;
    int loginId = 0;
    std::string loginUser;
    ReplayMemory::Key loginKey{};
    std::vector<std::string> heldLines;
    std::size_t heldBytes = 0;
    // A refused login: the connection ignores everything until it is closed at this time.
    bool refused = false;
    TimePoint closeAt{};
};

namespace {

// Lines a client may send after its login line before the answer comes (the plug-in sends three).
constexpr std::size_t kMaxHeldBytes = 16 * 1024;
// A client's datagrams move to a new port once the old one was silent this long and the new one sent
// this many in a row (a plug-in sends about 30 a second).
constexpr auto kTakeOverSilence = std::chrono::seconds(1);
constexpr int kTakeOverDatagrams = 5;
// Source addresses remembered for failed logins; past this the idle ones are forgotten early.
constexpr std::size_t kMaxAddressRecords = 16384;
// How long an address's failed logins count towards a longer cooling-off.
constexpr auto kFailureMemory = std::chrono::hours(1);

}  // namespace

Relay::Relay(Transport &transport, RelayLimits limits)
    : transport_(transport),
      limits_(limits),
      seenLogins_(limits.replayMemoryBytes, limits.replayPerAccount, limits.replayWindow),
      logBudget_(limits.logBudget, limits.logBudget) {
    for (LogLimiter *limiter :
         {&badDatagramLog_, &unknownSenderLog_, &badLineLog_, &connectLog_, &refusedLog_, &coolOffLog_, &loginLog_,
          &leaveLog_, &endpointLog_, &crewLog_, &slowReaderLog_, &remoteLog_}) {
        limiter->Share(logBudget_);
    }
}

Relay::~Relay() = default;

void Relay::OnConnect(ConnectionId connection, std::uint32_t address, TimePoint now) {
    now_ = now;
    if (connections_.count(connection) != 0) return;
    AddressRecord &record = addresses_[address];
    if (now < record.coolingUntil) {
        coolOffLog_.Log(now, spdlog::level::warn, "refusing connection from {}: cooling off after failed logins",
                        AddressText(address));
        transport_.Close(connection);
        return;
    }
    // One address cannot hold the server's connections hostage with idle ones that never log in.
    if (record.pending >= limits_.maxPendingPerAddress) {
        connectLog_.Log(now, spdlog::level::warn, "refusing connection from {}: {} connections not logged in",
                        AddressText(address), record.pending);
        transport_.Close(connection);
        return;
    }
    if (!MakeRoom(now)) {
        connectLog_.Log(now, spdlog::level::warn, "refusing connection from {}: {} connections open",
                        AddressText(address), connections_.size());
        ++counters_.refusedOverLimit;
        transport_.Close(connection);
        return;
    }
    ++addresses_[address].pending;
    auto added = std::make_unique<Connection>(connection, address, limits_.maxLineLength, now);
    added->arrival = ++nextArrival_;
    waiting_.emplace(added->arrival, connection);
    connections_.emplace(connection, std::move(added));
    connectLog_.Log(now, spdlog::level::debug, "connection {} from {}", connection, AddressText(address));
}

void Relay::OnStreamData(ConnectionId connection, const char *data, std::size_t size, TimePoint now) {
    now_ = now;
    auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    Connection &conn = *found->second;
    if (conn.refused) return;
    // Counted as read, not as handled: lines held behind a login under check are handled again later.
    bool framed = conn.lines.Feed(data, size, [&](std::string_view line) {
        ++counters_.streamMessagesIn;
        return HandleLine(conn, line, now);
    });
    if (!framed) {
        badLineLog_.Log(now, spdlog::level::warn, "closing connection from {}: a line longer than {} bytes",
                        AddressText(conn.address), limits_.maxLineLength);
        ++counters_.closedLongLine;
        CloseConnection(connection, nullptr);
    }
}

void Relay::OnDisconnect(ConnectionId connection, const char *reason) {
    auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    TimePoint now = now_;
    if (Client *client = found->second->client) {
        leaveLog_.Log(now, spdlog::level::info, "client {} ({}) gone: {}", client->uniqueId, Preview(client->user),
                      reason);
    } else if (!found->second->refused) {
        leaveLog_.Log(now, spdlog::level::info, "connection from {} gone before login: {}",
                      AddressText(found->second->address), reason);
    }
    CloseConnection(connection, nullptr);
}

// Connections that sent nothing yet may hold only the unreserved places: past that, or when every place
// is taken, the oldest of them gives way, so idle connections from many addresses cannot lock newcomers
// out. Those logging in or logged in are never pushed out.
bool Relay::MakeRoom(TimePoint now) {
    std::size_t reserved = std::min(limits_.reservedClients, limits_.maxClients - 1);
    bool full = connections_.size() >= limits_.maxClients;
    if ((full || waiting_.size() >= limits_.maxClients - reserved) && !waiting_.empty()) {
        ConnectionId oldest = waiting_.begin()->second;
        ++counters_.closedForNewcomer;
        auto found = connections_.find(oldest);
        if (found != connections_.end()) {
            connectLog_.Log(now, spdlog::level::warn,
                            "closing connection from {}: it sent no login line, and a newcomer needs its place",
                            AddressText(found->second->address));
        }
        CloseConnection(oldest, nullptr);
    }
    return connections_.size() < limits_.maxClients;
}

void Relay::ReleasePending(Connection &connection) {
    if (!connection.pending) return;
    connection.pending = false;
    auto record = addresses_.find(connection.address);
    if (record != addresses_.end() && record->second.pending > 0) --record->second.pending;
}

void Relay::CloseConnection(ConnectionId connection, const char *reason) {
    auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    Connection &conn = *found->second;
    if (reason) {
        leaveLog_.Log(now_, spdlog::level::info, "closing connection from {}: {}", AddressText(conn.address), reason);
    }
    if (Client *client = conn.client) RemoveClient(*client, now_);
    if (conn.ticket != 0) checking_.erase(conn.ticket);
    waiting_.erase(conn.arrival);
    ReleasePending(conn);
    connections_.erase(found);
    transport_.Close(connection);
}

bool Relay::HandleLine(Connection &connection, std::string_view line, TimePoint now) {
    if (connection.refused) return false;
    if (connection.ticket != 0 || connection.claiming) {
        // The login is still being checked: keep what follows for when it is in.
        connection.heldBytes += line.size();
        if (connection.heldBytes > kMaxHeldBytes) {
            badLineLog_.Log(now, spdlog::level::warn, "closing connection from {}: too much sent before its login",
                            AddressText(connection.address));
            CloseConnection(connection.id, nullptr);
            return false;
        }
        connection.heldLines.emplace_back(line);
        return true;
    }
    if (!connection.client) return HandleLogin(connection, line, now);
    Client &client = *connection.client;
    StreamMessage message;
    if (!ParseStreamLine(line, &message)) {
        ++counters_.linesMalformed;
        badLineLog_.Log(now, spdlog::level::warn, "client {} sent a line that is no message: {}", client.uniqueId,
                        Preview(line));
        return true;
    }
    if (message.uniqueId != client.uniqueId) {
        ++counters_.linesMalformed;
        badLineLog_.Log(now, spdlog::level::warn, "client {} sent a message under another ID: {}", client.uniqueId,
                        Preview(line));
        return true;
    }
    client.lastHeard = now;
    switch (message.kind) {
        case StreamKind::Opening:
            badLineLog_.Log(now, spdlog::level::warn, "client {} logged in twice; ignored", client.uniqueId);
            return true;
        case StreamKind::Closing:
            leaveLog_.Log(now, spdlog::level::info, "client {} ({}) logged out", client.uniqueId, Preview(client.user));
            CloseConnection(connection.id, nullptr);
            return false;
        case StreamKind::Plane: {
            std::string plane = StreamText(PortableModelPath(message.text), kMaxText);
            // Only a model inside an aircraft folder: a receiver's plug-in opens whatever path it is sent.
            if (!IsAircraftModelPath(plane)) plane = "BLANK";
            OfferPlane(client, std::move(plane), now);
            return true;
        }
        case StreamKind::Callsign:
        case StreamKind::ViewOnlyCallsign:
            OfferCallsign(client, StreamText(message.text, kMaxText), message.kind == StreamKind::ViewOnlyCallsign,
                          now);
            return true;
        case StreamKind::Crew: {
            std::string crew = message.text == "BLANK" ? std::string() : StreamText(message.text, kMaxText);
            if (crew == "BLANK") crew.clear();
            bool crewedWithoutId = message.text.empty() && message.position > 0;
            HandleCrew(client, std::move(crew), message.position, crewedWithoutId, now);
            return true;
        }
        case StreamKind::Chat:
            HandleChat(client, message.text, now);
            return true;
    }
    return true;
}

bool Relay::HandleLogin(Connection &connection, std::string_view line, TimePoint now) {
    StreamMessage message;
    if (!ParseStreamLine(line, &message) || message.kind != StreamKind::Opening) {
        refusedLog_.Log(now, spdlog::level::warn, "refusing connection from {}: first line is not a login: {}",
                        AddressText(connection.address), Preview(line));
        RefuseLogin(connection, now, nullptr, true);
        return false;
    }
    waiting_.erase(connection.arrival);
    connection.loginId = message.uniqueId;
    connection.loginUser.assign(message.text);
    AddressRecord &record = addresses_[connection.address];
    if (now < record.coolingUntil) {
        RefuseLogin(connection, now, "cooling off after failed logins", false);
        return false;
    }
    // The protocol has no challenge from the server, so a login line seen on the wire can be sent again.
    // It is only taken from the address that first used it, while that session runs or shortly after.
    connection.loginKey = ReplayMemory::KeyOf(message.uniqueId, connection.loginUser, message.digest);
    switch (seenLogins_.Check(connection.loginKey, connection.address, now)) {
        case ReplayMemory::Verdict::OtherAddress:
            RefuseLogin(connection, now, "this login line was first used from another address", false);
            return false;
        case ReplayMemory::Verdict::Expired:
            RefuseLogin(connection, now, "this login line has expired (the plug-in must be restarted)", false);
            return false;
        case ReplayMemory::Verdict::Unseen:
        case ReplayMemory::Verdict::Known:
            break;
    }
    connection.ticket = nextTicket_++;
    checking_.emplace(connection.ticket, connection.id);
    transport_.CheckLogin(connection.ticket, message.uniqueId, message.text, message.digest);
    return true;
}

void Relay::OnLoginChecked(std::uint64_t ticket, LoginResult result, TimePoint now) {
    now_ = now;
    auto found = checking_.find(ticket);
    if (found == checking_.end()) return;  // the connection went meanwhile
    ConnectionId id = found->second;
    checking_.erase(found);
    auto connection = connections_.find(id);
    if (connection == connections_.end()) return;
    Connection &conn = *connection->second;
    conn.ticket = 0;
    if (result == LoginResult::Unavailable) {
        // Not the client's fault: it is refused, but that does not count towards its address's failures.
        RefuseLogin(conn, now, "the accounts file cannot be read now", false);
        return;
    }
    if (result == LoginResult::Refused) {
        RefuseLogin(conn, now, "unknown user or wrong password", true);
        return;
    }
    CompleteLogin(conn, now);
    if (connections_.count(id) == 0 || !conn.client) return;
    std::vector<std::string> held;
    held.swap(conn.heldLines);
    conn.heldBytes = 0;
    for (const std::string &line : held) {
        if (!HandleLine(conn, line, now)) return;
    }
}

void Relay::RefuseLogin(Connection &connection, TimePoint now, const char *why, bool countsAsFailure) {
    ++counters_.loginsRefused;
    if (why) {
        refusedLog_.Log(now, spdlog::level::warn, "refused login of '{}' from {}: {}", Preview(connection.loginUser),
                        AddressText(connection.address), why);
    }
    // Closed only after a while, and still counted among its address's connections until then: every
    // guess costs the guesser time, and one address gets few of them at once.
    connection.refused = true;
    connection.closeAt = now + limits_.refusalDelay;
    connection.heldLines.clear();
    if (!countsAsFailure) return;
    AddressRecord &record = addresses_[connection.address];
    if (now - record.failureWindow >= std::chrono::minutes(1)) {
        record.failureWindow = now;
        record.failures = 0;
    }
    if (now - record.lastFailure >= kFailureMemory) record.coolOffs = 0;
    record.lastFailure = now;
    if (++record.failures < limits_.maxLoginFailures) return;
    record.failures = 0;
    int doublings = std::min(record.coolOffs++, 6);
    Clock::duration coolOff = limits_.loginCoolOff * (1 << doublings);
    record.coolingUntil = now + coolOff;
    coolOffLog_.Log(now, spdlog::level::warn, "{} failed logins from {} within a minute: refused for {} s",
                    limits_.maxLoginFailures, AddressText(connection.address),
                    std::chrono::duration_cast<std::chrono::seconds>(coolOff).count());
}

void Relay::CompleteLogin(Connection &connection, TimePoint now) {
    const std::string &user = connection.loginUser;
    std::string from = AddressText(connection.address);
    int uniqueId = connection.loginId;
    auto existing = clients_.find(uniqueId);
    if (existing != clients_.end() && !existing->second->remote) {
        Client &old = *existing->second;
        // The plug-in keeps its unique ID across reconnects and does not notice a lost connection, so
        // the same user coming back from the same address replaces its stale session instead of
        // being locked out until that session times out.
        if (old.user != user || old.streamAddress != connection.address) {
            refusedLog_.Log(now, spdlog::level::warn,
                            "refused login of '{}' from {}: unique ID {} is already logged in", Preview(user), from,
                            uniqueId);
            RefuseLogin(connection, now, nullptr, false);
            return;
        }
    }
    if (cluster_) {
        // One network, one login: the other nodes' answer comes back through OnLoginClaimed.
        connection.claiming = true;
        cluster_->ClaimLogin(connection.id, uniqueId, user, connection.address);
        return;
    }
    Admit(connection, now);
}

void Relay::Admit(Connection &connection, TimePoint now) {
    const std::string &user = connection.loginUser;
    std::string from = AddressText(connection.address);
    int uniqueId = connection.loginId;
    auto existing = clients_.find(uniqueId);
    if (existing != clients_.end()) {
        Client &old = *existing->second;
        if (old.remote) {
            // Its pilot came over from another node, which closes the old session there.
            RemoveClient(old, now);
        } else {
            loginLog_.Log(now, spdlog::level::info,
                          "client {} ({}) logged in again from {}; its old connection is closed", uniqueId,
                          Preview(user), from);
            CloseConnection(old.connection, nullptr);
        }
    }
    ReleasePending(connection);
    auto client = std::make_unique<Client>(limits_);
    client->excessLog.Share(logBudget_);
    client->uniqueId = uniqueId;
    client->connection = connection.id;
    client->streamAddress = connection.address;
    client->user = user;
    client->lastHeard = now;
    auto wall =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch());
    client->order = std::max(nextOrder_, static_cast<std::uint64_t>(wall.count()));
    nextOrder_ = client->order + 1;
    client->loginKey = connection.loginKey;
    seenLogins_.Accept(connection.loginKey, user, connection.address);
    connection.client = client.get();
    Client &admitted = *client;
    clients_.emplace(uniqueId, std::move(client));
    viewsDirty_ = true;
    loginLog_.Log(now, spdlog::level::info, "client {} ({}) logged in from {}", uniqueId, Preview(user), from);
    PublishIdentity(admitted);
}

bool Relay::OnLoginClaimed(ConnectionId connection, bool granted, const std::string &reason, TimePoint now) {
    now_ = now;
    auto found = connections_.find(connection);
    if (found == connections_.end() || !found->second->claiming) return false;
    Connection &conn = *found->second;
    conn.claiming = false;
    if (!granted) {
        RefuseLogin(conn, now, reason.c_str(), false);
        return false;
    }
    Admit(conn, now);
    std::vector<std::string> held;
    held.swap(conn.heldLines);
    conn.heldBytes = 0;
    for (const std::string &line : held) {
        if (!HandleLine(conn, line, now)) break;  // the client logged out, or was closed
    }
    return true;
}

void Relay::OnReplacedElsewhere(int uniqueId, const std::string &where) {
    auto found = clients_.find(uniqueId);
    if (found == clients_.end() || found->second->remote) return;
    Client &client = *found->second;
    loginLog_.Log(now_, spdlog::level::info, "client {} ({}) logged in again on node {}; its session here is closed",
                  uniqueId, Preview(client.user), where);
    CloseConnection(client.connection, nullptr);
}

void Relay::PublishIdentity(const Client &client) {
    if (!cluster_ || client.remote) return;
    AircraftIdentity identity;
    identity.uniqueId = client.uniqueId;
    identity.since = client.order;
    identity.user = client.user;
    identity.callsign = client.callsign;
    identity.plane = client.plane;
    identity.crew = client.crew;
    identity.position = client.position;
    identity.crewedWithoutId = client.crewedWithoutId;
    identity.viewOnly = client.viewOnly;
    cluster_->PublishIdentity(identity);
}

// Another node's aircraft is checked like a client's identity messages, but not rate-limited again:
// its own node did that.
void Relay::OnRemoteIdentity(const AircraftIdentity &identity, TimePoint now) {
    now_ = now;
    auto found = clients_.find(identity.uniqueId);
    Client *client = nullptr;
    if (found != clients_.end()) {
        client = found->second.get();
        if (!client->remote) {
            remoteLog_.Log(now, spdlog::level::warn, "dropped another node's aircraft {}: it is logged in here",
                           identity.uniqueId);
            return;
        }
    } else {
        auto created = std::make_unique<Client>(limits_);
        created->uniqueId = identity.uniqueId;
        created->remote = true;
        client = created.get();
        clients_.emplace(identity.uniqueId, std::move(created));
        viewsDirty_ = true;
    }
    client->order = identity.since;
    client->lastHeard = now;
    client->user = StreamText(identity.user, kMaxText);
    std::string callsign = StreamText(identity.callsign, kMaxText);
    if (callsign != client->callsign) {
        client->callsign = std::move(callsign);
        SendToViewers(*client, 'c', client->callsign);
    }
    std::string plane = StreamText(PortableModelPath(identity.plane), kMaxText);
    if (!IsAircraftModelPath(plane)) plane = "BLANK";
    if (plane != client->plane) {
        client->plane = std::move(plane);
        SendToViewers(*client, 'p', client->plane);
    }
    if (identity.viewOnly != client->viewOnly) {
        client->viewOnly = identity.viewOnly;
        viewsDirty_ = true;
    }
    std::string crew = identity.crew.empty() ? std::string() : StreamText(identity.crew, kMaxText);
    if (crew == "BLANK") crew.clear();
    if (crew != client->crew || identity.position != client->position ||
        identity.crewedWithoutId != client->crewedWithoutId) {
        SetCrew(*client, std::move(crew), identity.position, identity.crewedWithoutId);
    }
}

bool Relay::OnRemoteLocation(int uniqueId, std::string_view fields, TimePoint now) {
    now_ = now;
    auto found = clients_.find(uniqueId);
    if (found == clients_.end() || !found->second->remote) return false;
    Client &client = *found->second;
    if (fields.size() + SlotPrefix(kSlotCount - 1).size() > kMaxDatagram) {
        remoteLog_.Log(now, spdlog::level::warn,
                       "dropped another node's location of aircraft {}: {} bytes is too long to relay", uniqueId,
                       fields.size());
        return true;
    }
    client.lastHeard = now;
    client.location.assign(fields.data(), fields.size());
    client.locationChanged = true;
    if (!client.hasPosition) {
        client.hasPosition = true;
        viewsDirty_ = true;
    }
    ForwardLocation(client);
    return true;
}

void Relay::OnRemoteLeave(int uniqueId) {
    auto found = clients_.find(uniqueId);
    if (found != clients_.end() && found->second->remote) RemoveClient(*found->second, now_);
}

void Relay::OnRemoteChat(std::string_view line) {
    std::string message = "0|m|" + StreamText(line, kMaxText) + "\n";
    for (const auto &entry : clients_) {
        ConnectionId receiver = entry.second->connection;
        if (entry.second->remote || transport_.Queued(receiver) + message.size() > limits_.chatQueueShare) continue;
        transport_.SendStream(receiver, message);
    }
}

void Relay::CountExcess(Client &client, TimePoint now, std::uint64_t Client::*counter) {
    ++(client.*counter);
    ++(counter == &Client::excessChat       ? counters_.chatOverRate
       : counter == &Client::excessIdentity ? counters_.identityOverRate
                                            : counters_.datagramsOverRate);
    std::uint64_t suppressed = 0;
    if (!client.excessLog.Allow(now, &suppressed)) return;
    spdlog::warn(
        "client {} sends more than its share: {} chat lines dropped, {} identity changes held back, {} "
        "location datagrams skipped",
        client.uniqueId, client.excessChat, client.excessIdentity, client.excessLocations);
    client.excessChat = client.excessIdentity = client.excessLocations = 0;
}

void Relay::OfferCallsign(Client &client, std::string callsign, bool viewOnly, TimePoint now) {
    client.callsignHeld = false;
    if (callsign == client.callsign && viewOnly == client.viewOnly) return;
    if (!client.callsignBucket.Take(now)) {
        client.callsignHeld = true;
        client.heldCallsign = std::move(callsign);
        client.heldViewOnly = viewOnly;
        CountExcess(client, now, &Client::excessIdentity);
        return;
    }
    if (viewOnly != client.viewOnly) {
        client.viewOnly = viewOnly;
        viewsDirty_ = true;
    }
    if (callsign != client.callsign) {
        client.callsign = std::move(callsign);
        SendToViewers(client, 'c', client.callsign);
    }
    PublishIdentity(client);
}

void Relay::OfferPlane(Client &client, std::string plane, TimePoint now) {
    client.planeHeld = false;
    if (plane == client.plane) return;
    if (!client.planeBucket.Take(now)) {
        client.planeHeld = true;
        client.heldPlane = std::move(plane);
        CountExcess(client, now, &Client::excessIdentity);
        return;
    }
    client.plane = std::move(plane);
    SendToViewers(client, 'p', client.plane);
    PublishIdentity(client);
}

void Relay::HandleCrew(Client &client, std::string crew, int position, bool crewedWithoutId, TimePoint now) {
    client.crewHeld = false;
    if (crew == client.crew && position == client.position && crewedWithoutId == client.crewedWithoutId) return;
    if (!client.crewBucket.Take(now)) {
        client.crewHeld = true;
        client.heldCrew = std::move(crew);
        client.heldPosition = position;
        client.heldCrewedWithoutId = crewedWithoutId;
        CountExcess(client, now, &Client::excessIdentity);
        return;
    }
    SetCrew(client, std::move(crew), position, crewedWithoutId);
    PublishIdentity(client);
}

void Relay::SetCrew(Client &client, std::string crew, int position, bool crewedWithoutId) {
    std::string oldCrew = std::move(client.crew);
    client.crew = std::move(crew);
    client.position = position;
    client.crewedWithoutId = crewedWithoutId;
    client.crewClaimLogged = false;
    if (!oldCrew.empty() && crewOwners_.count(oldCrew) != 0 && crewOwners_[oldCrew] == &client &&
        (oldCrew != client.crew || position != 0)) {
        HandOverCrew(oldCrew, client);
    }
    ClaimCrew(client);
    viewsDirty_ = true;
    ResendCrew(client);
}

void Relay::ApplyHeld(Client &client, TimePoint now) {
    if (client.callsignHeld && client.callsignBucket.Ready(now)) {
        OfferCallsign(client, std::move(client.heldCallsign), client.heldViewOnly, now);
    }
    if (client.planeHeld && client.planeBucket.Ready(now)) OfferPlane(client, std::move(client.heldPlane), now);
    if (client.crewHeld && client.crewBucket.Ready(now)) {
        HandleCrew(client, std::move(client.heldCrew), client.heldPosition, client.heldCrewedWithoutId, now);
    }
    if (client.locationHeld && client.locationBucket.Take(now)) ForwardLocation(client);
}

// A crew ID belongs to its first pilot while that pilot is connected: another client calling itself
// pilot of the same crew would otherwise be handed the crew's members, whose plug-ins fly their own
// aircraft wherever their crew's pilot goes.
void Relay::ClaimCrew(Client &client) {
    if (client.crew.empty() || client.position != 0) return;
    auto owner = crewOwners_.find(client.crew);
    if (owner == crewOwners_.end()) {
        crewOwners_.emplace(client.crew, &client);
        return;
    }
    if (owner->second == &client) return;
    // Pilots on other nodes become known here in any order: the one that logged in first holds the crew,
    // as every node of the network decides alike.
    Client &holder = *owner->second;
    if (client.order < holder.order || (client.order == holder.order && client.uniqueId < holder.uniqueId)) {
        owner->second = &client;
        viewsDirty_ = true;
        ResendCrew(holder);
        ResendCrew(client);
        return;
    }
    if (client.crewClaimLogged) return;
    client.crewClaimLogged = true;
    crewLog_.Log(now_, spdlog::level::warn,
                 "client {} ({}) calls itself pilot of crew '{}', which client {} flies; it is not given the crew",
                 client.uniqueId, Preview(client.user), Preview(client.crew), owner->second->uniqueId);
}

void Relay::HandOverCrew(const std::string &crew, const Client &leaving) {
    crewOwners_.erase(crew);
    Client *next = nullptr;
    for (auto &entry : clients_) {
        Client &candidate = *entry.second;
        if (&candidate == &leaving || candidate.crew != crew || candidate.position != 0) continue;
        if (!next || candidate.order < next->order) next = &candidate;
    }
    if (!next) return;
    crewOwners_.emplace(crew, next);
    viewsDirty_ = true;
    ResendCrew(*next);
}

const std::string &Relay::EffectiveCrew(const Client &client) const {
    static const std::string none;
    if (client.crew.empty()) return none;
    if (client.position > 0) return client.crew;
    auto owner = crewOwners_.find(client.crew);
    return owner != crewOwners_.end() && owner->second == &client ? client.crew : none;
}

void Relay::ResendCrew(Client &client) {
    for (const Viewer &viewer : client.viewers) {
        SendSlotText(*viewer.receiver, viewer.slot, 'I', CrewTextFor(*viewer.receiver, client));
    }
    // What this client must be told about the others depends on its own crew settings too.
    for (int slot = 1; slot < kSlotCount; ++slot) {
        if (Client *aircraft = client.slots[static_cast<std::size_t>(slot)]) {
            SendSlotText(client, slot, 'I', CrewTextFor(client, *aircraft));
        }
    }
}

void Relay::HandleChat(Client &client, std::string_view text, TimePoint now) {
    if (!client.chatBucket.Take(now)) {
        CountExcess(client, now, &Client::excessChat);
        return;
    }
    // The sender gets its own line back too: that echo is how its chat window shows what it said.
    std::string name = client.callsign != "BLANK" ? client.callsign : client.user;
    std::string line = StreamText(name + ": " + std::string(text), kMaxText);
    std::string message = "0|m|" + line + "\n";
    std::size_t skipped = 0;
    if (cluster_) cluster_->PublishChat(line);
    for (const auto &entry : clients_) {
        if (entry.second->remote) continue;
        ConnectionId receiver = entry.second->connection;
        // Chat is what a crowd can pile up in a slow reader's queue; past its share it is skipped for that
        // reader, which keeps room for the slot messages and keeps it from looking like one that stopped.
        if (transport_.Queued(receiver) + message.size() > limits_.chatQueueShare) {
            ++skipped;
            continue;
        }
        transport_.SendStream(receiver, message);
    }
    if (observed_) {
        if (snapshotChat_.size() >= kMaxSnapshotChat) snapshotChat_.erase(snapshotChat_.begin());
        snapshotChat_.push_back({client.callsign, StreamText(text, kMaxText)});
    }
    if (skipped > 0) {
        slowReaderLog_.Log(now, spdlog::level::warn, "a chat line of client {} skipped {} slow readers",
                           client.uniqueId, skipped);
    }
}

std::string Relay::CrewTextFor(const Client &receiver, const Client &aircraft) const {
    // Only a member of the same crew learns an aircraft's crew ID: anyone else could claim it.
    const std::string &crew = EffectiveCrew(aircraft);
    if (!crew.empty() && EffectiveCrew(receiver) == crew) return crew;
    // Any text but an empty one keeps such a receiver from flying along with every crewless aircraft.
    return receiver.crewedWithoutId ? "-" : "BLANK";
}

bool Relay::IsCrewMember(const Client &client) const { return !client.crew.empty() && client.position > 0; }

bool Relay::IsShownAsAircraft(const Client &client) const {
    return client.hasPosition && !client.viewOnly && !IsCrewMember(client);
}

void Relay::SendSlotText(Client &receiver, int slot, char type, std::string_view text) {
    std::string message = std::to_string(slot);
    message += '|';
    message += type;
    message += '|';
    message.append(text);
    message += '\n';
    transport_.SendStream(receiver.connection, message);
}

void Relay::SendToViewers(Client &aircraft, char type, const std::string &text) {
    for (const Viewer &viewer : aircraft.viewers) SendSlotText(*viewer.receiver, viewer.slot, type, text);
}

void Relay::GiveSlot(Client &receiver, Client &aircraft, int slot) {
    receiver.slots[static_cast<std::size_t>(slot)] = &aircraft;
    aircraft.viewers.push_back({&receiver, slot});
    std::string prefix = std::to_string(slot);
    std::string message = prefix + "|c|" + aircraft.callsign + "\n" + prefix + "|I|" + CrewTextFor(receiver, aircraft) +
                          "\n" + prefix + "|p|" + aircraft.plane + "\n";
    transport_.SendStream(receiver.connection, message);
    // Its last known state at once, rather than wherever the slot's previous aircraft was left.
    if (receiver.hasEndpoint && !aircraft.location.empty()) {
        OutboundDatagram datagram{receiver.endpoint, SlotPrefix(slot), aircraft.location};
        transport_.SendDatagrams(&datagram, 1);
    }
}

void Relay::FreeSlot(Client &receiver, int slot) {
    Client *aircraft = receiver.slots[static_cast<std::size_t>(slot)];
    receiver.slots[static_cast<std::size_t>(slot)] = nullptr;
    if (!aircraft) return;
    auto &viewers = aircraft->viewers;
    for (std::size_t i = 0; i < viewers.size(); ++i) {
        if (viewers[i].receiver == &receiver && viewers[i].slot == slot) {
            viewers[i] = viewers.back();
            viewers.pop_back();
            break;
        }
    }
    std::string prefix = std::to_string(slot);
    transport_.SendStream(receiver.connection, prefix + "|c|BLANK\n" + prefix + "|I|BLANK\n" + prefix + "|p|BLANK\n");
}

void Relay::RemoveClient(Client &client, TimePoint now) {
    auto owner = crewOwners_.find(client.crew);
    if (owner != crewOwners_.end() && owner->second == &client) HandOverCrew(client.crew, client);
    if (!client.remote) seenLogins_.End(client.loginKey, now);
    while (!client.viewers.empty()) {
        Viewer viewer = client.viewers.back();
        FreeSlot(*viewer.receiver, viewer.slot);
    }
    for (Client *aircraft : client.slots) {
        if (!aircraft) continue;
        auto &viewers = aircraft->viewers;
        viewers.erase(std::remove_if(viewers.begin(), viewers.end(),
                                     [&](const Viewer &viewer) { return viewer.receiver == &client; }),
                      viewers.end());
    }
    if (!client.remote) {
        auto connection = connections_.find(client.connection);
        if (connection != connections_.end()) connection->second->client = nullptr;
        if (cluster_) cluster_->ReleaseLogin(client.connection, client.uniqueId, client.user);
    }
    viewsDirty_ = true;
    clients_.erase(client.uniqueId);
}

void Relay::OnDatagram(const Endpoint &from, const char *data, std::size_t size, TimePoint now) {
    now_ = now;
    LocationDatagram location;
    if (!ParseLocationDatagram(std::string_view(data, size), &location)) {
        ++counters_.datagramsMalformed;
        badDatagramLog_.Log(now, spdlog::level::warn, "dropped a datagram from {}: {}",
                            EndpointText(from.address, from.port), Preview(std::string_view(data, size)));
        return;
    }
    auto found = clients_.find(location.uniqueId);
    if (found == clients_.end()) {
        ++counters_.datagramsUnknownSender;
        unknownSenderLog_.Log(now, spdlog::level::warn, "dropped a datagram from {}: no client {} is logged in",
                              EndpointText(from.address, from.port), location.uniqueId);
        return;
    }
    Client &client = *found->second;
    if (from.address != client.streamAddress) {
        ++counters_.datagramsUnknownSender;
        unknownSenderLog_.Log(now, spdlog::level::warn,
                              "dropped a datagram for client {} from {}: not the address it logged in from",
                              client.uniqueId, EndpointText(from.address, from.port));
        return;
    }
    if (!client.hasEndpoint) {
        client.hasEndpoint = true;
        client.endpoint = from;
        endpointLog_.Log(now, spdlog::level::info, "client {} sends its datagrams from {}", client.uniqueId,
                         EndpointText(from.address, from.port));
    } else if (from != client.endpoint && !FollowEndpoint(client, from, now)) {
        ++counters_.datagramsUnknownSender;
        unknownSenderLog_.Log(now, spdlog::level::warn, "dropped a datagram for client {} from {}: it sends from {}",
                              client.uniqueId, EndpointText(from.address, from.port),
                              EndpointText(client.endpoint.address, client.endpoint.port));
        return;
    }
    if (from == client.endpoint) {
        client.endpointHeard = now;
        client.candidateCount = 0;
    }
    client.lastHeard = now;
    if (location.fields.size() + SlotPrefix(kSlotCount - 1).size() > kMaxDatagram) {
        ++counters_.datagramsTooLong;
        badDatagramLog_.Log(now, spdlog::level::warn,
                            "dropped a datagram from client {}: {} bytes is too long to relay", client.uniqueId, size);
        return;
    }
    if (location.viewOnly != client.viewOnly) {
        // Counts as an identity change, like the view-only callsign: it moves the client in and out of
        // every receiver's slots.
        OfferCallsign(client, client.callsignHeld ? client.heldCallsign : client.callsign, location.viewOnly, now);
    }
    client.location.assign(location.fields.data(), location.fields.size());
    client.locationChanged = true;
    if (!client.hasPosition) {
        client.hasPosition = true;
        viewsDirty_ = true;
    }
    // Past its rate a sender's datagrams are thinned, not cut off: the next one after a token comes goes
    // out, and a held one goes at the next tick, so receivers see it move at an even rate.
    if (!client.locationBucket.Take(now)) {
        client.locationHeld = true;
        CountExcess(client, now, &Client::excessLocations);
        return;
    }
    ForwardLocation(client);
}

// Home routers and mobile links move a client's datagrams to a new port now and then, and a forger
// may have sent the first datagram: a new port takes over once the one in use has gone quiet and the
// new one keeps sending, so whoever sends alone from the client's address is followed within a second.
bool Relay::FollowEndpoint(Client &client, const Endpoint &from, TimePoint now) {
    if (from != client.candidate) {
        client.candidate = from;
        client.candidateCount = 0;
    }
    if (++client.candidateCount < kTakeOverDatagrams || now - client.endpointHeard < kTakeOverSilence) return false;
    endpointLog_.Log(now, spdlog::level::info, "client {} now sends its datagrams from {} (was {})", client.uniqueId,
                     EndpointText(from.address, from.port),
                     EndpointText(client.endpoint.address, client.endpoint.port));
    client.endpoint = from;
    client.candidateCount = 0;
    return true;
}

void Relay::ForwardLocation(Client &client) {
    client.locationHeld = false;
    if (cluster_ && !client.remote)
        cluster_->PublishLocation(client.uniqueId, client.location, IsShownAsAircraft(client));
    if (client.viewers.empty() || !IsShownAsAircraft(client)) return;
    batch_.clear();
    for (const Viewer &viewer : client.viewers) {
        if (viewer.receiver->hasEndpoint) {
            batch_.push_back({viewer.receiver->endpoint, SlotPrefix(viewer.slot), client.location});
        }
    }
    if (!batch_.empty()) transport_.SendDatagrams(batch_.data(), batch_.size());
}

void Relay::OnTick(TimePoint now) {
    now_ = now;
    std::vector<std::pair<ConnectionId, const char *>> expired;
    for (const auto &entry : connections_) {
        const Connection &connection = *entry.second;
        if (connection.client) {
            if (now - connection.client->lastHeard >= limits_.silenceTimeout) {
                expired.emplace_back(entry.first, "silent for too long");
            }
        } else if (connection.refused) {
            if (now >= connection.closeAt) expired.emplace_back(entry.first, nullptr);
        } else if (now - connection.opened >= limits_.loginTimeout) {
            expired.emplace_back(entry.first, "no login in time");
        }
    }
    for (const auto &[connection, reason] : expired) {
        auto found = connections_.find(connection);
        if (found == connections_.end()) continue;
        if (reason) ++(found->second->client ? counters_.closedSilent : counters_.closedNoLogin);
        if (Client *client = found->second->client) {
            leaveLog_.Log(now, spdlog::level::warn, "removing client {} ({}): {}", client->uniqueId,
                          Preview(client->user), reason);
            CloseConnection(connection, nullptr);
        } else {
            CloseConnection(connection, reason);
        }
    }
    // An aircraft of another node that nothing was heard of for so long either left unnoticed (its leave
    // was lost) or flies where no pilot of this node is: forget it. Should it come near again, its first
    // location makes the bridge ask its node for it anew.
    std::vector<Client *> stale;
    for (auto &entry : clients_) {
        Client &client = *entry.second;
        if (client.remote && now - client.lastHeard >= limits_.silenceTimeout) stale.push_back(&client);
    }
    for (Client *client : stale) RemoveClient(*client, now);
    for (auto &entry : clients_) ApplyHeld(*entry.second, now);
    if (now - lastExpiry_ >= std::chrono::seconds(1)) ExpireRecords(now);
    logBudget_.Summarize(now);
    if (viewsDirty_ || now - lastViewRefresh_ >= limits_.viewPeriod) RefreshViews(now);
}

// Forgets addresses with nothing left to remember.
void Relay::ExpireRecords(TimePoint now) {
    lastExpiry_ = now;
    bool crowded = addresses_.size() > kMaxAddressRecords;
    for (auto it = addresses_.begin(); it != addresses_.end();) {
        const AddressRecord &record = it->second;
        bool idle = record.pending == 0 && now >= record.coolingUntil;
        bool failed = record.failures > 0 || record.coolOffs > 0;
        if (idle && (crowded || !failed || now - record.lastFailure >= kFailureMemory)) {
            it = addresses_.erase(it);
        } else {
            ++it;
        }
    }
}

void Relay::RefreshViews(TimePoint now) {
    viewsDirty_ = false;
    lastViewRefresh_ = now;
    for (auto &entry : clients_) {
        Client &client = *entry.second;
        if (!client.locationChanged) continue;
        client.locationChanged = false;
        double latitude = 0, longitude = 0, elevation = 0;
        client.pointValid = ReadWorldPosition(client.location, &latitude, &longitude, &elevation);
        if (client.pointValid) client.point = ToEarthPoint(latitude, longitude, elevation);
    }
    for (auto &entry : clients_) {
        if (!entry.second->remote) RefreshView(*entry.second);
    }
}

void Relay::RefreshView(Client &receiver) {
    candidates_.clear();
    candidateClients_.clear();
    bool inCrew = IsCrewMember(receiver);
    for (auto &entry : clients_) {
        Client &aircraft = *entry.second;
        aircraft.selected = false;
        if (&aircraft == &receiver || !IsShownAsAircraft(aircraft)) continue;
        ViewCandidate candidate;
        candidate.forced = inCrew && aircraft.crew == receiver.crew && EffectiveCrew(aircraft) == receiver.crew;
        candidate.holder = std::find(receiver.slots.begin(), receiver.slots.end(), &aircraft) != receiver.slots.end();
        candidate.distance =
            receiver.pointValid && aircraft.pointValid ? Distance(receiver.point, aircraft.point) : 0.0;
        candidate.order = aircraft.order;
        candidates_.push_back(candidate);
        candidateClients_.push_back(&aircraft);
    }
    for (std::size_t index : ChooseVisible(candidates_, kMaxVisible)) candidateClients_[index]->selected = true;
    for (int slot = 1; slot < kSlotCount; ++slot) {
        Client *aircraft = receiver.slots[static_cast<std::size_t>(slot)];
        if (aircraft && !aircraft->selected) FreeSlot(receiver, slot);
    }
    for (std::size_t index = 0; index < candidateClients_.size(); ++index) {
        Client &aircraft = *candidateClients_[index];
        if (!aircraft.selected || candidates_[index].holder) continue;
        for (int slot = 1; slot < kSlotCount; ++slot) {
            if (!receiver.slots[static_cast<std::size_t>(slot)]) {
                GiveSlot(receiver, aircraft, slot);
                break;
            }
        }
    }
}

void Relay::Snapshot(TrafficSnapshot &snapshot) {
    observed_ = true;
    snapshot.aircraft.clear();
    snapshot.clients = {};
    std::size_t local = 0;
    for (const auto &entry : clients_) {
        const Client &client = *entry.second;
        // Aircraft of other nodes are on the map; the client counts are this node's.
        if (client.remote) {
            if (IsShownAsAircraft(client) && !client.location.empty()) {
                snapshot.aircraft.push_back({client.order, client.callsign, client.plane, client.location});
            }
            continue;
        }
        ++local;
        if (client.viewOnly) {
            ++snapshot.clients.viewOnly;
        } else if (IsCrewMember(client)) {
            ++snapshot.clients.crew;
        } else {
            ++snapshot.clients.pilots;
        }
        if (IsShownAsAircraft(client) && !client.location.empty()) {
            snapshot.aircraft.push_back({client.order, client.callsign, client.plane, client.location});
        }
    }
    snapshot.clients.connecting = connections_.size() - local;
    snapshot.chat.swap(snapshotChat_);
    snapshotChat_.clear();
    snapshot.counters = counters_;
}

int Relay::SlotOf(int receiverId, int aircraftId) const {
    auto receiver = clients_.find(receiverId);
    auto aircraft = clients_.find(aircraftId);
    if (receiver == clients_.end() || aircraft == clients_.end()) return 0;
    for (int slot = 1; slot < kSlotCount; ++slot) {
        if (receiver->second->slots[static_cast<std::size_t>(slot)] == aircraft->second.get()) return slot;
    }
    return 0;
}

}  // namespace server
