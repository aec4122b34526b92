// What the relay tells the other nodes of its network, independent of the messaging library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/core/Transport.h"

namespace server {

// An aircraft as the other nodes learn it: who flies it and what its receivers are told about it.
// The texts are already in the form the relay sends to plug-ins ("BLANK" for an empty callsign or model).
struct AircraftIdentity {
    int uniqueId = 0;
    std::uint64_t since = 0;  // login time, microseconds of the wall clock
    // When it named its crew in the pilot's seat, and its callsign, on the same clock: the first to claim
    // one holds it on every node.
    std::uint64_t crewSince = 0;
    std::uint64_t callsignSince = 0;
    std::string user;
    std::string callsign = "BLANK";
    std::string plane = "BLANK";
    std::string crew;  // empty: not in a crew
    int position = 0;
    bool crewedWithoutId = false;
    bool viewOnly = false;
    // The node it flies on, as the receiving node heard it: every cluster message names its sender, so this
    // is never sent as a field of its own.
    std::string node;
};

// An operator's kick, ban or lifted ban, given on one node and carried to every other.
struct OperatorAction {
    enum class Kind { Kick, Ban, Unban };
    Kind kind = Kind::Kick;
    std::string target;      // Kick: the user ID; Ban, Unban: the user ID, address or network
    std::string text;        // Kick: what the pilot is told after "session ended: "; Ban: the reason
    std::int64_t since = 0;  // Ban: seconds since 1970
    std::int64_t until = 0;  // Ban: seconds since 1970, 0 for good
    std::string by;          // who gave it, with the node
    // Read from the network's store when the node joined, not given just now: applied only where it changes
    // something, and a ban that has ended is left out. `moreFromStore`: more of the same reading follow
    // (the bans file is written once, after the last).
    bool fromStore = false;
    bool moreFromStore = false;
};

// Implemented by the bridge to the other nodes. Every call comes from the relay's event-loop thread,
// returns without waiting on the network, and never calls back into the relay before returning:
// answers (a login claim's outcome) arrive later as Relay::On... calls on the same thread.
class ClusterLink {
public:
    virtual ~ClusterLink() = default;
    // Asks the network whether this unique ID and user may log in on this node. Answered by
    // Relay::OnLoginClaimed with the same connection.
    virtual void ClaimLogin(ConnectionId connection, int uniqueId, std::string_view user, std::uint32_t address) = 0;
    // A local client logged out or was removed: its claim is given back and the other nodes drop it.
    virtual void ReleaseLogin(ConnectionId connection, int uniqueId, std::string_view user) = 0;
    // A local client's identity, at login and whenever a part of it changes.
    virtual void PublishIdentity(const AircraftIdentity &identity) = 0;
    // A local client's latest location fields. `shown`: other nodes may show it as an aircraft (a
    // hidden client's position still decides which part of the world this node listens to).
    virtual void PublishLocation(int uniqueId, std::string_view fields, bool shown) = 0;
    // A chat line as the relay sends it to its own clients ("name: text").
    virtual void PublishChat(std::string_view line) = 0;
    // An operator's action, for the other nodes to apply too.
    virtual void PublishOperatorAction(const OperatorAction &) {}
};

}  // namespace server
