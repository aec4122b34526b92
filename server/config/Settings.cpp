// Every flag of the server, the config file that holds them, and how a reload tells live changes apart.
#include "server/config/Settings.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <type_traits>

namespace server {

namespace {

// Option groups whose values a SIGHUP applies while pilots fly; every other option needs a restart.
const char *const kLimitsGroup = "Limits (reloaded on SIGHUP)";
const char *const kLiveGroup = "Accounts, log and drain (reloaded on SIGHUP)";
const char *const kNetworkGroup = "Network of nodes";
const char *const kHttpGroup = "Live map and metrics";

double InSeconds(Clock::duration value) { return std::chrono::duration<double>(value).count(); }

Clock::duration Seconds(double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

std::string CheckHttpAddress(const std::string &value) {
    std::string address;
    std::uint16_t port = 0;
    return ParseHttpAddress(value, &address, &port) ? std::string()
                                                    : "must be an IPv4 address and a port, ADDRESS:PORT";
}

// The config file key an error message speaks of: the first "--name" in it, or the item CLI11 could not
// place ("INI was not able to parse name").
std::string KeyInMessage(const std::string &message) {
    static const std::string unplaced = "was not able to parse ";
    std::size_t at = message.find(unplaced);
    if (at != std::string::npos) {
        std::string key = message.substr(at + unplaced.size());
        return key.substr(0, key.find_first_of(" \n"));
    }
    at = message.find("--");
    if (at == std::string::npos) return {};
    std::size_t end = message.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_", at + 2);
    return message.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
}

// The line of `file` on which `key` is set (1-based), or 0. Keys may be written with '_' for '-' and
// inside quotes, as TOML allows.
int LineOfKey(const std::string &file, const std::string &key) {
    std::ifstream in(file);
    std::string line;
    auto normal = [](std::string text) {
        std::replace(text.begin(), text.end(), '_', '-');
        text.erase(std::remove_if(text.begin(), text.end(),
                                  [](char c) { return c == '"' || c == '\'' || c == ' ' || c == '\t'; }),
                   text.end());
        return text;
    };
    std::string wanted = normal(key);
    for (int number = 1; std::getline(in, line); ++number) {
        std::size_t equals = line.find('=');
        std::string name = normal(line.substr(0, equals));
        if (name == wanted) return number;
    }
    return 0;
}

std::map<std::string, std::string> ValuesOf(const std::string &effective) {
    std::map<std::string, std::string> values;
    std::istringstream in(effective);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t equals = line.find('=');
        if (equals == std::string::npos || line[0] == '#' || line[0] == '[') continue;
        values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

}  // namespace

void DefineServerOptions(CLI::App &app, ServerSettings &settings) {
    ServerOptions &options = settings.server;
    RelayLimits &limits = options.limits;
    ClusterOptions &cluster = options.cluster;
    ServerSettings::Seconds &seconds = settings.seconds;
    seconds.silence = InSeconds(limits.silenceTimeout);
    seconds.login = InSeconds(limits.loginTimeout);
    seconds.stall = InSeconds(limits.stallTimeout);
    seconds.coolOff = InSeconds(limits.loginCoolOff);
    seconds.refusal = InSeconds(limits.refusalDelay);
    seconds.replay = InSeconds(limits.replayWindow);
    seconds.nodeTimeout = InSeconds(cluster.nodeTimeout);
    seconds.claimTimeout = InSeconds(cluster.claimTimeout);
    seconds.claimLifetime = InSeconds(cluster.claimLifetime);
    seconds.batchMs = InSeconds(cluster.locationBatch) * 1000;
    seconds.drain = InSeconds(options.drainTime);
    seconds.http = static_cast<int>(settings.http.writeTimeout.count());

    // Any option below can stand in the file; an unknown key there is an error, as on the command line.
    app.set_config("--config", "", "Read settings from a TOML file (key = value, a key for each flag)");
    app.allow_config_extras(CLI::config_extras_mode::error);
    app.add_flag("--print-config", settings.printConfig, "Print the effective settings as a config file and exit")
        ->configurable(false);
    app.add_flag("--version", settings.version, "Print the version and exit")->configurable(false);

    app.add_option("--address", options.address, "IPv4 address to listen on (TCP and UDP)")->capture_default_str();
    app.add_option("--port", options.port, "Port to listen on (TCP and UDP); the plug-in uses 49556")
        ->capture_default_str();
    // Not CLI11's `excludes`: a file holds `open = false` beside `accounts`, which counts as both given.
    app.add_option("--accounts", settings.accountsFile, "Accounts file (SQLite) checked at login")->group(kLiveGroup);
    app.add_flag("--open", settings.open, "Accept every user ID without a password (local sessions)");
    app.add_flag("--verbose", settings.verbose, "Log every connection")->group(kLiveGroup);
    app.add_option("--log-format", settings.logFormat,
                   "text: lines for people (UTC); json: one object a line with time, level, event, address, user "
                   "and message")
        ->capture_default_str()
        ->check(CLI::IsMember({"text", "json"}));
    // Operator control: the control socket, the bans, the message of the day.
    app.add_option("--admin-socket", settings.admin.socketPath,
                   "Unix socket for `skorvale-server admin` (only this server's user may use it); none: no admin "
                   "commands");
    app.add_option("--bans", settings.admin.bansFile,
                   "File that keeps the bans across restarts (written by the admin commands)");
    app.add_option("--motd", settings.admin.motd, "Chat line each pilot is sent at login");
    app.add_option("--motd-file", settings.admin.motdFile,
                   "File that keeps the message of the day set by 'admin motd' across restarts (default: the "
                   "--bans file's name with .motd)");
    app.add_option("--drain-seconds", seconds.drain,
                   "Seconds between SIGTERM and the closing of every connection; new logins are refused meanwhile")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 600.0))
        ->group(kLiveGroup);
    app.add_option("--drain-message", options.drainNotice, "What pilots are told when the server is stopped")
        ->capture_default_str()
        ->check([](const std::string &text) {
            return text.empty() || text.size() > 200 || text.find_first_of("\r\n|") != std::string::npos
                       ? "must be 1 to 200 characters on one line, without '|'"
                       : "";
        })
        ->group(kLiveGroup);

    // The live map, the metrics and the health endpoints, off unless asked for.
    HttpOptions &http = settings.http;
    app.add_option("--http", settings.httpAddress,
                   "Serve the live map on ADDRESS:PORT (e.g. 127.0.0.1:8080), and /metrics and the health "
                   "endpoints unless --metrics-listen moves them")
        ->check(CheckHttpAddress)
        ->group(kHttpGroup);
    app.add_option("--metrics-listen", settings.metricsAddress,
                   "Serve /metrics, /healthz and /readyz on ADDRESS:PORT of their own, not on --http")
        ->check(CheckHttpAddress)
        ->group(kHttpGroup);
    app.add_option("--web-root", http.webRoot, "Folder of the map page's files")
        ->capture_default_str()
        ->group(kHttpGroup);
    app.add_option("--http-max-streams", settings.feed.maxStreams, "Live map connections open at once")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000))
        ->group(kHttpGroup);
    app.add_option("--http-stream-queue", settings.feed.maxQueuedBytes,
                   "Bytes of chat a live map connection may leave untaken before the next snapshot closes it")
        ->capture_default_str()
        ->check(CLI::Range(1024, 16 << 20))
        ->group(kHttpGroup);
    app.add_option("--http-timeout", seconds.http,
                   "Seconds a browser may take to send a whole request, or to take what it is sent, before it is "
                   "dropped")
        ->capture_default_str()
        ->check(CLI::Range(1, 300))
        ->group(kHttpGroup);
    app.add_option("--http-max-connections", http.maxConnections, "HTTP connections open at once, live ones included")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000))
        ->group(kHttpGroup);
    app.add_option("--http-max-per-address", http.maxPerAddress, "HTTP connections open at once from one address")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000))
        ->group(kHttpGroup);

    // Every bound on what clients can make the server do, with its default. `group` says whether a
    // reload applies it.
    auto bound = [&](const char *group, const char *name, auto &value, const char *what, double low, double high) {
        using Value = std::decay_t<decltype(value)>;
        app.add_option(name, value, what)
            ->capture_default_str()
            ->check(CLI::Range(static_cast<Value>(low), static_cast<Value>(high)))
            ->group(group);
    };
    auto limit = [&](const char *name, auto &value, const char *what, double low, double high) {
        bound(kLimitsGroup, name, value, what, low, high);
    };
    auto startLimit = [&](const char *name, auto &value, const char *what, double low, double high) {
        bound("Limits (at start)", name, value, what, low, high);
    };
    limit("--max-clients", limits.maxClients, "Most connections open at once", 1, 100000);
    limit("--max-line-length", limits.maxLineLength, "Longest stream line in bytes; a longer one closes the connection",
          256, 1 << 20);
    limit("--silence-timeout", seconds.silence, "Seconds of silence before a client is removed", 0.1, 3600);
    limit("--login-timeout", seconds.login, "Seconds a connection may wait before logging in", 0.1, 3600);
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
    limit("--account-chat-rate", limits.accountChatRate, "Chat lines a second relayed per account", 0.01, 1e6);
    limit("--account-chat-burst", limits.accountChatBurst, "Chat lines an account may send at once", 1, 1e6);
    limit("--address-chat-rate", limits.addressChatRate, "Chat lines a second relayed per address, all its sessions",
          0.01, 1e6);
    limit("--address-chat-burst", limits.addressChatBurst, "Chat lines an address may send at once", 1, 1e6);
    limit("--server-chat-rate", limits.serverChatRate, "Chat lines a second relayed by the whole server", 0.01, 1e6);
    limit("--server-chat-burst", limits.serverChatBurst, "Chat lines the whole server relays at once", 1, 1e6);
    limit("--account-location-bytes", limits.accountLocationBytes,
          "Location bytes a second relayed per account (a faster account is thinned)", 1024, 1e9);
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
    limit("--stall-timeout", seconds.stall, "Seconds a connection may stay over --max-queued-bytes", 0.1, 3600);
    limit("--max-pending-per-address", limits.maxPendingPerAddress,
          "Connections one address may have open without logging in", 1, 100000);
    limit("--max-login-failures", limits.maxLoginFailures,
          "Failed logins a minute from one address before it cools off", 1, 1000000);
    limit("--login-cool-off", seconds.coolOff, "Seconds of the first cooling-off; doubled each time in a row", 0.1,
          86400);
    limit("--refusal-delay", seconds.refusal, "Seconds before a refused login's connection is closed", 0, 60);
    startLimit("--replay-window", seconds.replay, "Seconds after a session ends that its login line is still taken", 0,
               30 * 86400);
    startLimit("--replay-memory", limits.replayMemoryBytes, "Bytes kept of accepted login lines for the replay check",
               64 * 1024, 1 << 30);
    startLimit("--replay-per-account", limits.replayPerAccount,
               "Login lines each account keeps remembered, however many other accounts make", 1, 1000000);
    limit("--log-budget", limits.logBudget,
          "Log lines a minute that clients and connections can cause, all kinds together", 1, 1e6);
    limit("--session-log-budget", limits.sessionLogBudget,
          "Log lines a minute of logins, logouts and refusals, apart from the --log-budget", 1, 1e6);
    limit("--reserved-clients", limits.reservedClients,
          "Places of --max-clients that connections without a login line cannot take", 0, 100000);
    startLimit("--send-threads", options.sendThreads,
               "Threads sending the relayed datagrams while the event loop reads (0: the loop sends them)", 0, 64);
    startLimit("--send-queue", options.sendQueueBytes, "Bytes of datagrams that may wait for the sending threads",
               64 * 1024, 1 << 30);

    // A network of nodes: see the operators' guide, "Running a network".
    auto *natsOption = app.add_option("--nats", cluster.urls,
                                      "NATS servers of the network (nats://host:port, comma-separated); without "
                                      "them the node runs alone")
                           ->delimiter(',')
                           ->group(kNetworkGroup);
    auto *nodeOption =
        app.add_option("--node", cluster.node, "This node's name, unique in the network")->group(kNetworkGroup);
    natsOption->needs(nodeOption);
    nodeOption->needs(natsOption);
    app.add_option("--nats-creds", cluster.credentialsFile, "NATS credentials file (JWT and nkey seed) of this node")
        ->group(kNetworkGroup);
    app.add_option("--nats-nkey", cluster.nkeyFile, "File with this node's NATS nkey seed (SU...)")
        ->group(kNetworkGroup);
    auto *natsUser = app.add_option("--nats-user", cluster.user, "NATS user of this node")->group(kNetworkGroup);
    app.add_option("--nats-password-file", cluster.passwordFile, "File with the NATS user's password on its first line")
        ->needs(natsUser)
        ->group(kNetworkGroup);
    app.add_option("--nats-tls-ca", cluster.tlsCa, "CA certificates that signed the NATS servers' (turns TLS on)")
        ->group(kNetworkGroup);
    auto *tlsCert = app.add_option("--nats-tls-cert", cluster.tlsCertificate, "This node's TLS certificate for NATS")
                        ->group(kNetworkGroup);
    auto *tlsKey =
        app.add_option("--nats-tls-key", cluster.tlsKey, "This node's TLS key for NATS")->group(kNetworkGroup);
    tlsCert->needs(tlsKey);
    tlsKey->needs(tlsCert);
    app.add_option("--cluster-protocol", cluster.protocol,
                   "Cluster protocol version this node speaks: while older nodes are still in the network, the "
                   "version they speak")
        ->capture_default_str()
        ->check(CLI::Range(kOldestClusterProtocol, kClusterProtocol))
        ->group(kNetworkGroup);
    auto network = [&](const char *name, auto &value, const char *what, double low, double high) {
        bound(kNetworkGroup, name, value, what, low, high);
    };
    network("--node-timeout", seconds.nodeTimeout, "Seconds without a word from a node before its aircraft are dropped",
            0.5, 60);
    network("--claim-timeout", seconds.claimTimeout, "Seconds a login waits for the network's login store", 0.5, 60);
    network("--claim-lifetime", seconds.claimLifetime,
            "Seconds before the logins of a node that vanished are freed (renewed every third of it)", 3, 3600);
    network("--store-replicas", cluster.storeReplicas,
            "Copies of the login store kept across the NATS servers (at most their number)", 1, 5);
    network("--max-remote-aircraft", cluster.maxRemoteAircraft, "Most aircraft taken from other nodes", 1, 1000000);
    network("--max-nodes", cluster.maxNodes, "Most other nodes heard", 1, 10000);
    network("--network-batch", seconds.batchMs,
            "Milliseconds locations are gathered by cell before they go to the other nodes (0: each event-loop turn)",
            0, 100);
    network("--network-reconnect-buffer", cluster.reconnectBuffer,
            "Bytes of chat and identities kept while the NATS connection is down, sent when it is back", 4096, 1 << 30);
    network("--max-network-backlog", cluster.maxInbound, "Network messages waiting for the relay; more are dropped",
            1000, 10000000);
}

std::string FinishSettings(ServerSettings &settings) {
    if (settings.open && !settings.accountsFile.empty()) return "give --accounts FILE or --open, not both";
    RelayLimits &limits = settings.server.limits;
    ClusterOptions &cluster = settings.server.cluster;
    const ServerSettings::Seconds &seconds = settings.seconds;
    limits.silenceTimeout = Seconds(seconds.silence);
    limits.loginTimeout = Seconds(seconds.login);
    limits.stallTimeout = Seconds(seconds.stall);
    limits.loginCoolOff = Seconds(seconds.coolOff);
    limits.refusalDelay = Seconds(seconds.refusal);
    limits.replayWindow = Seconds(seconds.replay);
    cluster.nodeTimeout = Seconds(seconds.nodeTimeout);
    cluster.heartbeatPeriod = std::min(cluster.heartbeatPeriod, cluster.nodeTimeout / 3);
    cluster.claimTimeout = Seconds(seconds.claimTimeout);
    cluster.claimLifetime = Seconds(seconds.claimLifetime);
    cluster.locationBatch = Seconds(seconds.batchMs / 1000);
    settings.server.drainTime = Seconds(seconds.drain);
    settings.http.writeTimeout = settings.http.requestTimeout = std::chrono::seconds(seconds.http);
    return {};
}

std::string ExplainSettingsError(const CLI::Error &error, const std::string &configFile) {
    std::string message = error.what();
    if (configFile.empty()) return message;
    std::string key = KeyInMessage(message);
    if (key.empty()) return configFile + ": " + message;
    int line = LineOfKey(configFile, key);
    bool unplaced = message.find("was not able to parse") != std::string::npos;
    if (line == 0 && unplaced) return configFile + ": not a setting: " + key;
    if (line == 0) return message;  // the fault is on the command line, not in the file
    if (unplaced) message = "unknown key '" + key + "'";
    return configFile + ":" + std::to_string(line) + ": " + key + ": " + message;
}

std::string EffectiveSettings(const CLI::App &app) {
    std::string text = app.config_to_str(true, false);
    // The key lines only, without the subcommands' sections.
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '[') break;
        std::size_t equals = line.find('=');
        // Subcommands' arguments are no settings, and an option given no value has none to show.
        if (equals == std::string::npos || line.find('.') < equals || line.compare(equals, 3, "=\"\"") == 0) continue;
        // A server URL's user and password stay out of what is printed and compared.
        static const std::regex credentials("://[^/@\"',\\] ]*@");
        out += std::regex_replace(line, credentials, "://");
        out += '\n';
    }
    return out;
}

bool ParseServerSettings(const std::vector<std::string> &arguments, ServerSettings *settings, std::string *effective,
                         std::string *error) {
    CLI::App app;
    DefineServerOptions(app, *settings);
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::Error &failure) {
        std::string file;
        if (CLI::Option *config = app.get_config_ptr(); config && config->count() > 0) file = config->as<std::string>();
        *error = ExplainSettingsError(failure, file);
        return false;
    }
    *error = FinishSettings(*settings);
    if (!error->empty()) return false;
    if (effective) *effective = EffectiveSettings(app);
    return true;
}

std::vector<std::string> RestartOnlyChanges(const CLI::App &app, const std::string &before, const std::string &after) {
    std::map<std::string, std::string> old = ValuesOf(before), now = ValuesOf(after);
    std::set<std::string> keys;
    for (const auto &entry : old) keys.insert(entry.first);
    for (const auto &entry : now) keys.insert(entry.first);
    std::vector<std::string> changed;
    for (const std::string &key : keys) {
        auto a = old.find(key), b = now.find(key);
        if (a != old.end() && b != now.end() && a->second == b->second) continue;
        const CLI::Option *option = nullptr;
        try {
            option = app.get_option("--" + key);
        } catch (const CLI::OptionNotFound &) {
        }
        if (option && (option->get_group() == kLimitsGroup || option->get_group() == kLiveGroup)) continue;
        changed.push_back(key);
    }
    return changed;
}

}  // namespace server
