// The bridge that joins a relay to the other nodes of its network through a NATS cluster.
//
// Threading: the NATS client library delivers messages and connection events on its own threads;
// the bridge only queues them there and hands them to the relay on the event-loop thread (through
// `post`), so the relay stays single-threaded. Logins are claimed in a JetStream key-value bucket on a
// worker thread of the bridge, because those calls wait for the servers' answer.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/core/Cluster.h"
#include "server/core/TrafficObserver.h"
#include "server/core/Transport.h"
#include "server/nats/ClusterMessage.h"

namespace server {

class Relay;

// The network's limits and timings, each with a flag in main.cpp.
struct ClusterOptions {
    std::vector<std::string> urls;  // NATS servers ("nats://host:port"); the client reconnects across them
    std::string node;               // this node's name, unique in the network
    Clock::duration heartbeatPeriod = std::chrono::seconds(1);
    // A node not heard from for this long is gone, and its aircraft with it.
    Clock::duration nodeTimeout = std::chrono::seconds(3);
    // A login waits at most this long for the network's login store (it may be electing a leader).
    Clock::duration claimTimeout = std::chrono::seconds(5);
    // Logins of a node that vanished are freed after this; a live node renews its own every third of it.
    Clock::duration claimLifetime = std::chrono::seconds(30);
    int storeReplicas = 3;           // copies of the login store across the NATS servers (at most their number)
    std::size_t maxInbound = 65536;  // network messages waiting for the event loop; more are dropped
    // Bytes published while the NATS connection is down (chat, identities, logins), sent when it is back;
    // past it they are lost. Positions are not kept: the next ones replace them.
    std::size_t reconnectBuffer = 1 << 20;
    std::size_t maxRemoteAircraft = 10000;
    std::size_t maxNodes = 64;
    // A cell that no local pilot needs any more is still listened to for this long, so a pilot flying
    // along a cell edge does not make the node subscribe and unsubscribe over and over.
    Clock::duration cellLinger = std::chrono::seconds(5);
    // Locations are gathered by cell for this long and go out as one message each: the hand-off, not the
    // bytes, is what a message costs the nodes and the NATS servers. Zero: one message per cell for each
    // event-loop turn.
    Clock::duration locationBatch = std::chrono::milliseconds(5);
    // How the node proves itself to the NATS servers, and checks them: a credentials file (JWT and nkey
    // seed), a file with an nkey seed, or a user and a file holding the password; the CA that signed the servers'
    // certificates, and this node's own certificate and key where the servers ask for one. Secrets are read from files,
    // never given on the command line, and never logged.
    std::string credentialsFile, nkeyFile, user, passwordFile, tlsCa, tlsCertificate, tlsKey;
    // The cluster protocol version this node speaks; it reads that one and the one before.
    int protocol = kClusterProtocol;
};

// The relay's link to the network, plus what the event loop drives.
class ClusterBridge : public ClusterLink {
public:
    // Runs a function on the relay's event-loop thread; callable from any thread.
    using Post = std::function<void(std::function<void()>)>;
    // Runs a function on the event-loop thread after a delay; called from that thread, one at a time.
    using Later = std::function<void(Clock::duration, std::function<void()>)>;
    // Called on the event-loop thread about ten times a second: heartbeats, node timeouts, interest.
    virtual void OnTick(TimePoint now) = 0;
    // The network's part of the node's state, for the health endpoints and the metrics. On the event-loop
    // thread.
    virtual void FillState(NodeState &state) const = 0;
    // Tells the other nodes that this one is leaving, so they drop its aircraft at once.
    virtual void Stop() = 0;
};

// Starts connecting in the background and returns at once. Throws std::invalid_argument for a bad node
// name or URL list.
std::unique_ptr<ClusterBridge> StartNatsBridge(const ClusterOptions &options, Relay &relay, ClusterBridge::Post post,
                                               ClusterBridge::Later later);

}  // namespace server
