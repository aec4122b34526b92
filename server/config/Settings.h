// The server's settings: every flag, the TOML config file that can hold any of them, and what a reload
// may change while pilots fly.
#pragma once

#include <CLI/CLI.hpp>
#include <map>
#include <string>
#include <vector>

#include "server/http/HttpObserver.h"
#include "server/http/TrafficFeed.h"
#include "server/sockets/Network.h"

namespace server {

struct ServerSettings {
    ServerOptions server;  // sockets, limits, the network of nodes, the drain
    std::string accountsFile;
    bool open = false;
    bool verbose = false;
    std::string httpAddress;     // the live map (and, without metricsAddress, /metrics and health); empty: off
    std::string metricsAddress;  // /metrics and the health endpoints on a listener of their own; empty: off
    HttpOptions http;
    FeedLimits feed;
    std::string configFile;
    bool printConfig = false;
    bool version = false;

    // Values given in seconds, turned into the durations by FinishSettings.
    struct Seconds {
        double silence = 0, login = 0, stall = 0, coolOff = 0, refusal = 0, replay = 0;
        double nodeTimeout = 0, claimTimeout = 0, claimLifetime = 0, batchMs = 0, drain = 0;
        int http = 0;
    } seconds;
};

// Declares every server flag on `app`, bound to `settings` (whose values become the defaults), and
// --config FILE, which reads any of them from a TOML file: `max-clients = 250`. Flags override the file;
// keys the server does not know are an error.
void DefineServerOptions(CLI::App &app, ServerSettings &settings);

// After a successful parse: the values given in seconds into the durations, and the derived ones. An
// error message when the settings contradict each other, else "".
std::string FinishSettings(ServerSettings &settings);

// A parse error's message for the operator; when the error comes from the config file, it names the
// key and the line where it stands.
std::string ExplainSettingsError(const CLI::Error &error, const std::string &configFile);

// The effective settings, as a config file would give them: key = value, one a line.
std::string EffectiveSettings(const CLI::App &app);

// Parses `arguments` (the command line without the program's name) into `settings`, as at start. False
// with `error` set when the command line or the config file has a fault; `settings` is then unusable.
// `effective` receives EffectiveSettings.
bool ParseServerSettings(const std::vector<std::string> &arguments, ServerSettings *settings, std::string *effective,
                         std::string *error);

// The keys whose values differ between two EffectiveSettings texts of `app`'s options and that cannot
// change while the server runs (addresses, ports, threads, the network of nodes...).
std::vector<std::string> RestartOnlyChanges(const CLI::App &app, const std::string &before, const std::string &after);

}  // namespace server
