// The messages the nodes of one network exchange over NATS: their subjects, their text, and strict parsing.
//
// Every payload is a few fields separated by line feeds, the first a kind letter with the protocol
// version and the second the sending node's name. No field can hold a line feed: the texts are relayed
// stream texts, which never do. Anything that does not parse exactly is dropped by the receiver.
//
// Versions: the first one carried no mark, its first field is the kind letter alone ("L"); from version 2
// on the letter is followed by the version ("L2"). A node reads its own version and the one before, so
// a network is upgraded one node at a time: first every node runs the new build speaking the old version
// (which the old builds read), then each is told to speak the new one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/Cluster.h"

namespace server {

enum class ClusterKind : char {
    Location = 'L',   // id and location fields, for one aircraft or more
    Aircraft = 'A',   // id, login time and identity
    Leave = 'X',      // id: the aircraft left the network
    Kick = 'K',       // id: its session elsewhere was replaced by a newer login on the sender
    Chat = 'M',       // one chat line
    Heartbeat = 'H',  // instance, aircraft count
    Sync = 'S',       // instance: "send me your aircraft"
    Gone = 'G',       // instance: the node shuts down
    // From the second version on: an operator's action, to be applied on every node.
    Ban = 'B',    // target, since, until, by, reason
    Unban = 'U',  // target, by
    Eject = 'E',  // user, by, what the pilot is told
};

struct LocationEntry {
    int uniqueId = 0;
    std::string fields;
};

// The version this build speaks by default, and the oldest it reads and can speak.
constexpr int kClusterProtocol = 2;
constexpr int kOldestClusterProtocol = 1;

struct ClusterMessage {
    int version = kClusterProtocol;  // as read, or to write
    ClusterKind kind = ClusterKind::Heartbeat;
    std::string node;
    std::uint64_t instance = 0;            // Heartbeat, Sync, Gone
    std::uint64_t count = 0;               // Heartbeat
    int uniqueId = 0;                      // Location, Aircraft, Leave, Kick
    std::string text;                      // Chat: the line
    AircraftIdentity identity;             // Aircraft
    OperatorAction action;                 // Ban, Unban, Eject
    std::vector<LocationEntry> locations;  // Location
};

// Node names: 1 to 32 letters, digits, "-" or "_", so a name is one subject token.
bool IsValidNodeName(std::string_view name);

// The payload of a message in its `version`. The caller fills only the members its kind uses.
std::string EncodeClusterMessage(const ClusterMessage &message);
// False for anything that is not exactly one of the payloads above, in a version this build reads.
bool ParseClusterMessage(std::string_view payload, ClusterMessage *message);
// The version a payload's first field claims, whether or not the rest parses; 0 when it claims none that
// could be one of ours. Tells a message of a newer node from a malformed one.
int ClusterVersionOf(std::string_view payload);

// A node sends the locations of one cell gathered in one event-loop turn as one message: "L", the node,
// then an ID and its fields for each aircraft. A message of one aircraft is what nodes sent before they
// gathered them, and all nodes read it. Payloads stay under this, which is what the nodes accept.
constexpr std::size_t kMaxClusterPayload = 8192;
void StartLocations(std::string &payload, std::string_view node, int version = kClusterProtocol);
// Appends one aircraft. False, and nothing appended, when its fields hold a line feed (they would end
// early and the rest would read as another aircraft) or the payload would pass kMaxClusterPayload.
bool AppendLocation(std::string &payload, int uniqueId, std::string_view fields);

// A cell of the world grid: whole degrees, south-west corner, latitude -90..89, longitude -180..179.
struct Cell {
    int latitude = 0;
    int longitude = 0;
    bool operator==(const Cell &other) const { return latitude == other.latitude && longitude == other.longitude; }
    bool operator<(const Cell &other) const {
        return latitude != other.latitude ? latitude < other.latitude : longitude < other.longitude;
    }
};
Cell CellOf(double latitude, double longitude);

// Subjects: events every node hears, each cell's locations, and the messages meant for one node.
constexpr const char *kEventSubject = "skorvale.net";
std::string CellSubject(const Cell &cell);
std::string NodeSubject(std::string_view node);

}  // namespace server
