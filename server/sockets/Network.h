// The relay server on real sockets: one TCP listener and one UDP socket on the same address and port,
// driven by a single Asio event loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "server/accounts/Authenticator.h"
#include "server/core/BanList.h"
#include "server/core/Relay.h"
#include "server/core/TrafficObserver.h"
#include "server/nats/NatsBridge.h"

namespace server {

// One sender a core, up to four; none on a machine with one core, where they would only take turns.
std::size_t DefaultSendThreads();

struct ServerOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 49556;
    RelayLimits limits;
    // Threads that send the relayed datagrams while the event loop reads (0: the loop sends them), and
    // the bytes that may wait for them.
    std::size_t sendThreads = DefaultSendThreads();
    std::size_t sendQueueBytes = 8 << 20;
    ClusterOptions cluster;  // no NATS servers: the node runs alone
    // SIGTERM or SIGINT: new logins are refused, every pilot is told `drainNotice`, and the connections
    // close after `drainTime` (at once when no one is logged in); a second signal ends at once.
    Clock::duration drainTime = std::chrono::seconds(5);
    std::string drainNotice = "server restarting, back in a moment";
};

// Operator control: the control socket (none without a path), the file that keeps the bans, the line each
// pilot is sent at login.
struct AdminOptions {
    std::string socketPath;
    std::string bansFile;
    std::string motd;
    // Where `admin motd` keeps the message of the day (empty: next to the bans file, else not kept).
    std::string motdFile;
};

// What a reload (SIGHUP) changes while pilots fly.
struct LiveSettings {
    RelayLimits limits;
    Clock::duration drainTime{};
    std::string drainNotice;
};
// Reads the settings again, on the event-loop thread. No value when they are refused (it logs why): the
// running ones stay.
using Reloader = std::function<std::optional<LiveSettings>()>;

class RelayServer {
public:
    // Binds both sockets. Throws std::system_error with a clear message when the address cannot be used.
    RelayServer(const ServerOptions &options, Authenticator &authenticator);
    ~RelayServer();
    RelayServer(const RelayServer &) = delete;
    RelayServer &operator=(const RelayServer &) = delete;

    // Hands `observer` a snapshot of the traffic every `period` while Run runs. Call before Run.
    void Observe(TrafficObserver &observer, Clock::duration period);

    // Checks logins against `bans` and serves the admin commands; `disable` (empty with --open) disables and
    // enables accounts. Call before Run; `bans` must outlive the server.
    void EnableAdmin(const AdminOptions &admin, BanList &bans, std::function<bool(const std::string &, bool)> disable);

    // Runs the event loop on the calling thread until SIGINT or SIGTERM, then closes every connection.
    // Called for SIGHUP, at most once a second (signals in between are folded into one reload). Without
    // it SIGHUP is logged and ignored. Call before Run.
    void OnReload(Reloader reload);

    // Runs the event loop on the calling thread until SIGINT or SIGTERM and the drain that follows, then
    // closes every connection.
    void Run();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace server
