// The relay's state machine: connections, logins, slots and the forwarding of messages.
#include "server/Relay.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <utility>

#include "server/ClientMessage.h"
#include "server/Text.h"

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
    bool hasPosition = false;
    bool locationChanged = false;
    std::string location;  // the fields of its last location datagram
    bool pointValid = false;
    EarthPoint point;
    TimePoint lastHeard{};
    TimePoint floodWindow{};
    int floodCount = 0;
    std::uint64_t order = 0;
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
    Client *client = nullptr;
};

Relay::Relay(Transport &transport, Authenticator &authenticator, RelayLimits limits)
    : transport_(transport), authenticator_(authenticator), limits_(limits) {}

Relay::~Relay() = default;

void Relay::Warn(LogLimiter &limiter, TimePoint now, const std::string &line) {
    std::uint64_t suppressed = 0;
    if (!limiter.Allow(now, &suppressed)) return;
    if (suppressed > 0) {
        spdlog::warn("{} ({} similar lines suppressed)", line, suppressed);
    } else {
        spdlog::warn("{}", line);
    }
}

void Relay::OnConnect(ConnectionId connection, std::uint32_t address, TimePoint now) {
    if (connections_.count(connection) != 0) return;
    if (connections_.size() >= limits_.maxClients) {
        spdlog::warn("refusing connection from {}: {} connections open", AddressText(address), connections_.size());
        ++counters_.refusedOverLimit;
        transport_.Close(connection);
        return;
    }
    connections_.emplace(connection, std::make_unique<Connection>(connection, address, limits_.maxLineLength, now));
    spdlog::debug("connection {} from {}", connection, AddressText(address));
}

void Relay::OnStreamData(ConnectionId connection, const char *data, std::size_t size, TimePoint now) {
    auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    Connection &conn = *found->second;
    bool framed = conn.lines.Feed(data, size, [&](std::string_view line) { return HandleLine(conn, line, now); });
    if (!framed) {
        spdlog::warn("closing connection from {}: a line longer than {} bytes", AddressText(conn.address),
                     limits_.maxLineLength);
        ++counters_.closedLongLine;
        CloseConnection(connection, nullptr);
    }
}

void Relay::OnDisconnect(ConnectionId connection, const char *reason) {
    auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    if (Client *client = found->second->client) {
        spdlog::info("client {} ({}) gone: {}", client->uniqueId, client->user, reason);
    } else {
        spdlog::info("connection from {} gone before login: {}", AddressText(found->second->address), reason);
    }
    CloseConnection(connection, nullptr);
}

void Relay::CloseConnection(ConnectionId connection, const char *reason) {
    auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    if (reason) spdlog::info("closing connection from {}: {}", AddressText(found->second->address), reason);
    if (Client *client = found->second->client) RemoveClient(*client);
    connections_.erase(found);
    transport_.Close(connection);
}

bool Relay::HandleLine(Connection &connection, std::string_view line, TimePoint now) {
    ++counters_.streamMessagesIn;
    if (!connection.client) return HandleLogin(connection, line, now);
    Client &client = *connection.client;
    StreamMessage message;
    if (!ParseStreamLine(line, &message)) {
        ++counters_.linesMalformed;
        Warn(badLineLog_, now,
             "client " + std::to_string(client.uniqueId) + " sent a line that is no message: " + Preview(line));
        return true;
    }
    if (message.uniqueId != client.uniqueId) {
        ++counters_.linesMalformed;
        Warn(badLineLog_, now,
             "client " + std::to_string(client.uniqueId) + " sent a message under another ID: " + Preview(line));
        return true;
    }
    client.lastHeard = now;
    switch (message.kind) {
        case StreamKind::Opening:
            Warn(badLineLog_, now, "client " + std::to_string(client.uniqueId) + " logged in twice; ignored");
            return true;
        case StreamKind::Closing:
            spdlog::info("client {} ({}) logged out", client.uniqueId, client.user);
            CloseConnection(connection.id, nullptr);
            return false;
        case StreamKind::Plane: {
            std::string plane = StreamText(PortableModelPath(message.text), kMaxText);
            if (plane != client.plane) {
                client.plane = std::move(plane);
                SendToViewers(client, 'p', client.plane);
            }
            return true;
        }
        case StreamKind::Callsign:
        case StreamKind::ViewOnlyCallsign: {
            bool viewOnly = message.kind == StreamKind::ViewOnlyCallsign;
            if (viewOnly != client.viewOnly) {
                client.viewOnly = viewOnly;
                viewsDirty_ = true;
            }
            std::string callsign = StreamText(message.text, kMaxText);
            if (callsign != client.callsign) {
                client.callsign = std::move(callsign);
                SendToViewers(client, 'c', client.callsign);
            }
            return true;
        }
        case StreamKind::Crew:
            HandleCrew(client, message.text, message.position);
            return true;
        case StreamKind::Chat:
            HandleChat(client, message.text);
            return true;
    }
    return true;
}

bool Relay::HandleLogin(Connection &connection, std::string_view line, TimePoint now) {
    StreamMessage message;
    std::string from = AddressText(connection.address);
    if (!ParseStreamLine(line, &message) || message.kind != StreamKind::Opening) {
        spdlog::warn("closing connection from {}: first line is not a login: {}", from, Preview(line));
        ++counters_.loginsRefused;
        CloseConnection(connection.id, nullptr);
        return false;
    }
    std::string user(message.text);
    if (!authenticator_.Accepts(message.uniqueId, user, message.digest)) {
        spdlog::warn("refused login of '{}' from {}: unknown user or wrong password", Preview(user), from);
        ++counters_.loginsRefused;
        CloseConnection(connection.id, nullptr);
        return false;
    }
    auto existing = clients_.find(message.uniqueId);
    if (existing != clients_.end()) {
        Client &old = *existing->second;
        // The plug-in keeps its unique ID across reconnects and does not notice a lost connection, so
        // the same user coming back from the same address replaces its stale session instead of
        // being locked out until that session times out.
        if (old.user != user || old.streamAddress != connection.address) {
            spdlog::warn("refused login of '{}' from {}: unique ID {} is already logged in", Preview(user), from,
                         message.uniqueId);
            ++counters_.loginsRefused;
            CloseConnection(connection.id, nullptr);
            return false;
        }
        spdlog::info("client {} ({}) logged in again from {}; its old connection is closed", message.uniqueId,
                     Preview(user), from);
        CloseConnection(old.connection, nullptr);
    }
    auto client = std::make_unique<Client>();
    client->uniqueId = message.uniqueId;
    client->connection = connection.id;
    client->streamAddress = connection.address;
    client->user = user;
    client->lastHeard = now;
    client->order = nextOrder_++;
    connection.client = client.get();
    clients_.emplace(message.uniqueId, std::move(client));
    viewsDirty_ = true;
    spdlog::info("client {} ({}) logged in from {}", message.uniqueId, Preview(user), from);
    return true;
}

void Relay::HandleCrew(Client &client, std::string_view text, int position) {
    std::string crew = text == "BLANK" ? std::string() : StreamText(text, kMaxText);
    if (crew == "BLANK") crew.clear();
    bool crewedWithoutId = text.empty() && position > 0;
    if (crew == client.crew && position == client.position && crewedWithoutId == client.crewedWithoutId) return;
    client.crew = std::move(crew);
    client.position = position;
    client.crewedWithoutId = crewedWithoutId;
    viewsDirty_ = true;
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

void Relay::HandleChat(Client &client, std::string_view text) {
    // The sender gets its own line back too: that echo is how its chat window shows what it said.
    std::string name = client.callsign != "BLANK" ? client.callsign : client.user;
    std::string line = StreamText(name + ": " + std::string(text), kMaxText);
    std::string message = "0|m|" + line + "\n";
    for (const auto &entry : clients_) transport_.SendStream(entry.second->connection, message);
    if (observed_) {
        if (snapshotChat_.size() >= kMaxSnapshotChat) snapshotChat_.erase(snapshotChat_.begin());
        snapshotChat_.push_back({client.callsign, StreamText(text, kMaxText)});
    }
}

std::string Relay::CrewTextFor(const Client &receiver, const Client &aircraft) const {
    if (!aircraft.crew.empty()) return aircraft.crew;
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

void Relay::RemoveClient(Client &client) {
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
    auto connection = connections_.find(client.connection);
    if (connection != connections_.end()) connection->second->client = nullptr;
    viewsDirty_ = true;
    clients_.erase(client.uniqueId);
}

void Relay::OnDatagram(const Endpoint &from, const char *data, std::size_t size, TimePoint now) {
    LocationDatagram location;
    if (!ParseLocationDatagram(std::string_view(data, size), &location)) {
        ++counters_.datagramsMalformed;
        Warn(badDatagramLog_, now,
             "dropped a datagram from " + EndpointText(from.address, from.port) + ": " +
                 Preview(std::string_view(data, size)));
        return;
    }
    auto found = clients_.find(location.uniqueId);
    if (found == clients_.end()) {
        ++counters_.datagramsUnknownSender;
        Warn(unknownSenderLog_, now,
             "dropped a datagram from " + EndpointText(from.address, from.port) + ": no client " +
                 std::to_string(location.uniqueId) + " is logged in");
        return;
    }
    Client &client = *found->second;
    if (!client.hasEndpoint) {
        if (from.address != client.streamAddress) {
            ++counters_.datagramsUnknownSender;
            Warn(unknownSenderLog_, now,
                 "dropped a datagram for client " + std::to_string(client.uniqueId) + " from " +
                     EndpointText(from.address, from.port) + ": not the address it logged in from");
            return;
        }
        client.hasEndpoint = true;
        client.endpoint = from;
        spdlog::info("client {} sends its datagrams from {}", client.uniqueId, EndpointText(from.address, from.port));
    } else if (from != client.endpoint) {
        ++counters_.datagramsUnknownSender;
        Warn(unknownSenderLog_, now,
             "dropped a datagram for client " + std::to_string(client.uniqueId) + " from " +
                 EndpointText(from.address, from.port) + ": it sends from " +
                 EndpointText(client.endpoint.address, client.endpoint.port));
        return;
    }
    if (now - client.floodWindow >= std::chrono::seconds(1)) {
        client.floodWindow = now;
        client.floodCount = 0;
    }
    if (++client.floodCount > limits_.maxDatagramsPerSecond) {
        ++counters_.datagramsOverRate;
        if (client.floodCount == limits_.maxDatagramsPerSecond + 1) {
            spdlog::warn("client {} sends more than {} datagrams a second; dropping the rest of this second",
                         client.uniqueId, limits_.maxDatagramsPerSecond);
        }
        return;
    }
    client.lastHeard = now;
    if (location.fields.size() + SlotPrefix(kSlotCount - 1).size() > kMaxDatagram) {
        ++counters_.datagramsTooLong;
        Warn(badDatagramLog_, now,
             "dropped a datagram from client " + std::to_string(client.uniqueId) + ": " + std::to_string(size) +
                 " bytes is too long to relay");
        return;
    }
    if (location.viewOnly != client.viewOnly) {
        client.viewOnly = location.viewOnly;
        viewsDirty_ = true;
    }
    client.location.assign(location.fields.data(), location.fields.size());
    client.locationChanged = true;
    if (!client.hasPosition) {
        client.hasPosition = true;
        viewsDirty_ = true;
    }
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
    std::vector<std::pair<ConnectionId, const char *>> expired;
    for (const auto &entry : connections_) {
        const Connection &connection = *entry.second;
        if (connection.client) {
            if (now - connection.client->lastHeard >= limits_.silenceTimeout) {
                expired.emplace_back(entry.first, "silent for too long");
            }
        } else if (now - connection.opened >= limits_.loginTimeout) {
            expired.emplace_back(entry.first, "no login in time");
        }
    }
    for (const auto &[connection, reason] : expired) {
        auto found = connections_.find(connection);
        if (found == connections_.end()) continue;
        ++(found->second->client ? counters_.closedSilent : counters_.closedNoLogin);
        if (Client *client = found->second->client) {
            spdlog::warn("removing client {} ({}): {}", client->uniqueId, client->user, reason);
            CloseConnection(connection, nullptr);
        } else {
            CloseConnection(connection, reason);
        }
    }
    if (viewsDirty_ || now - lastViewRefresh_ >= limits_.viewPeriod) RefreshViews(now);
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
    for (auto &entry : clients_) RefreshView(*entry.second);
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
        candidate.forced = inCrew && aircraft.crew == receiver.crew && aircraft.position == 0;
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
    for (const auto &entry : clients_) {
        const Client &client = *entry.second;
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
    snapshot.clients.connecting = connections_.size() - clients_.size();
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
