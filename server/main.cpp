// skorvale-server: the relay server, and the commands that manage its accounts file.
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "server/accounts/Accounts.h"
#include "server/accounts/AccountsCommand.h"
#include "server/accounts/ReloadableAccounts.h"
#include "server/admin/AdminClient.h"
#include "server/admin/AdminCommands.h"
#include "server/admin/MotdFile.h"
#include "server/config/Settings.h"
#include "server/config/Version.h"
#include "server/core/LogFormat.h"
#include "server/http/HealthProbe.h"
#include "server/http/HttpObserver.h"
#include "server/sockets/Network.h"

namespace {

// The map's files: installed beside the program (PREFIX/share/skorvale/web for PREFIX/bin), else the
// build's own copy.
std::string DefaultWebRoot() {
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        std::filesystem::path installed = program.parent_path().parent_path() / "share/skorvale/web";
        if (std::filesystem::is_directory(installed / "", error)) return installed.string();
    }
    return SKORVALE_WEB_ROOT;
}

// Where `probe` asks when it is given a config file: the metrics listener, else the map's, on loopback
// when they listen on every address.
std::string ProbedAddress(const std::string &configFile) {
    server::ServerSettings settings;
    std::string error;
    std::vector<std::string> arguments;
    if (!configFile.empty()) arguments = {"--config", configFile};
    if (!server::ParseServerSettings(arguments, &settings, nullptr, &error)) {
        std::cerr << "skorvale-server: " << error << "\n";
        return {};
    }
    std::string where = !settings.metricsAddress.empty() ? settings.metricsAddress : settings.httpAddress;
    if (where.rfind("0.0.0.0:", 0) == 0) where = "127.0.0.1" + where.substr(7);
    return where.empty() ? "127.0.0.1:9100" : where;
}

// Where the packages keep the server's settings (the Debian package and the image alike).
constexpr const char *kPackagedConfig = "/etc/skorvale/server.toml";

// The control socket `admin` talks to: the one `configFile` names, else the packaged config's where that
// file is readable, else skorvale-admin.sock here. Empty, with the reason on stderr, when the config file
// is faulty or names no socket.
std::string AdminSocketOf(std::string configFile) {
    if (configFile.empty() && ::access(kPackagedConfig, R_OK) == 0) configFile = kPackagedConfig;
    if (configFile.empty()) return "skorvale-admin.sock";
    server::ServerSettings settings;
    std::string error;
    if (!server::ParseServerSettings({"--config", configFile}, &settings, nullptr, &error)) {
        std::cerr << "skorvale-server admin: " << error << "\n";
        return {};
    }
    if (settings.admin.socketPath.empty()) {
        std::cerr << "skorvale-server admin: " << configFile
                  << " names no admin-socket: the server takes no admin commands (set admin-socket there, or "
                     "give --socket)\n";
    }
    return settings.admin.socketPath;
}

// What a SIGHUP does: read the command line and the config file again, and hand back what can change live.
class Reloading {
public:
    Reloading(const CLI::App &app, std::vector<std::string> arguments, std::string effective,
              server::ReloadableAccounts *accounts)
        : app_(app), arguments_(std::move(arguments)), effective_(std::move(effective)), accounts_(accounts) {}

    std::optional<server::LiveSettings> operator()() {
        server::ServerSettings settings;
        settings.http.webRoot = DefaultWebRoot();
        std::string effective, error;
        if (!server::ParseServerSettings(arguments_, &settings, &effective, &error)) {
            spdlog::error("reload refused, the running settings stay: {}", error);
            return std::nullopt;
        }
        if (accounts_ && settings.accountsFile.empty()) {
            spdlog::error("reload refused, the running settings stay: the settings name no --accounts file");
            return std::nullopt;
        }
        if (accounts_) {
            try {
                accounts_->Open(settings.accountsFile);
            } catch (const std::exception &failure) {
                spdlog::error("reload refused, the running settings stay: {}", failure.what());
                return std::nullopt;
            }
        }
        if (!accounts_ && !settings.accountsFile.empty()) {
            spdlog::warn("reload: accounts needs a restart (the server runs with --open); it stays open");
        }
        std::vector<std::string> restart = server::RestartOnlyChanges(app_, effective_, effective);
        for (const std::string &key : restart) spdlog::warn("reload: {} needs a restart; the running value stays", key);
        spdlog::set_level(settings.verbose ? spdlog::level::debug : spdlog::level::info);
        spdlog::info("reloaded the settings{}", accounts_ ? " and the accounts" : "");
        // What needs a restart keeps its running value, and counts as changed again at the next reload.
        return server::LiveSettings{settings.server.limits, settings.server.drainTime, settings.server.drainNotice};
    }

private:
    const CLI::App &app_;
    std::vector<std::string> arguments_;
    std::string effective_;
    server::ReloadableAccounts *accounts_;
};

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"skorvale-server: relays Skorvale plug-ins' positions, identities and chat to each other"};
    server::ServerSettings settings;
    settings.http.webRoot = DefaultWebRoot();
    server::DefineServerOptions(app, settings);

    server::AccountsCommand accounts(app);
    auto *adminCommand = app.add_subcommand("admin",
                                            "Send a command to a running server (who, kick, ban, unban, bans, "
                                            "disable, enable, say, motd)");
    std::string adminSocket, adminConfig;
    adminCommand->add_option("--socket", adminSocket, "The server's --admin-socket");
    adminCommand->add_option("--config", adminConfig,
                             "Or the config file that names it (default: " + std::string(kPackagedConfig) +
                                 " where there is one, else skorvale-admin.sock)");
    adminCommand->prefix_command();
    adminCommand->footer(std::string("Commands:\n") + server::kAdminUsage);
    auto *probe = app.add_subcommand("probe", "Ask a running server's /readyz (or PATH); exit 0 when it answers 200");
    std::string probeAddress, probePath = "/readyz", probeConfig;
    probe->add_option("ADDRESS", probeAddress, "Its --metrics-listen or --http ADDRESS:PORT");
    probe->add_option("--config", probeConfig, "Or the config file that names them");
    probe->add_option("--path", probePath, "/readyz, or /healthz for alive only")->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp &help) {
        return app.exit(help);
    } catch (const CLI::Error &error) {
        std::string configFile;
        if (CLI::Option *config = app.get_config_ptr(); config && config->count() > 0) {
            configFile = config->as<std::string>();
        }
        std::cerr << "skorvale-server: " << server::ExplainSettingsError(error, configFile) << "\n";
        return 2;
    }
    if (CLI::Option *config = app.get_config_ptr(); config && config->count() > 0) {
        settings.configFile = config->as<std::string>();
    }
    if (settings.version) {
        std::cout << "skorvale-server " << server::Version() << " (revision " << server::Revision() << ")\n";
        return 0;
    }
    if (*probe) {
        if (probeAddress.empty()) probeAddress = ProbedAddress(probeConfig);
        std::string body;
        int status = server::ProbeHealth(probeAddress, probePath, &body);
        std::cout << (status == 0 ? "no answer from " + probeAddress + "\n" : std::to_string(status) + " " + body);
        return status == 200 ? 0 : 1;
    }
    if (accounts.Chosen()) return accounts.Run();
    if (adminCommand->parsed()) {
        if (adminSocket.empty()) adminSocket = AdminSocketOf(adminConfig);
        if (adminSocket.empty()) return 2;
        return server::RunAdminCommand(adminSocket, adminCommand->remaining());
    }
    std::string effective = server::EffectiveSettings(app);
    if (settings.printConfig) {
        std::cout << effective;
        return 0;
    }
    if (std::string contradiction = server::FinishSettings(settings); !contradiction.empty()) {
        std::cerr << "skorvale-server: " << contradiction << "\n";
        return 2;
    }

    auto logger = spdlog::stderr_color_mt("skorvale-server");
    spdlog::set_default_logger(logger);
    spdlog::set_formatter(std::make_unique<server::LineFormatter>(
        settings.logFormat == "json" ? server::LogFormat::Json : server::LogFormat::Text, server::StderrIsJournal()));
    spdlog::set_level(settings.verbose ? spdlog::level::debug : spdlog::level::info);
    spdlog::info("skorvale-server {} (revision {}) starting{}", server::Version(), server::Revision(),
                 settings.configFile.empty() ? "" : " with " + settings.configFile);

    if (settings.accountsFile.empty() && !settings.open) {
        std::cerr << "skorvale-server: give --accounts FILE, or --open to accept every user\n";
        return 2;
    }

    // Writes to a peer that has gone must fail with an error, not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        std::unique_ptr<server::ReloadableAccounts> store;
        std::unique_ptr<server::Authenticator> openAuthenticator;
        server::Authenticator *authenticator = nullptr;
        if (settings.open) {
            spdlog::warn("--open: every user ID is accepted without a password");
            openAuthenticator = std::make_unique<server::OpenAuthenticator>();
            authenticator = openAuthenticator.get();
        } else {
            store = std::make_unique<server::ReloadableAccounts>();
            store->Open(settings.accountsFile);
            authenticator = store.get();
        }
        server::BanList bans;
        std::string bansError;
        if (!settings.admin.bansFile.empty() && !bans.Load(settings.admin.bansFile, &bansError)) {
            spdlog::error("{}", bansError);
            return 1;
        }
        // The message of the day an operator set last, unless the config file changed since.
        if (settings.admin.motdFile.empty() && !settings.admin.bansFile.empty()) {
            settings.admin.motdFile = settings.admin.bansFile + ".motd";
        }
        if (!settings.admin.motdFile.empty()) {
            bool kept = false;
            std::string motdError;
            if (!server::StartingMotd(settings.admin.motdFile, settings.configFile, &settings.admin.motd, &kept,
                                      &motdError)) {
                spdlog::error("{}", motdError);
                return 1;
            }
            if (kept) spdlog::info("message of the day as last set by an operator, from {}", settings.admin.motdFile);
        }
        server::RelayServer relay(settings.server, *authenticator);
        server::AdminCommands::DisableAccount disable;
        if (store) {
            disable = [accountsStore = store.get()](const std::string &user, bool disabled) {
                return accountsStore->SetDisabled(user, disabled);
            };
        }
        relay.EnableAdmin(settings.admin, bans, disable);
        relay.OnReload(Reloading(app, std::vector<std::string>(argv + 1, argv + argc), effective, store.get()));
        std::unique_ptr<server::TrafficFeed> feed;
        std::unique_ptr<server::HttpObserver> map, operations;
        if (!settings.httpAddress.empty() || !settings.metricsAddress.empty()) {
            feed = std::make_unique<server::TrafficFeed>(settings.feed);
            // Four snapshots a second: the map moves smoothly enough, and the relay copies little.
            relay.Observe(*feed, std::chrono::milliseconds(250));
        }
        if (!settings.httpAddress.empty()) {
            server::HttpOptions http = settings.http;
            server::ParseHttpAddress(settings.httpAddress, &http.address, &http.port);
            http.operations = settings.metricsAddress.empty();
            map = std::make_unique<server::HttpObserver>(http, *feed);
            map->Start();
            spdlog::info("live map on http://{}:{}/{}", http.address, http.port,
                         http.operations ? " (metrics on /metrics, health on /healthz and /readyz)" : "");
        }
        if (!settings.metricsAddress.empty()) {
            server::HttpOptions http = settings.http;
            server::ParseHttpAddress(settings.metricsAddress, &http.address, &http.port);
            http.map = false;
            operations = std::make_unique<server::HttpObserver>(http, *feed);
            operations->Start();
            spdlog::info("metrics on http://{}:{}/metrics, health on /healthz and /readyz", http.address, http.port);
        }
        relay.Run();
        if (map) map->Stop();
        if (operations) operations->Stop();
    } catch (const std::system_error &error) {
        spdlog::error("{}", error.what());
        return 1;
    } catch (const std::exception &error) {
        spdlog::error("{}", error.what());
        return 1;
    }
    return 0;
}
