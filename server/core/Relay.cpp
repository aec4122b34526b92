// The relay's state machine: connections from the first line to the last, logins, and the dispatch of
// what clients send to the parts that handle it.
#include "server/core/Relay.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <ctime>
#include <optional>
#include <unordered_set>
#include <utility>

#include "server/core/ClientMessage.h"
#include "server/core/Notice.h"
#include "server/core/Text.h"

namespace server {

namespace {

// Lines a client may send after its login line before the answer comes (the plug-in sends three).
constexpr std::size_t kMaxHeldBytes = 16 * 1024;

std::int64_t WallSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// What a banned pilot is told: until when, and why.
std::string BanText(const Ban &ban) {
    std::string text = "login refused: banned";
    if (ban.until != 0) {
        std::time_t until = static_cast<std::time_t>(ban.until);
        std::tm utc{};
        gmtime_r(&until, &utc);
        char when[64];
        std::strftime(when, sizeof when, " until %Y-%m-%d %H:%M UTC", &utc);
        text += when;
    }
    if (!ban.reason.empty()) text += ": " + ban.reason;
    return text;
}

std::string Seconds(Clock::duration duration) {
    auto seconds = std::chrono::ceil<std::chrono::seconds>(duration).count();
    return std::to_string(std::max<long long>(seconds, 1)) + " s";
}

}  // namespace

Relay::Relay(Transport &transport, RelayLimits limits)
    : transport_(transport),
      limits_(limits),
      logBudget_(limits.logBudget, limits.logBudget),
      sessionLogBudget_(limits.sessionLogBudget, limits.sessionLogBudget, "of logins, logouts and refusals"),
      gate_(limits_),
      crews_(transport, clients_, logBudget_),
      views_(transport, limits_, clients_, crews_),
      identities_(clients_, views_, crews_, counters_),
      remote_(limits_, clients_, views_, crews_, identities_, logBudget_),
      shares_(limits_),
      locations_(limits_, clients_, views_, identities_, counters_, logBudget_),
      chat_(transport, limits_, clients_, shares_, counters_, logBudget_) {
    for (LogLimiter *limiter : {&badLineLog_, &connectLog_}) limiter->Share(logBudget_);
    for (LogLimiter *limiter : {&refusedLog_, &coolOffLog_, &loginLog_, &leaveLog_}) {
        limiter->Share(sessionLogBudget_);
    }
}

void Relay::SetCluster(ClusterLink *cluster) {
    cluster_ = cluster;
    identities_.SetCluster(cluster);
    locations_.SetCluster(cluster);
    chat_.SetCluster(cluster);
}

Relay::~Relay() = default;

void Relay::SetLimits(const RelayLimits &limits) {
    limits_ = limits;
    // The clients' own buckets take the new rates too, keeping what each has saved up.
    for (auto &entry : clients_) {
        Client &client = *entry.second;
        if (client.remote) continue;
        client.chatBucket.SetRate(limits.chatRate, limits.chatBurst);
        for (TokenBucket *bucket : {&client.callsignBucket, &client.crewBucket, &client.planeBucket}) {
            bucket->SetRate(limits.identityRate, limits.identityBurst);
        }
        client.locationBucket.SetRate(limits.locationRate, limits.locationBurst);
        client.slotBucket.SetRate(limits.slotChangeRate, SlotChangeBurst(limits, client.shownAircraft));
    }
    shares_.SetRates();
    logBudget_.SetRate(limits.logBudget, limits.logBudget);
    sessionLogBudget_.SetRate(limits.sessionLogBudget, limits.sessionLogBudget);
}

void Relay::StartDrain(const std::string &notice) {
    drainNotice_ = notice;
    if (draining_) return;
    draining_ = true;
    // Try again later: the plug-in says so in its status line and comes back by itself.
    std::string line = NoticeLine(notice, Retry::Later);
    for (const auto &entry : clients_) {
        if (!entry.second->remote) transport_.SendStream(entry.second->connection, line);
    }
}

std::size_t Relay::LocalClientCount() const {
    std::size_t count = 0;
    for (const auto &entry : clients_) count += entry.second->remote ? 0 : 1;
    return count;
}

void Relay::OnConnect(ConnectionId connection, std::uint32_t address, TimePoint now) {
    now_ = now;
    if (connections_.count(connection) != 0) return;
    switch (gate_.Enter(address, now)) {
        case LoginGate::Entry::CoolingOff:
            coolOffLog_.Event(now, spdlog::level::warn, "connection_refused", address, "",
                              "refusing connection: cooling off after failed logins");
            counters_.Refused(Refusal::CoolingOff);
            SendNoticeAndClose(connection, LockedOutText(address, now), Retry::Later);
            return;
        case LoginGate::Entry::TooManyPending:
            connectLog_.Event(now, spdlog::level::warn, "connection_refused", address, "",
                              "refusing connection: {} connections not logged in", limits_.maxPendingPerAddress);
            counters_.Refused(Refusal::TooManyPending);
            SendNoticeAndClose(connection,
                               "connection refused: " + std::to_string(limits_.maxPendingPerAddress) +
                                   " connections from this address have not logged in yet",
                               Retry::Later);
            return;
        case LoginGate::Entry::Open:
            break;
    }
    if (const Ban *ban = bans_ ? bans_->FindAddress(address, WallSeconds()) : nullptr) {
        refusedLog_.Event(now, spdlog::level::warn, "connection_refused", address, "",
                          "refusing connection: banned ({})", Preview(ban->target));
        counters_.Refused(Refusal::Banned);
        SendNoticeAndClose(connection, BanText(*ban), Retry::Never);
        return;
    }
    if (!MakeRoom(now)) {
        connectLog_.Event(now, spdlog::level::warn, "connection_refused", address, "",
                          "refusing connection: {} connections open", connections_.size());
        ++counters_.refusedOverLimit;
        counters_.Refused(Refusal::ServerFull);
        SendNoticeAndClose(connection, "connection refused: the server is full", Retry::Later);
        return;
    }
    auto added = std::make_unique<Connection>(connection, address, limits_.maxLineLength, now);
    gate_.Arrive(*added);
    connections_.emplace(connection, std::move(added));
    connectLog_.Event(now, spdlog::level::debug, "connect", address, "", "connection {}", connection);
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
        badLineLog_.Event(now, spdlog::level::warn, "connection_closed", conn.address, "",
                          "closing connection: a line longer than {} bytes", limits_.maxLineLength);
        ++counters_.closedLongLine;
        CloseConnection(connection, nullptr);
    }
}

void Relay::OnDisconnect(ConnectionId connection, const char *reason) {
    auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    TimePoint now = now_;
    if (Client *client = found->second->client) {
        leaveLog_.Event(now, spdlog::level::info, "logout", client->streamAddress, client->user,
                        "client {} {} gone: {}", client->uniqueId, Preview(client->user), reason);
    } else if (!found->second->refused) {
        leaveLog_.Event(now, spdlog::level::info, "disconnect", found->second->address, "",
                        "connection gone before login: {}", reason);
    }
    CloseConnection(connection, nullptr);
}

bool Relay::MakeRoom(TimePoint now) {
    if (std::optional<ConnectionId> oldest = gate_.GivingWay(connections_.size())) {
        ++counters_.closedForNewcomer;
        auto found = connections_.find(*oldest);
        if (found != connections_.end()) {
            connectLog_.Event(now, spdlog::level::warn, "connection_closed", found->second->address, "",
                              "closing connection: it sent no login line, and a newcomer needs its place");
        }
        CloseConnection(*oldest, nullptr);
    }
    return connections_.size() < limits_.maxClients;
}

void Relay::CloseConnection(ConnectionId connection, const char *reason, bool afterSending) {
    auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    Connection &conn = *found->second;
    if (reason) {
        leaveLog_.Event(now_, spdlog::level::info, "connection_closed", conn.address, "", "closing connection: {}",
                        reason);
    }
    if (Client *client = conn.client) RemoveClient(*client, now_);
    gate_.Leave(conn);
    connections_.erase(found);
    if (afterSending) {
        transport_.CloseAfterSending(connection);
    } else {
        transport_.Close(connection);
    }
}

void Relay::SendNoticeAndClose(ConnectionId connection, std::string_view text, Retry retry) {
    transport_.SendStream(connection, NoticeLine(text, retry));
    transport_.CloseAfterSending(connection);
}

void Relay::EndSession(ConnectionId connection, std::string_view text, Retry retry) {
    if (connections_.count(connection) == 0) return;
    transport_.SendStream(connection, NoticeLine("session ended: " + std::string(text), retry));
    CloseConnection(connection, nullptr, true);
}

std::string Relay::LockedOutText(std::uint32_t address, TimePoint now) const {
    return "login refused: too many failed logins from this address; locked out for " +
           Seconds(gate_.CoolingLeft(address, now));
}

bool Relay::HandleLine(Connection &connection, std::string_view line, TimePoint now) {
    if (connection.refused) return false;
    if (connection.ticket != 0 || connection.claiming) {
        // The login is still being checked: keep what follows for when it is in.
        connection.heldBytes += line.size();
        if (connection.heldBytes > kMaxHeldBytes) {
            badLineLog_.Event(now, spdlog::level::warn, "connection_closed", connection.address, "",
                              "closing connection: too much sent before its login");
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
        badLineLog_.Event(now, spdlog::level::warn, "bad_line", connection.address, client.user,
                          "client {} sent a line that is no message: {}", client.uniqueId, Preview(line));
        return true;
    }
    if (message.uniqueId != client.uniqueId) {
        ++counters_.linesMalformed;
        badLineLog_.Event(now, spdlog::level::warn, "bad_line", connection.address, client.user,
                          "client {} sent a message under another ID: {}", client.uniqueId, Preview(line));
        return true;
    }
    client.lastHeard = now;
    switch (message.kind) {
        case StreamKind::Opening:
            badLineLog_.Log(now, spdlog::level::warn, "client {} logged in twice; ignored", client.uniqueId);
            return true;
        case StreamKind::Closing:
            leaveLog_.Event(now, spdlog::level::info, "logout", connection.address, client.user,
                            "client {} {} logged out", client.uniqueId, Preview(client.user));
            CloseConnection(connection.id, nullptr);
            return false;
        case StreamKind::Plane:
            identities_.OfferPlane(client, RelayedModelPath(message.text, kMaxText), now);
            return true;
        case StreamKind::Callsign:
        case StreamKind::ViewOnlyCallsign:
            identities_.OfferCallsign(client, StreamText(message.text, kMaxText),
                                      message.kind == StreamKind::ViewOnlyCallsign, now);
            return true;
        case StreamKind::Crew: {
            std::string crew = message.text == "BLANK" ? std::string() : StreamText(message.text, kMaxText);
            if (crew == "BLANK") crew.clear();
            bool crewedWithoutId = message.text.empty() && message.position > 0;
            identities_.OfferCrew(client, std::move(crew), message.position, crewedWithoutId, now);
            return true;
        }
        case StreamKind::Chat:
            chat_.Say(client, message.text, now);
            return true;
        case StreamKind::Slots: {
            int aircraft = 0;
            if (ParseUniqueId(message.text, &aircraft) != message.text.size() || aircraft < 1 ||
                aircraft > kMostAircraft) {
                ++counters_.linesMalformed;
                badLineLog_.Event(now, spdlog::level::warn, "bad_line", connection.address, client.user,
                                  "client {} asked for {} aircraft slots, not a number from 1 to {}; ignored",
                                  client.uniqueId, Preview(message.text), kMostAircraft);
                return true;
            }
            if (aircraft != client.shownAircraft) views_.SetShownAircraft(client, aircraft, now);
            return true;
        }
    }
    return true;
}

bool Relay::HandleLogin(Connection &connection, std::string_view line, TimePoint now) {
    StreamMessage message;
    if (!ParseStreamLine(line, &message) || message.kind != StreamKind::Opening) {
        refusedLog_.Event(now, spdlog::level::warn, "login_refused", connection.address, "",
                          "refused login: first line is not a login: {}", Preview(line));
        RefuseLogin(connection, now, nullptr, true, Refusal::NotALogin,
                    "login refused: the first line was not a login");
        return false;
    }
    if (draining_) {
        // Told why, so that the plug-in tries again a little later, by then with the restarted server.
        RefuseLogin(connection, now, "the server is stopping", false, Refusal::Draining,
                    "login refused: " + drainNotice_);
        return false;
    }
    if (const Ban *ban = bans_ ? bans_->Find(message.text, connection.address, WallSeconds()) : nullptr) {
        refusedLog_.Event(now, spdlog::level::warn, "login_refused", connection.address, message.text,
                          "refused login of {}: banned ({})", Preview(message.text), Preview(ban->target));
        connection.loginUser.assign(message.text);
        RefuseLogin(connection, now, nullptr, false, Refusal::Banned, BanText(*ban), Retry::Never);
        return false;
    }
    if (const char *why = gate_.TakeLoginLine(connection, message, now)) {
        bool locked = gate_.CoolingLeft(connection.address, now) > Clock::duration::zero();
        RefuseLogin(connection, now, why, false, locked ? Refusal::CoolingOff : Refusal::Replayed,
                    locked ? LockedOutText(connection.address, now) : "login refused: " + std::string(why));
        return false;
    }
    transport_.CheckLogin(connection.ticket, message.uniqueId, message.text, message.digest);
    return true;
}

void Relay::OnLoginChecked(std::uint64_t ticket, LoginResult result, TimePoint now) {
    now_ = now;
    std::optional<ConnectionId> checked = gate_.Checked(ticket);
    if (!checked) return;  // the connection went meanwhile
    ConnectionId id = *checked;
    auto connection = connections_.find(id);
    if (connection == connections_.end()) return;
    Connection &conn = *connection->second;
    conn.ticket = 0;
    if (result == LoginResult::Unavailable) {
        // Not the client's fault: it is refused, but that does not count towards its address's failures.
        RefuseLogin(conn, now, "the accounts file cannot be read now", false, Refusal::Unavailable,
                    "login refused: the server cannot read its accounts now");
        return;
    }
    if (result == LoginResult::Refused) {
        // The pilot has to correct the settings: trying again by itself would only count more failures.
        RefuseLogin(conn, now, "unknown user or wrong password", true, Refusal::Credentials,
                    "login refused: unknown user or wrong password", Retry::Never);
        return;
    }
    CompleteLogin(conn, now);
    if (connections_.count(id) != 0 && conn.client) HandleHeldLines(conn, now);
}

// The lines that came while its login was checked, in order, until one ends the connection.
void Relay::HandleHeldLines(Connection &connection, TimePoint now) {
    std::vector<std::string> held;
    held.swap(connection.heldLines);
    connection.heldBytes = 0;
    for (const std::string &line : held) {
        if (!HandleLine(connection, line, now)) return;
    }
}

void Relay::RefuseLogin(Connection &connection, TimePoint now, const char *why, bool countsAsFailure, Refusal reason,
                        const std::string &told, Retry retry) {
    ++counters_.loginsRefused;
    counters_.Refused(reason);
    transport_.SendStream(connection.id, NoticeLine(told, retry));
    if (why) {
        refusedLog_.Event(now, spdlog::level::warn, "login_refused", connection.address, connection.loginUser,
                          "refused login of {}: {}", Preview(connection.loginUser), why);
    }
    // Closed only after a while, and still counted among its address's connections until then: every
    // guess costs the guesser time, and one address gets few of them at once.
    connection.refused = true;
    connection.closeAt = now + limits_.refusalDelay;
    connection.heldLines.clear();
    if (!countsAsFailure) return;
    Clock::duration coolOff = gate_.CountFailure(connection.address, now);
    if (coolOff == Clock::duration::zero()) return;
    coolOffLog_.Event(now, spdlog::level::warn, "cooling_off", connection.address, "",
                      "{} failed logins within a minute: refused for {} s", limits_.maxLoginFailures,
                      std::chrono::duration_cast<std::chrono::seconds>(coolOff).count());
}

void Relay::CompleteLogin(Connection &connection, TimePoint now) {
    const std::string &user = connection.loginUser;
    int uniqueId = connection.loginId;
    auto existing = clients_.find(uniqueId);
    if (existing != clients_.end() && !existing->second->remote) {
        Client &old = *existing->second;
        // The same user under the same ID replaces its session (see Admit); another user may not take it.
        if (old.user != user) {
            refusedLog_.Event(now, spdlog::level::warn, "login_refused", connection.address, user,
                              "refused login of {}: unique ID {} is already logged in", Preview(user), uniqueId);
            RefuseLogin(connection, now, nullptr, false, Refusal::InUse,
                        "login refused: unique ID " + std::to_string(uniqueId) + " is already logged in");
            return;
        }
    }
    if (const char *why = OverSessionLimit(connection)) {
        RefuseLogin(connection, now, why, false, Refusal::AddressFull, std::string("login refused: ") + why);
        return;
    }
    if (cluster_) {
        // One network, one login: the other nodes' answer comes back through OnLoginClaimed.
        connection.claiming = true;
        cluster_->ClaimLogin(connection.id, uniqueId, user, connection.address);
        return;
    }
    Admit(connection, now);
}

// One address cannot take every place of the server: the newest login past its share is refused (one
// account cannot either: a login replaces the same user's older session). The session a login replaces
// does not count, so a pilot whose link dropped always gets back in.
const char *Relay::OverSessionLimit(const Connection &connection) const {
    std::size_t atAddress = shares_.SessionsAt(connection.address);
    auto sameUser = sessionsByUser_.find(connection.loginUser);
    if (sameUser != sessionsByUser_.end()) {
        auto replaced = clients_.find(sameUser->second);
        if (replaced != clients_.end() && replaced->second->streamAddress == connection.address && atAddress > 0) {
            --atAddress;
        }
    }
    if (atAddress >= limits_.maxSessionsPerAddress) return "too many sessions from this address are logged in";
    return nullptr;
}

void Relay::Admit(Connection &connection, TimePoint now) {
    const std::string &user = connection.loginUser;
    int uniqueId = connection.loginId;
    auto existing = clients_.find(uniqueId);
    if (existing != clients_.end() && existing->second->remote) {
        // Its pilot came over from another node, which closes the old session there.
        RemoveClient(*existing->second, now);
    }
    // A correct login replaces the same user's older session, from whatever address and under whatever
    // unique ID: a link that died without a close is not yet timed out when its pilot is back. The old
    // session is told not to come back by itself, so two machines sharing one account do not take turns.
    auto sameUser = sessionsByUser_.find(user);
    if (sameUser != sessionsByUser_.end()) {
        auto old = clients_.find(sameUser->second);
        if (old != clients_.end()) {
            loginLog_.Event(now, spdlog::level::info, "login", connection.address, user,
                            "client {} {} logged in again as client {}; its old connection is closed",
                            old->second->uniqueId, Preview(user), uniqueId);
            EndSession(old->second->connection, "this user logged in again from elsewhere", Retry::Never);
        }
    }
    existing = clients_.find(uniqueId);
    if (existing != clients_.end()) {
        // Another user took the ID while the network agreed to this login: the newer login wins, as it does
        // on the other nodes.
        CloseConnection(existing->second->connection, nullptr);
    }
    gate_.LoggedIn(connection);
    ++counters_.logins;
    auto client = std::make_unique<Client>(limits_);
    client->excessLog.Share(logBudget_);
    client->uniqueId = uniqueId;
    client->connection = connection.id;
    client->streamAddress = connection.address;
    client->user = user;
    client->lastHeard = now;
    client->order = std::max(nextOrder_, WallMicros());
    nextOrder_ = client->order + 1;
    client->callsignSince = client->order;
    client->loginKey = connection.loginKey;
    shares_.Join(user, connection.address, &client->account, &client->from);
    connection.client = client.get();
    Client &admitted = *client;
    clients_.emplace(uniqueId, std::move(client));
    sessionsByUser_[user] = uniqueId;
    views_.MarkDirty();
    loginLog_.Event(now, spdlog::level::info, "login", connection.address, user, "client {} {} logged in", uniqueId,
                    Preview(user));
    identities_.SettleName(admitted);
    identities_.Publish(admitted);
    if (!motd_.empty()) transport_.SendStream(connection.id, "0|m|" + StreamText("Server: " + motd_, kMaxText) + "\n");
}

void Relay::KeepOnlyUsers(const std::vector<std::string> &users) {
    std::unordered_set<std::string_view> allowed(users.begin(), users.end());
    std::vector<ConnectionId> ending;
    for (const auto &[id, client] : clients_) {
        if (!client->remote && allowed.count(client->user) == 0) ending.push_back(client->connection);
    }
    for (ConnectionId connection : ending) {
        auto found = connections_.find(connection);
        if (found == connections_.end() || !found->second->client) continue;
        const Client &client = *found->second->client;
        spdlog::warn("{}", EventMessage("session_ended", client.streamAddress, Escaped(client.user),
                                        "ending the session of client " + std::to_string(client.uniqueId) + " " +
                                            Preview(client.user) + ": its account was removed or disabled"));
        EndSession(connection, "this account was removed or disabled", Retry::Never);
    }
}

std::size_t Relay::EndBanned(std::int64_t wallNow) {
    if (!bans_) return 0;
    std::vector<std::pair<ConnectionId, std::string>> ending;
    for (const auto &[id, client] : clients_) {
        if (client->remote) continue;
        if (const Ban *ban = bans_->Find(client->user, client->streamAddress, wallNow)) {
            ending.emplace_back(client->connection, BanText(*ban).substr(std::string("login refused: ").size()));
        }
    }
    for (const auto &[connection, text] : ending) EndSession(connection, text, Retry::Never);
    return ending.size();
}

std::size_t Relay::Kick(std::string_view user, std::string_view text) {
    std::vector<ConnectionId> ending;
    for (const auto &[id, client] : clients_) {
        if (!client->remote && client->user == user) ending.push_back(client->connection);
    }
    for (ConnectionId connection : ending) EndSession(connection, text, Retry::Never);
    return ending.size();
}

void Relay::Say(std::string_view text) {
    std::string line = "0|m|" + StreamText("Server: " + std::string(text), kMaxText) + "\n";
    for (const auto &[id, client] : clients_) {
        if (!client->remote) transport_.SendStream(client->connection, line);
    }
}

std::vector<Relay::Session> Relay::Sessions() const {
    std::vector<Session> sessions;
    for (const auto &[id, client] : clients_) {
        Session session;
        session.uniqueId = client->uniqueId;
        session.user = client->user;
        session.callsign = client->callsign;
        session.crew = client->crew;
        session.position = client->position;
        session.remote = client->remote;
        session.node = client->node;
        session.address = client->remote ? 0 : client->streamAddress;
        session.viewOnly = client->viewOnly;
        session.since = client->order;
        sessions.push_back(std::move(session));
    }
    std::sort(sessions.begin(), sessions.end(), [](const Session &a, const Session &b) { return a.since < b.since; });
    return sessions;
}

bool Relay::OnLoginClaimed(ConnectionId connection, bool granted, const std::string &reason, TimePoint now) {
    now_ = now;
    auto found = connections_.find(connection);
    if (found == connections_.end() || !found->second->claiming) return false;
    Connection &conn = *found->second;
    conn.claiming = false;
    if (!granted) {
        // The store not answering is the network's fault, not a login held elsewhere.
        bool unavailable =
            reason.find("did not answer") != std::string::npos || reason.find("cannot") != std::string::npos;
        RefuseLogin(conn, now, reason.c_str(), false, unavailable ? Refusal::Unavailable : Refusal::Network,
                    "login refused: " + reason);
        return false;
    }
    // Other logins of the account may have come in while the network was asked.
    if (const char *why = OverSessionLimit(conn)) {
        RefuseLogin(conn, now, why, false, Refusal::AddressFull, std::string("login refused: ") + why);
        return false;
    }
    Admit(conn, now);
    HandleHeldLines(conn, now);
    return true;
}

void Relay::OnReplacedElsewhere(int uniqueId, const std::string &where) {
    auto found = clients_.find(uniqueId);
    if (found == clients_.end() || found->second->remote) return;
    Client &client = *found->second;
    loginLog_.Event(now_, spdlog::level::info, "logout", client.streamAddress, client.user,
                    "client {} {} logged in again on node {}; its session here is closed", uniqueId,
                    Preview(client.user), Preview(where));
    EndSession(client.connection, "this user logged in again from elsewhere", Retry::Never);
}

void Relay::OnRemoteIdentity(const AircraftIdentity &identity, TimePoint now) {
    now_ = now;
    remote_.Identity(identity, now);
}

bool Relay::OnRemoteLocation(int uniqueId, std::string_view fields, TimePoint now) {
    now_ = now;
    return remote_.Location(uniqueId, fields, now);
}

void Relay::OnRemoteLeave(int uniqueId) {
    if (Client *aircraft = remote_.Find(uniqueId)) RemoveClient(*aircraft, now_);
    if (clients_.count(uniqueId) == 0) identities_.ReleaseName(uniqueId);
}

void Relay::OnRemoteChat(std::string_view line) { chat_.FromOtherNode(line); }

void Relay::RemoveClient(Client &client, TimePoint now) {
    crews_.Leave(client, now);
    if (!client.remote) {
        // An aircraft of another node keeps its name here until it leaves the network, even while this
        // node does not track it.
        identities_.ReleaseName(client.uniqueId);
        gate_.SessionEnded(client.loginKey, now);
        shares_.Leave(client.account, client.from);
    }
    views_.Detach(client);
    if (!client.remote) {
        auto byUser = sessionsByUser_.find(client.user);
        if (byUser != sessionsByUser_.end() && byUser->second == client.uniqueId) sessionsByUser_.erase(byUser);
        auto connection = connections_.find(client.connection);
        if (connection != connections_.end()) connection->second->client = nullptr;
        if (cluster_) cluster_->ReleaseLogin(client.connection, client.uniqueId, client.user);
    }
    views_.MarkDirty();
    clients_.erase(client.uniqueId);
}

void Relay::OnDatagram(const Endpoint &from, const char *data, std::size_t size, TimePoint now) {
    now_ = now;
    locations_.Take(from, data, size, now);
}

void Relay::OnTick(TimePoint now) {
    now_ = now;
    std::vector<std::pair<ConnectionId, const char *>> expired;
    std::vector<ConnectionId> refusedDone;
    for (const auto &entry : connections_) {
        const Connection &connection = *entry.second;
        if (connection.client) {
            if (now - connection.client->lastHeard >= limits_.silenceTimeout) {
                expired.emplace_back(entry.first, "silent for too long");
            }
        } else if (connection.refused) {
            if (now >= connection.closeAt) refusedDone.push_back(entry.first);
        } else if (now - connection.opened >= limits_.loginTimeout) {
            expired.emplace_back(entry.first, "no login in time");
        }
    }
    // The notice of a refused login went out when it was refused; the stream ends after it.
    for (ConnectionId connection : refusedDone) CloseConnection(connection, nullptr, true);
    for (const auto &[connection, reason] : expired) {
        auto found = connections_.find(connection);
        if (found == connections_.end()) continue;
        ++(found->second->client ? counters_.closedSilent : counters_.closedNoLogin);
        if (Client *client = found->second->client) {
            leaveLog_.Event(now, spdlog::level::warn, "logout", client->streamAddress, client->user,
                            "removing client {} {}: {}", client->uniqueId, Preview(client->user), reason);
            EndSession(connection, "nothing heard from this plug-in for too long", Retry::Later);
        } else {
            CloseConnection(connection, reason);
        }
    }
    for (Client *aircraft : remote_.Stale(now)) RemoveClient(*aircraft, now);
    for (auto &entry : clients_) {
        identities_.ApplyHeld(*entry.second, now);
        locations_.SendHeld(*entry.second, now);
    }
    gate_.Tick(now);
    shares_.Prune(now);
    logBudget_.Summarize(now);
    sessionLogBudget_.Summarize(now);
    views_.Tick(now);
}

void Relay::Snapshot(TrafficSnapshot &snapshot) {
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
    chat_.TakeRecent(snapshot.chat);
    snapshot.counters = counters_;
}

int Relay::SlotOf(int receiverId, int aircraftId) const {
    auto receiver = clients_.find(receiverId);
    auto aircraft = clients_.find(aircraftId);
    if (receiver == clients_.end() || aircraft == clients_.end()) return 0;
    return views_.SlotOf(*receiver->second, *aircraft->second);
}

}  // namespace server
