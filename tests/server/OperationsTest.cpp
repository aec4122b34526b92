// The server as operators run it: the config file, reloads, the drain before a stop, health and metrics.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/ServerHarness.h"
#include "tests/support/Command.h"
#include "tests/support/Loopback.h"
#include "tests/support/Paths.h"

namespace servertest {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class OperationsTest : public ServerTest {
protected:
    void SetUp() override { dir_ = testsupport::MakeTempDir("operations"); }
    void TearDown() override { testsupport::RemoveTree(dir_); }

    std::string Write(const std::string &name, const std::string &text) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    testsupport::CommandResult Server(const std::string &arguments) {
        return testsupport::RunCaptured(std::string(testsupport::ServerPath()) + " " + arguments, dir_);
    }
    // Polls until the server's health endpoint answers `status`.
    bool WaitForStatus(const std::string &where, const std::string &path, int status, std::string *body) {
        auto deadline = Clock::now() + std::chrono::seconds(3);
        while (Clock::now() < deadline) {
            if (HttpGet(where, path, body) == status) return true;
            std::this_thread::sleep_for(milliseconds(50));
        }
        return false;
    }
    bool LoggedIn(ProtocolClient &client, int waitMs = 1500) {
        client.SendLine(std::to_string(client.Id()) + "|CALLSIGN|PING");
        return !client.WaitClosed(waitMs);
    }

    std::string dir_;
};

TEST_F(OperationsTest, ConfigFileHoldsAnyFlagAndNamesTheKeyAndLineOfEachFault) {
    std::string good = Write("good.toml",
                             "# a node of a small network\nmax-clients = 2\nchat-rate = 7.5\n"
                             "reserved-clients = 0\nopen = true\n");
    // The file sets, a flag overrides, and --print-config shows the outcome in the file's own form.
    auto printed = Server("--config " + good + " --chat-rate 9 --print-config");
    EXPECT_EQ(printed.exitCode, 0) << printed.err;
    for (const char *line : {"max-clients=2\n", "chat-rate=9\n", "reserved-clients=0\n", "open=true\n"}) {
        EXPECT_NE(printed.out.find(line), std::string::npos) << line << printed.out;
    }
    std::string again = Write("printed.toml", printed.out);
    auto reread = Server("--config " + again + " --print-config");
    EXPECT_EQ(reread.out, printed.out) << "the printed settings read back as they are";
    // So do those of a node with accounts and a network, where open = false stands beside the accounts.
    auto node = Server("--accounts a.db --nats nats://127.0.0.1:4222,nats://127.0.0.2:4222 --node n --print-config");
    std::string nodeFile = Write("node.toml", node.out);
    auto nodeAgain = Server("--config " + nodeFile + " --print-config");
    EXPECT_EQ(nodeAgain.exitCode, 0) << nodeAgain.err;
    EXPECT_EQ(nodeAgain.out, node.out);

    auto version = Server("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("skorvale-server 0.", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("(revision "), std::string::npos) << version.out;

    struct Fault {
        std::string text, expected;
    };
    std::vector<Fault> faults = {
        {"open = true\nmax-clientz = 5\n", "bad.toml:2: max-clientz: unknown key"},
        {"open = true\n\nmax-clients = \"many\"\n", "bad.toml:3: max-clients"},
        {"max-clients = 0\nopen = true\n", "bad.toml:1: max-clients"},
        {"open = true\nhttp = \"localhost\"\n", "bad.toml:2: http"},
        {"[[[ not toml\n", "bad.toml: not a setting"},
    };
    for (const Fault &fault : faults) {
        std::string bad = Write("bad.toml", fault.text);
        auto result = Server("--config " + bad);
        EXPECT_EQ(result.exitCode, 2) << fault.text << result.err;
        EXPECT_NE(result.err.find(fault.expected), std::string::npos) << fault.text << result.err;
    }
    auto both = Server("--accounts a.db --open");
    EXPECT_EQ(both.exitCode, 2);
    EXPECT_NE(both.err.find("not both"), std::string::npos) << both.err;
    auto missing = Server("--config " + dir_ + "/none.toml");
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("none.toml"), std::string::npos) << missing.err;

    // The running server keeps to the file's limit.
    StartServer({"--config", good});
    EXPECT_TRUE(server_->WaitForLog("starting with " + good)) << "the first line names the build and the file";
    EXPECT_NE(server_->Log().find("skorvale-server 0."), std::string::npos);
    auto first = Join(301, "ONE");
    auto second = Join(302, "TWO");
    ProtocolClient third(address_, 303);
    third.Login("Three");
    EXPECT_TRUE(third.WaitClosed()) << "past the file's max-clients";
}

TEST_F(OperationsTest, HangUpReloadsLimitsOnceASecondWithoutDroppingPilots) {
    std::string config = Write("server.toml", "open = true\nmax-clients = 4\nreserved-clients = 0\n");
    StartServer({"--config", config});
    auto alpha = Join(401, "ALPHA");
    auto bravo = Join(402, "BRAVO");

    Write("server.toml", "open = true\nmax-clients = 2\nreserved-clients = 0\nport = 49600\nverbose = true\n");
    // A storm of a hundred signals: one reload at once, one more a second later, and every pilot stays.
    for (int i = 0; i < 100; ++i) kill(server_->Pid(), SIGHUP);
    ASSERT_TRUE(server_->WaitForLog("reloaded the settings")) << server_->Log();
    std::this_thread::sleep_for(milliseconds(1500));
    std::size_t reloads = server_->CountInLog("reloaded the settings");
    EXPECT_GE(reloads, 1u);
    EXPECT_LE(reloads, 2u) << server_->Log();
    EXPECT_TRUE(server_->WaitForLog("port needs a restart; the running value stays")) << server_->Log();
    alpha->SendLine("401|MESSAGE|still here");
    EXPECT_TRUE(bravo->WaitForLine("0|m|ALPHA: still here")) << "no pilot dropped";
    ProtocolClient charlie(address_, 403);
    charlie.Login("Charlie");
    EXPECT_TRUE(charlie.WaitClosed()) << "the reloaded max-clients counts";

    // A file with a fault is refused whole: the running limit stays, and so does every pilot.
    Write("server.toml", "open = true\nmax-clients = 10\nchat-rate = fast\n");
    kill(server_->Pid(), SIGHUP);
    ASSERT_TRUE(server_->WaitForLog("reload refused, the running settings stay")) << server_->Log();
    EXPECT_NE(server_->Log().find("server.toml:3: chat-rate"), std::string::npos) << server_->Log();
    ProtocolClient delta(address_, 404);
    delta.Login("Delta");
    EXPECT_TRUE(delta.WaitClosed());
    EXPECT_TRUE(LoggedIn(*alpha));
    EXPECT_TRUE(LoggedIn(*bravo));
}

TEST_F(OperationsTest, TermDrainsWithAWordToEveryPilotAndASecondTermEndsAtOnce) {
    StartServer(
        {"--open", "--drain-seconds", "3", "--drain-message", "back in a minute", "--metrics-listen", "@:9470"});
    std::string metrics = address_ + ":9470";
    std::string body;
    ASSERT_TRUE(WaitForStatus(metrics, "/readyz", 200, &body)) << body;
    std::vector<std::unique_ptr<ProtocolClient>> pilots;
    for (int id = 501; id <= 503; ++id) pilots.push_back(Join(id, "P" + std::to_string(id)));

    auto signalled = Clock::now();
    kill(server_->Pid(), SIGTERM);
    for (auto &pilot : pilots) EXPECT_TRUE(pilot->WaitForLine("9000|m|Server: back in a minute")) << pilot->Id();
    EXPECT_TRUE(WaitForStatus(metrics, "/readyz", 503, &body));
    EXPECT_NE(body.find("draining"), std::string::npos) << body;
    EXPECT_EQ(HttpGet(metrics, "/healthz"), 200) << "alive while it drains";
    // A newcomer is told why, and turned away.
    ProtocolClient late(address_, 504);
    late.Login("Late");
    EXPECT_TRUE(late.WaitForLine("9000|m|Server: login refused: back in a minute"));
    EXPECT_TRUE(late.WaitClosed());
    HttpGet(metrics, "/metrics", &body);
    EXPECT_NE(body.find("skorvale_refusals_total{reason=\"draining\"} 1"), std::string::npos) << body;
    EXPECT_NE(body.find("skorvale_drains_total 1"), std::string::npos);

    // The pilots stay until the drain is over, then every connection closes and the server exits cleanly.
    EXPECT_TRUE(LoggedIn(*pilots[0], 200));
    for (auto &pilot : pilots) EXPECT_TRUE(pilot->WaitClosed(5000)) << pilot->Id();
    double took = std::chrono::duration<double>(Clock::now() - signalled).count();
    EXPECT_GE(took, 2.8);
    EXPECT_LT(took, 5.0);
    int status = server_->Stop(0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // A crowd: 200 pilots are each told, and the drain still ends on time.
    // (From the four addresses a test process has: as many sessions from each as it takes.)
    StartServer({"--open", "--drain-seconds", "1", "--max-pending-per-address", "1000", "--max-sessions-per-address",
                 "1000", "--metrics-listen", "@:9473"});
    std::vector<std::unique_ptr<ProtocolClient>> crowd;
    for (int id = 1000; id < 1200; ++id) {
        crowd.push_back(std::make_unique<ProtocolClient>(address_, id, testsupport::UniqueLoopbackAddress()));
        crowd.back()->Login("C" + std::to_string(id));
    }
    std::string crowdMetrics;
    for (auto deadline = Clock::now() + std::chrono::seconds(10); Clock::now() < deadline;) {
        HttpGet(address_ + ":9473", "/metrics", &crowdMetrics);
        if (crowdMetrics.find("skorvale_logins_total 200\n") != std::string::npos) break;
        std::this_thread::sleep_for(milliseconds(100));
    }
    ASSERT_NE(crowdMetrics.find("skorvale_logins_total 200\n"), std::string::npos) << crowdMetrics;
    signalled = Clock::now();
    kill(server_->Pid(), SIGTERM);
    std::size_t told = 0;
    for (auto &pilot : crowd) told += pilot->WaitForLine("9000|m|Server: server restarting, back in a moment") ? 1 : 0;
    EXPECT_EQ(told, crowd.size());
    status = server_->Stop(0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - signalled).count(), 2.5);

    // A long drain ends at the second signal.
    StartServer({"--open", "--drain-seconds", "60"});
    auto pilot = Join(505, "LONG");
    kill(server_->Pid(), SIGTERM);
    ASSERT_TRUE(server_->WaitForLog("draining, 1 clients told")) << server_->Log();
    status = server_->Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << server_->Log();
    EXPECT_TRUE(pilot->WaitClosed());
}

TEST_F(OperationsTest, HealthAndMetricsServeOperatorsApartFromTheMap) {
    StartServer({"--open", "--http", "@:8470", "--metrics-listen", "@:9471"});
    std::string map = address_ + ":8470", operations = address_ + ":9471";
    std::string body;
    ASSERT_TRUE(WaitForStatus(operations, "/readyz", 200, &body)) << body;
    EXPECT_EQ(HttpGet(operations, "/healthz", &body), 200);
    EXPECT_EQ(HttpGet(map, "/metrics"), 404) << "the public map's listener leaves the metrics out";
    EXPECT_EQ(HttpGet(map, "/readyz"), 404);
    EXPECT_EQ(HttpGet(map, "/"), 200);
    EXPECT_EQ(HttpGet(operations, "/"), 404) << "and the operators' listener leaves the map out";

    auto pilot = Join(601, "METER");
    ProtocolClient stranger(address_, 0);
    stranger.Login("Zero");
    ASSERT_TRUE(stranger.WaitClosed());
    std::this_thread::sleep_for(milliseconds(600));  // the next snapshot
    ASSERT_EQ(HttpGet(operations, "/metrics", &body), 200);
    for (const char *sample : {"skorvale_build_info{version=\"0.", "skorvale_logins_total 1\n",
                               "skorvale_refusals_total{reason=\"credentials\"} 1\n", "process_resident_memory_bytes ",
                               "process_open_fds ", "process_start_time_seconds ", "process_cpu_seconds_total "}) {
        EXPECT_NE(body.find(sample), std::string::npos) << sample;
    }
    // The names and the format are what Prometheus takes.
    if (system("command -v promtool >/dev/null 2>&1") == 0) {
        std::string file = Write("metrics.txt", body);
        auto checked = testsupport::RunCaptured("promtool check metrics < " + file, dir_);
        EXPECT_EQ(checked.exitCode, 0) << checked.out << checked.err;
    } else {
        std::printf("promtool not installed (scripts/bootstrap installs it): the format check is skipped\n");
    }

    // With a network of nodes, readiness waits for NATS and names it while it is missing.
    StartServer({"--open", "--nats", "nats://@:4999", "--node", "lonely", "--metrics-listen", "@:9472"});
    std::string lonely = address_ + ":9472";
    ASSERT_TRUE(WaitForStatus(lonely, "/readyz", 503, &body)) << body;
    EXPECT_NE(body.find("nats: not connected"), std::string::npos) << body;
    EXPECT_EQ(HttpGet(lonely, "/healthz"), 200);
    HttpGet(lonely, "/metrics", &body);
    EXPECT_NE(body.find("skorvale_network_connected 0"), std::string::npos) << body;

    // The shipped alert rules and dashboard ask only for what a node serves, and Prometheus takes the rules.
    std::string monitoring = std::string(testsupport::SourceDir()) + "/packaging/monitoring/";
    for (const char *file : {"skorvale-alerts.yml", "skorvale-dashboard.json"}) {
        std::string text = testsupport::ReadFile(monitoring + file);
        ASSERT_FALSE(text.empty()) << file;
        std::regex name("\\b(?:skorvale|process)_[a-z_]+");
        for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it) {
            std::string metric = std::regex_replace(it->str(), std::regex("_(bucket|sum|count)$"), "");
            EXPECT_NE(body.find("# TYPE " + metric + " "), std::string::npos) << file << " asks for " << it->str();
        }
    }
    if (system("command -v promtool >/dev/null 2>&1") == 0) {
        auto checked = testsupport::RunCaptured("promtool check rules " + monitoring + "skorvale-alerts.yml", dir_);
        EXPECT_EQ(checked.exitCode, 0) << checked.out << checked.err;
    }
}

}  // namespace
}  // namespace servertest
