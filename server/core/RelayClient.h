// What the relay keeps of each connection and of each client logged in (here or on another node): the
// records its parts share. Only the relay's thread touches them.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/core/Counters.h"
#include "server/core/LineBuffer.h"
#include "server/core/LogLimiter.h"
#include "server/core/RelayLimits.h"
#include "server/core/ReplayMemory.h"
#include "server/core/Shares.h"
#include "server/core/TokenBucket.h"
#include "server/core/Transport.h"
#include "server/core/ViewPlanner.h"

namespace server {

// Slots 1..63 are other aircraft; slot 0 is the receiver's own and never given out. A receiver is handed
// slots 1..19 unless its plug-in asks for another number (up to 63), so a plug-in that never asks never
// sees a slot number above 19.
constexpr int kSlotCount = 64;
constexpr int kDefaultAircraft = 19;
constexpr int kMostAircraft = kSlotCount - 1;
// Longest text relayed on the stream (callsign, crew ID, model path, chat line).
constexpr std::size_t kMaxText = 1024;

struct Client;

struct Viewer {
    Client *receiver;
    int slot;
};

struct Client {
    explicit Client(const RelayLimits &limits)
        : chatBucket(limits.chatRate, limits.chatBurst),
          callsignBucket(limits.identityRate, limits.identityBurst),
          crewBucket(limits.identityRate, limits.identityBurst),
          planeBucket(limits.identityRate, limits.identityBurst),
          locationBucket(limits.locationRate, limits.locationBurst),
          slotBucket(limits.slotChangeRate, limits.slotChangeBurst) {}
    int uniqueId = 0;
    ConnectionId connection = 0;
    std::uint32_t streamAddress = 0;
    std::string user;
    // Relayed texts, already sanitized; "BLANK" until the client names them. The callsign is the one the
    // relay settled on (no two pilots show the same); `wantedCallsign` is what the client asked for, and
    // `name` what it is shown as in chat (its settled callsign, or its settled user ID while it has none).
    std::string callsign = "BLANK";
    std::string wantedCallsign = "BLANK";
    std::string name;
    std::uint64_t callsignSince = 0;  // when it asked for that callsign, wall-clock microseconds
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
    // When it last named its crew in the pilot's seat, on the same clock: the first such pilot holds the crew.
    std::uint64_t crewSince = 0;
    bool remote = false;           // logged in on another node: shown here, never a receiver here
    std::string node;              // for a remote one: the node it flies on
    ReplayMemory::Key loginKey{};  // its entry in the login gate's replay memory
    // What it shares with its account's and its address's other sessions (local clients only).
    Share *account = nullptr;
    Share *from = nullptr;

    // Each sender's share. A change that finds its bucket empty is held, and the latest held value goes
    // out when the bucket allows, so receivers always end up with the sender's current identity.
    TokenBucket chatBucket, callsignBucket, crewBucket, planeBucket, locationBucket;
    TokenBucket slotBucket;  // as a receiver: the slot changes it is sent
    bool callsignHeld = false, crewHeld = false, planeHeld = false;
    bool locationHeld = false;  // its latest location has not been forwarded
    std::string heldCallsign, heldPlane, heldCrew;
    bool heldViewOnly = false, heldCrewedWithoutId = false;
    int heldPosition = 0;
    bool crewClaimLogged = false;  // told the log it claims a crew another pilot owns
    // Dropped or held back over its share, for its next log line.
    std::uint64_t excessChat = 0, excessIdentity = 0, excessLocations = 0;
    LogLimiter excessLog{std::chrono::seconds(5)};
    bool selected = false;                     // scratch for the re-evaluation of a view
    int shownAircraft = kDefaultAircraft;      // as a receiver: it is handed slots 1..shownAircraft
    int mostAircraftAsked = kDefaultAircraft;  // the most it asked for this session
    std::array<Client *, kSlotCount> slots{};
    std::vector<Viewer> viewers;  // receivers that show this client, with the slot each uses
};

// Microseconds of the wall clock, which the nodes of a network share.
std::uint64_t WallMicros();

// One chat line, identity change or location datagram over the client's share (`counter` says which):
// counted, and told to the log now and then.
void CountExcess(Client &client, RelayCounters &counters, TimePoint now, std::uint64_t Client::*counter);

// A receiver's burst of slot changes: enough to fill every slot it shows at once, so it grows with a
// receiver that asked for more than the usual 19.
inline double SlotChangeBurst(const RelayLimits &limits, int shownAircraft) {
    return shownAircraft > kDefaultAircraft ? limits.slotChangeBurst * shownAircraft / kDefaultAircraft
                                            : limits.slotChangeBurst;
}

inline bool IsCrewMember(const Client &client) { return !client.crew.empty() && client.position > 0; }

inline bool IsShownAsAircraft(const Client &client) {
    return client.hasPosition && !client.viewOnly && !IsCrewMember(client);
}

struct Connection {
    Connection(ConnectionId id, std::uint32_t address, std::size_t maxLine, TimePoint now)
        : id(id), address(address), lines(maxLine), opened(now) {}
    ConnectionId id;
    std::uint32_t address;
    LineBuffer lines;
    TimePoint opened;
    std::uint64_t arrival = 0;  // its place among the login gate's newcomers until it sends a login line
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

// Everyone the relay shows or serves, by unique ID.
using Clients = std::unordered_map<int, std::unique_ptr<Client>>;

}  // namespace server
