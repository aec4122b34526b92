// skorvale-server: the relay server, and the commands that manage its accounts file.
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>
#include <string>
#include <system_error>
#include <type_traits>

#include "server/accounts/Accounts.h"
#include "server/http/HttpObserver.h"
#include "server/sockets/Network.h"

namespace {

int ManageAccounts(const std::string &command, const std::string &file, const std::string &user) {
    try {
        if (command == "add") {
            if (!server::IsValidUserId(user)) {
                std::cerr << "skorvale-server: a user ID must be non-empty and must not contain '|'\n";
                return 2;
            }
            // The password comes on standard input so it stays out of the shell history and the process list.
            std::string password;
            bool terminal = isatty(STDIN_FILENO) != 0;
            termios saved{};
            if (terminal) {
                // Typed at a terminal: ask, and do not echo it.
                std::cerr << "password for " << user << ": " << std::flush;
                tcgetattr(STDIN_FILENO, &saved);
                termios quiet = saved;
                quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
                tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
            }
            bool read = static_cast<bool>(std::getline(std::cin, password));
            if (terminal) {
                tcsetattr(STDIN_FILENO, TCSANOW, &saved);
                std::cerr << "\n";
            }
            if (!read) {
                std::cerr << "skorvale-server: no password on standard input\n";
                return 2;
            }
            if (!password.empty() && password.back() == '\r') password.pop_back();
            server::AccountStore store(file, true);
            store.Add(user, password);
            std::cerr << "added " << user << " to " << file << "\n";
            return 0;
        }
        server::AccountStore store(file, false);
        if (command == "remove") {
            if (!store.Remove(user)) {
                std::cerr << "skorvale-server: no user " << user << " in " << file << "\n";
                return 1;
            }
            return 0;
        }
        for (const std::string &name : store.Users()) std::cout << name << "\n";
        return 0;
    } catch (const std::exception &error) {
        std::cerr << "skorvale-server: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"skorvale-server: relays Skorvale plug-ins' positions, identities and chat to each other"};
    server::ServerOptions options;
    std::string accountsFile;
    bool open = false;
    bool verbose = false;
    server::RelayLimits &limits = options.limits;
    // The durations go by in seconds on the command line; their defaults are the struct's.
    auto inSeconds = [](server::Clock::duration value) { return std::chrono::duration<double>(value).count(); };
    double silenceSeconds = inSeconds(limits.silenceTimeout), loginSeconds = inSeconds(limits.loginTimeout),
           stallSeconds = inSeconds(limits.stallTimeout), coolOffSeconds = inSeconds(limits.loginCoolOff),
           refusalSeconds = inSeconds(limits.refusalDelay), replaySeconds = inSeconds(limits.replayWindow);
    server::ClusterOptions &cluster = options.cluster;
    double nodeTimeout = inSeconds(cluster.nodeTimeout), claimTimeout = inSeconds(cluster.claimTimeout),
           claimLifetime = inSeconds(cluster.claimLifetime);
    app.add_option("--address", options.address, "IPv4 address to listen on (TCP and UDP)")->capture_default_str();
    app.add_option("--port", options.port, "Port to listen on (TCP and UDP); the plug-in uses 49556")
        ->capture_default_str();
    auto *accountsOption = app.add_option("--accounts", accountsFile, "Accounts file (SQLite) checked at login");
    auto *openOption = app.add_flag("--open", open, "Accept every user ID without a password (local sessions)");
    accountsOption->excludes(openOption);
    app.add_flag("--verbose", verbose, "Log every connection");
    // The live map and the metrics, off unless asked for.
    std::string httpAddress;
    server::HttpOptions http;
    http.webRoot = SKORVALE_WEB_ROOT;
    server::FeedLimits feedLimits;
    app.add_option("--http", httpAddress, "Serve the live map and /metrics on ADDRESS:PORT (e.g. 127.0.0.1:8080)")
        ->check([](const std::string &value) {
            std::string address;
            std::uint16_t port = 0;
            return server::ParseHttpAddress(value, &address, &port)
                       ? std::string()
                       : "must be an IPv4 address and a port, ADDRESS:PORT";
        });
    app.add_option("--web-root", http.webRoot, "Folder of the map page's files")->capture_default_str();
    app.add_option("--http-max-streams", feedLimits.maxStreams, "Live map connections open at once")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000));
    app.add_option("--http-stream-queue", feedLimits.maxQueuedBytes,
                   "Bytes of chat a live map connection may leave untaken before the next snapshot closes it")
        ->capture_default_str()
        ->check(CLI::Range(1024, 16 << 20));
    int httpTimeout = static_cast<int>(http.writeTimeout.count());
    app.add_option("--http-timeout", httpTimeout,
                   "Seconds a browser may take to send a whole request, or to take what it is sent, before it is "
                   "dropped")
        ->capture_default_str()
        ->check(CLI::Range(1, 300));
    app.add_option("--http-max-connections", http.maxConnections, "HTTP connections open at once, live ones included")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000));
    app.add_option("--http-max-per-address", http.maxPerAddress, "HTTP connections open at once from one address")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000));

    // Every bound on what clients can make the server do, with its default.
    auto limit = [&](const char *name, auto &value, const char *what, double low, double high) {
        using Value = std::decay_t<decltype(value)>;
        app.add_option(name, value, what)
            ->capture_default_str()
            ->check(CLI::Range(static_cast<Value>(low), static_cast<Value>(high)))
            ->group("Limits");
    };
    limit("--max-clients", limits.maxClients, "Most connections open at once", 1, 100000);
    limit("--max-line-length", limits.maxLineLength, "Longest stream line in bytes; a longer one closes the connection",
          256, 1 << 20);
    limit("--silence-timeout", silenceSeconds, "Seconds of silence before a client is removed", 0.1, 3600);
    limit("--login-timeout", loginSeconds, "Seconds a connection may wait before logging in", 0.1, 3600);
    limit("--chat-rate", limits.chatRate, "Chat lines a second relayed per client", 0.01, 1e6);
    limit("--chat-burst", limits.chatBurst, "Chat lines a client may send at once", 1, 1e6);
    limit("--identity-rate", limits.identityRate, "Changes a second of each of callsign, crew and model per client",
          0.01, 1e6);
    limit("--identity-burst", limits.identityBurst, "Changes of each of callsign, crew and model at once", 1, 1e6);
    limit("--location-rate", limits.locationRate, "Location datagrams a second relayed per client (evenly thinned)", 1,
          1e6);
    limit("--location-burst", limits.locationBurst, "Location datagrams a client may send at once", 1, 1e6);
    limit("--max-location-bytes", limits.maxLocationBytes,
          "Longest location datagram relayed, in bytes (a plug-in's is about 160, at most about 610)", 200, 1400);
    limit("--account-chat-rate", limits.accountChatRate, "Chat lines a second relayed per account, all its sessions",
          0.01, 1e6);
    limit("--account-chat-burst", limits.accountChatBurst, "Chat lines an account may send at once", 1, 1e6);
    limit("--address-chat-rate", limits.addressChatRate, "Chat lines a second relayed per address, all its sessions",
          0.01, 1e6);
    limit("--address-chat-burst", limits.addressChatBurst, "Chat lines an address may send at once", 1, 1e6);
    limit("--server-chat-rate", limits.serverChatRate, "Chat lines a second relayed by the whole server", 0.01, 1e6);
    limit("--server-chat-burst", limits.serverChatBurst, "Chat lines the whole server relays at once", 1, 1e6);
    limit("--account-location-bytes", limits.accountLocationBytes,
          "Location bytes a second relayed per account, all its sessions (a faster account is thinned)", 1024, 1e9);
    limit("--max-sessions-per-address", limits.maxSessionsPerAddress,
          "Sessions from one address logged in at once; a newer login past it is refused", 1, 100000);
    limit("--slot-change-rate", limits.slotChangeRate,
          "Slot changes a second sent to a receiver (an aircraft coming into its nearest 19 or leaving them)", 0.1,
          1e6);
    limit("--slot-change-burst", limits.slotChangeBurst, "Slot changes sent to a receiver at once", 19, 1e6);
    limit("--max-queued-bytes", limits.maxQueuedBytes, "Unsent bytes per connection before it counts as not reading",
          4096, 1 << 30);
    limit("--chat-queue-share", limits.chatQueueShare, "Unsent bytes past which chat is skipped for that reader", 1024,
          1 << 30);
    limit("--stall-timeout", stallSeconds, "Seconds a connection may stay over --max-queued-bytes", 0.1, 3600);
    limit("--max-pending-per-address", limits.maxPendingPerAddress,
          "Connections one address may have open without logging in", 1, 100000);
    limit("--max-login-failures", limits.maxLoginFailures,
          "Failed logins a minute from one address before it cools off", 1, 1000000);
    limit("--login-cool-off", coolOffSeconds, "Seconds of the first cooling-off; doubled each time in a row", 0.1,
          86400);
    limit("--refusal-delay", refusalSeconds, "Seconds before a refused login's connection is closed", 0, 60);
    limit("--replay-window", replaySeconds, "Seconds after a session ends that its login line is still taken", 0,
          30 * 86400);
    limit("--replay-memory", limits.replayMemoryBytes, "Bytes kept of accepted login lines for the replay check",
          64 * 1024, 1 << 30);
    limit("--replay-per-account", limits.replayPerAccount,
          "Login lines each account keeps remembered, however many other accounts make", 1, 1000000);
    limit("--log-budget", limits.logBudget,
          "Log lines a minute that clients and connections can cause, all kinds together", 1, 1e6);
    limit("--reserved-clients", limits.reservedClients,
          "Places of --max-clients that connections without a login line cannot take", 0, 100000);
    app.add_option("--send-threads", options.sendThreads,
                   "Threads sending the relayed datagrams while the event loop reads (0: the loop sends them)")
        ->capture_default_str()
        ->check(CLI::Range(0, 64));
    limit("--send-queue", options.sendQueueBytes, "Bytes of datagrams that may wait for the sending threads", 64 * 1024,
          1 << 30);
    // A network of nodes: see the README's "Running a network".
    auto *natsOption = app.add_option("--nats", cluster.urls,
                                      "NATS servers of the network (nats://host:port, comma-separated); without "
                                      "them the node runs alone")
                           ->delimiter(',');
    auto *nodeOption = app.add_option("--node", cluster.node, "This node's name, unique in the network");
    natsOption->needs(nodeOption);
    nodeOption->needs(natsOption);
    limit("--node-timeout", nodeTimeout, "Seconds without a word from a node before its aircraft are dropped", 0.5, 60);
    limit("--claim-timeout", claimTimeout, "Seconds a login waits for the network's login store", 0.5, 60);
    limit("--claim-lifetime", claimLifetime,
          "Seconds before the logins of a node that vanished are freed (renewed every third of it)", 3, 3600);
    limit("--store-replicas", cluster.storeReplicas,
          "Copies of the login store kept across the NATS servers (at most their number)", 1, 5);
    limit("--max-remote-aircraft", cluster.maxRemoteAircraft, "Most aircraft taken from other nodes", 1, 1000000);
    limit("--max-nodes", cluster.maxNodes, "Most other nodes heard", 1, 10000);
    double batchMs =
        static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(cluster.locationBatch).count()) /
        1000;
    limit("--network-batch", batchMs,
          "Milliseconds locations are gathered by cell before they go to the other nodes (0: each event-loop turn)", 0,
          100);
    limit("--network-reconnect-buffer", cluster.reconnectBuffer,
          "Bytes of chat and identities kept while the NATS connection is down, sent when it is back", 4096, 1 << 30);
    limit("--max-network-backlog", cluster.maxInbound, "Network messages waiting for the relay; more are dropped", 1000,
          10000000);

    auto *accounts = app.add_subcommand("accounts", "Manage the accounts file");
    accounts->require_subcommand(1);
    std::string file, user;
    auto *add = accounts->add_subcommand("add", "Add a user, or change its password (read from standard input)");
    add->add_option("FILE", file, "Accounts file (created, readable by its owner only)")->required();
    add->add_option("USER", user, "User ID")->required();
    auto *remove = accounts->add_subcommand("remove", "Remove a user");
    remove->add_option("FILE", file, "Accounts file")->required();
    remove->add_option("USER", user, "User ID")->required();
    auto *list = accounts->add_subcommand("list", "List the user IDs");
    list->add_option("FILE", file, "Accounts file")->required();

    CLI11_PARSE(app, argc, argv);

    if (*accounts) {
        std::string command = *add ? "add" : *remove ? "remove" : "list";
        return ManageAccounts(command, file, user);
    }

    auto logger = spdlog::stderr_color_mt("skorvale-server");
    spdlog::set_default_logger(logger);
    spdlog::set_pattern("%Y-%m-%d %H:%M:%S.%e %^%l%$ %v");
    spdlog::set_level(verbose ? spdlog::level::debug : spdlog::level::info);

    if (accountsFile.empty() && !open) {
        std::cerr << "skorvale-server: give --accounts FILE, or --open to accept every user\n";
        return 2;
    }
    auto seconds = [](double value) {
        return std::chrono::duration_cast<server::Clock::duration>(std::chrono::duration<double>(value));
    };
    limits.silenceTimeout = seconds(silenceSeconds);
    limits.loginTimeout = seconds(loginSeconds);
    limits.stallTimeout = seconds(stallSeconds);
    limits.loginCoolOff = seconds(coolOffSeconds);
    limits.refusalDelay = seconds(refusalSeconds);
    limits.replayWindow = seconds(replaySeconds);
    cluster.nodeTimeout = seconds(nodeTimeout);
    cluster.heartbeatPeriod = std::min(cluster.heartbeatPeriod, cluster.nodeTimeout / 3);
    cluster.claimTimeout = seconds(claimTimeout);
    cluster.claimLifetime = seconds(claimLifetime);
    cluster.locationBatch =
        std::chrono::duration_cast<server::Clock::duration>(std::chrono::duration<double, std::milli>(batchMs));

    // Writes to a peer that has gone must fail with an error, not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        std::unique_ptr<server::AccountStore> store;
        std::unique_ptr<server::Authenticator> authenticator;
        if (open) {
            spdlog::warn("--open: every user ID is accepted without a password");
            authenticator = std::make_unique<server::OpenAuthenticator>();
        } else {
            store = std::make_unique<server::AccountStore>(accountsFile, false);
            authenticator = std::make_unique<server::AccountAuthenticator>(*store);
        }
        server::RelayServer relay(options, *authenticator);
        std::unique_ptr<server::TrafficFeed> feed;
        std::unique_ptr<server::HttpObserver> observer;
        if (!httpAddress.empty()) {
            server::ParseHttpAddress(httpAddress, &http.address, &http.port);
            http.writeTimeout = http.requestTimeout = std::chrono::seconds(httpTimeout);
            feed = std::make_unique<server::TrafficFeed>(feedLimits);
            observer = std::make_unique<server::HttpObserver>(http, *feed);
            // Four snapshots a second: the map moves smoothly enough, and the relay copies little.
            relay.Observe(*feed, std::chrono::milliseconds(250));
            observer->Start();
            spdlog::info("live map on http://{}:{}/ (metrics on /metrics)", http.address, http.port);
        }
        relay.Run();
        if (observer) observer->Stop();
    } catch (const std::system_error &error) {
        spdlog::error("{}", error.what());
        return 1;
    } catch (const std::exception &error) {
        spdlog::error("{}", error.what());
        return 1;
    }
    return 0;
}
