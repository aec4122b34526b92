// The relay server on real sockets: one TCP listener and one UDP socket on the same address and port,
// driven by a single Asio event loop.
#pragma once

#include <cstdint>
#include <memory>
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
};

// Operator control: the control socket (none without a path), the file that keeps the bans, the line each
// pilot is sent at login.
struct AdminOptions {
    std::string socketPath;
    std::string bansFile;
    std::string motd;
};

class AccountStore;

class RelayServer {
public:
    // Binds both sockets. Throws std::system_error with a clear message when the address cannot be used.
    RelayServer(const ServerOptions &options, Authenticator &authenticator);
    ~RelayServer();
    RelayServer(const RelayServer &) = delete;
    RelayServer &operator=(const RelayServer &) = delete;

    // Hands `observer` a snapshot of the traffic every `period` while Run runs. Call before Run.
    void Observe(TrafficObserver &observer, Clock::duration period);

    // Checks logins against `bans` and serves the admin commands; `accounts` (null with --open) is where
    // they disable accounts. Call before Run; `bans` and `accounts` must outlive the server.
    void EnableAdmin(const AdminOptions &admin, BanList &bans, AccountStore *accounts);

    // Runs the event loop on the calling thread until SIGINT or SIGTERM, then closes every connection.
    void Run();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace server
