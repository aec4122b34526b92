// Whole sessions: a real relay server and the plug-in loaded in headless hosts (skorvale-host
// processes in real time), checked through each host's JSON state and the server's log.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/ClusterHarness.h"
#include "tests/server/ServerHarness.h"
#include "tests/support/Command.h"
#include "tests/support/FixtureServer.h"
#include "tests/support/Loopback.h"
#include "tests/support/Paths.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Pilot {
    std::string name;
    std::string settings;  // the settings file's contents
    std::string script;
    std::string aircraft = "Aircraft/General/Trainer/trainer.acf";
    bool viewOnly = false;
    std::string server = {};  // the node it logs in to; empty: the test's own server
    bool windows = false;     // the Windows plug-in in the Windows host under Wine
};

class MultiplayerTest : public servertest::ServerTest {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/skorvale-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    static std::string Settings(const std::string &user, const std::string &callsign, const std::string &password,
                                int flightMode = 0, int position = 0, const std::string &crew = "") {
        return "callsign=" + callsign + ";userID=" + user + ";password=" + password +
               ";flightMode=" + std::to_string(flightMode) + ";cockpitPosition=" + std::to_string(position) +
               ";crewID=" + crew + ";connectAtStartup=1;";
    }

    // Starts one skorvale-host for `seconds` in real time; returns its pid.
    pid_t Launch(const Pilot &pilot, double seconds) {
        fs::path dir = fs::path(root_) / pilot.name;
        fs::create_directories(dir / "Resources/plugins");
        for (const char *model : {"Aircraft/General/Trainer/trainer.acf", "Aircraft/Gliders/Swift/swift.acf"}) {
            fs::create_directories((dir / model).parent_path());
            std::ofstream(dir / model) << "model\n";
        }
        // The zip's layout: the traffic models beside the plug-in, for pilots who turn them on.
        fs::create_directories(dir / "Resources/plugins/Skorvale");
        fs::create_symlink(testsupport::ModelsDir(), dir / "Resources/plugins/Skorvale/models");
        std::ofstream(dir / "Resources/plugins/svprefs.txt") << pilot.settings;
        if (pilot.viewOnly) std::ofstream(dir / "Resources/plugins/viewonly.txt");
        std::ofstream(dir / "script.txt") << pilot.script;
        std::vector<std::string> argv = {testsupport::HostPath(), "--plugin", testsupport::PluginPath()};
#ifdef SKORVALE_WINE_RUN
        if (pilot.windows)
            argv = {SKORVALE_WINE_RUN, SKORVALE_WINEPREFIX, SKORVALE_WINDOWS_HOST_PATH, "--plugin",
                    SKORVALE_WINDOWS_PLUGIN_PATH};
#endif
        argv.insert(argv.end(), {"--dir", dir.string(), "--realtime", "--seconds", std::to_string(seconds), "--script",
                                 (dir / "script.txt").string(), "--aircraft", pilot.aircraft, "--state-json",
                                 (dir / "state.json").string()});
        pid_t pid = fork();
        if (pid == 0) {
            setenv("SKORVALE_SERVER_ADDRESS", pilot.server.empty() ? address_.c_str() : pilot.server.c_str(), 1);
            std::string log = (dir / "host.log").string();
            freopen(log.c_str(), "w", stdout);
            freopen(log.c_str(), "a", stderr);
            std::vector<char *> raw;
            for (auto &argument : argv) raw.push_back(argument.data());
            raw.push_back(nullptr);
            execv(raw[0], raw.data());
            _exit(127);
        }
        return pid;
    }

    // Waits (bounded) until a host has played its first script line: Wine's start takes seconds.
    bool Started(const std::string &name) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream log(fs::path(root_) / name / "host.log");
            std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
            if (text.find("] start") != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // Waits (bounded) for a host to finish and returns its JSON state.
    json Finish(pid_t pid, const std::string &name) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
        int status = -1;
        while (waitpid(pid, &status, WNOHANG) != pid) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ADD_FAILURE() << name << " did not finish";
                return json();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name << " exited with " << status;
        std::ifstream state(fs::path(root_) / name / "state.json");
        if (!state) {
            ADD_FAILURE() << name << " wrote no state";
            return json();
        }
        return json::parse(state, nullptr, false);
    }

    // The plug-in seeds its unique ID from the time in whole seconds: hosts started within one second
    // would collide, and the server refuses the second login. Stagger the starts.
    static void NextSecond() { std::this_thread::sleep_for(std::chrono::milliseconds(1100)); }

    std::string root_;
};

bool HasRow(const json &state, const std::string &text) {
    for (const auto &row : state.value("planeList", json::array())) {
        if (row.get<std::string>().find(text) != std::string::npos) return true;
    }
    return false;
}

TEST_F(MultiplayerTest, OnlyPilotsWithTheRightPasswordGetOnline) {
    char pattern[] = "/tmp/skorvale-e2e-accounts-XXXXXX";
    int fd = mkstemp(pattern);
    close(fd);
    unlink(pattern);
    std::string accounts = pattern;
    std::string command = "printf 'letmein\\n' | '" + std::string(testsupport::ServerPath()) + "' accounts add " +
                          accounts + " anna >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    StartServer({"--accounts", accounts});

    const std::string list = "0 echo start\n0.2 menu Skorvale/Toggle Plane List\n";
    pid_t good = Launch({"anna", Settings("anna", "ANNA1", "letmein"), list}, 3);
    pid_t bad = Launch({"mallory", Settings("anna", "MAL", "guess"), list}, 6);
    json goodState = Finish(good, "anna");
    json badState = Finish(bad, "mallory");
    unlink(accounts.c_str());

    EXPECT_TRUE(goodState["connection"]["established"].get<bool>());
    EXPECT_FALSE(badState["connection"]["established"].get<bool>());
    EXPECT_TRUE(server_->WaitForLog("refused login of \"anna\""));
    EXPECT_EQ(server_->CountInLog("\"anna\" logged in"), 1u);

    // The refused pilot reads the server's reason at the top of the plane list and in Log.txt, and the
    // plug-in does not try again by itself; the password is in neither.
    const std::string reason = address_ + ":49556 says: login refused: unknown user or wrong password";
    std::string shown = badState["planeList"].empty() ? std::string() : badState["planeList"][0].get<std::string>();
    EXPECT_GT(shown.size(), 20u) << badState["planeList"].dump();
    EXPECT_EQ(reason.rfind(shown, 0), 0u) << shown;
    std::string badLog = testsupport::ReadFile(root_ + "/mallory/Log.txt");
    EXPECT_NE(badLog.find("Skorvale: " + reason + "\n"), std::string::npos) << badLog;
    EXPECT_EQ(badLog.find("guess"), std::string::npos);
    EXPECT_EQ(server_->CountInLog("refused login of \"anna\""), 1u);
    EXPECT_NE(
        testsupport::ReadFile(root_ + "/anna/Log.txt").find("Skorvale: Logged in to " + address_ + ":49556 as anna"),
        std::string::npos);
}

TEST_F(MultiplayerTest, ASwallowingAddressFreezesNoFrameAndARestartedRelayIsRejoinedByItself) {
    StartServer();
    std::string blackHole = testsupport::UniqueLoopbackAddress();
    testsupport::SilentListener silent(blackHole);
    ASSERT_TRUE(silent.Ok());
    Pilot stuck{"stuck", Settings("stu", "STU", "x"), "0 echo start\n"};
    stuck.server = blackHole;
    Pilot back{"back", Settings("bea", "BEA", "x"), "0 echo start\n"};
    pid_t s = Launch(stuck, 13);
    pid_t b = Launch(back, 12);
    ASSERT_TRUE(server_->WaitForLog("\"bea\" logged in", 10000));

    // The relay dies without a word and comes back on the same address a moment later.
    server_->Stop(SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    servertest::ServerProcess restarted(address_, {"--open"});
    ASSERT_TRUE(restarted.Ready()) << restarted.Log();
    EXPECT_TRUE(restarted.WaitForLog("\"bea\" logged in", 8000)) << restarted.Log();
    json backState = Finish(b, "back");
    json stuckState = Finish(s, "stuck");
    ASSERT_FALSE(backState.is_discarded() || stuckState.is_discarded());

    EXPECT_TRUE(backState["connection"]["established"].get<bool>());
    std::string backLog = testsupport::ReadFile(root_ + "/back/Log.txt");
    EXPECT_NE(backLog.find("Skorvale: Connection lost: " + address_ + ":49556 closed the connection. Trying again in "),
              std::string::npos)
        << backLog;
    size_t lost = backLog.find("Skorvale: Connection lost: ");
    EXPECT_NE(backLog.find("Skorvale: Logged in to " + address_ + ":49556 as bea", lost), std::string::npos) << backLog;

    // The swallowed attempts time out and are tried again, and no frame waited on them.
    std::string stuckLog = testsupport::ReadFile(root_ + "/stuck/Log.txt");
    EXPECT_NE(stuckLog.find("Skorvale: Cannot reach " + blackHole + ":49556: timed out. Trying again in "),
              std::string::npos)
        << stuckLog;
    std::printf("longest frame: %.6f s with a swallowing address, %.6f s through a restart\n",
                stuckState["longestFrameWall"].get<double>(), backState["longestFrameWall"].get<double>());
    EXPECT_LT(stuckState["longestFrameWall"].get<double>(), 0.005);
}

TEST_F(MultiplayerTest, CoPilotsAircraftFollowsItsPilotAndWatchersStayUnseen) {
    StartServer();
    // The pilot parks 2 km north of where the co-pilot starts; the co-pilot's own aircraft must end up
    // at the pilot's, flown by the plug-in (plane-path override on). A view-only watcher sees the pilot;
    // nobody sees the watcher or the co-pilot as an aircraft.
    Pilot pilot{"pilot", Settings("pat", "PAT", "x", 1, 0, "Eagle"),
                "0 position 47.4818 -122.3079 300 10\n0.5 menu Skorvale/Toggle Plane List\n"
                "11 key Tab\n11.2 type cleared for takeoff\n11.5 key Return\n11.7 key Tab\n"};
    Pilot copilot{"copilot", Settings("cole", "COLE", "x", 1, 1, "Eagle"),
                  "0 position 47.4638 -122.3079 131 200\n0.5 menu Skorvale/Toggle Plane List\n"};
    Pilot watcher{"watcher", Settings("wes", "WES", "x"),
                  "0 position 47.4700 -122.3079 131 0\n0.5 menu Skorvale/Toggle Plane List\n",
                  "Aircraft/Gliders/Swift/swift.acf", true};
    // Each host takes its state at its end; the pilot runs longest, so its logout (which blanks its
    // slot everywhere) comes after the others have looked.
    pid_t p = Launch(pilot, 18);
    NextSecond();
    pid_t c = Launch(copilot, 15);
    NextSecond();
    pid_t w = Launch(watcher, 13);
    json watcherState = Finish(w, "watcher");
    json copilotState = Finish(c, "copilot");
    json pilotState = Finish(p, "pilot");
    ASSERT_FALSE(pilotState.is_discarded() || copilotState.is_discarded() || watcherState.is_discarded());

    const json &own = copilotState["aircraft"];
    const json &truth = pilotState["aircraft"];
    EXPECT_TRUE(own["override"].get<bool>());
    EXPECT_NEAR(own["lat"].get<double>(), truth["lat"].get<double>(), 1e-4);
    EXPECT_NEAR(own["lon"].get<double>(), truth["lon"].get<double>(), 1e-4);
    EXPECT_NEAR(own["elevation"].get<double>(), truth["elevation"].get<double>(), 1.0);
    EXPECT_TRUE(HasRow(copilotState, "PAT")) << copilotState["planeList"].dump();

    EXPECT_TRUE(HasRow(watcherState, "PAT trainer")) << watcherState["planeList"].dump();
    EXPECT_FALSE(HasRow(watcherState, "COLE"));
    EXPECT_FALSE(HasRow(pilotState, "COLE")) << pilotState["planeList"].dump();
    EXPECT_FALSE(HasRow(pilotState, "WES")) << pilotState["planeList"].dump();

    // The pilot's chat line reaches everyone, its own window through the server's echo.
    for (const json *state : {&pilotState, &copilotState, &watcherState}) {
        const json &history = (*state)["chat"]["history"];
        EXPECT_NE(std::find(history.begin(), history.end(), "PAT: cleared for takeoff"), history.end())
            << history.dump();
    }
}

TEST_F(MultiplayerTest, PilotsOnTwoNodesOfANetworkSeeAndHearEachOther) {
    servertest::NatsCluster nats;
    ASSERT_TRUE(nats.Ready()) << nats.Log(0);
    std::string alpha = testsupport::UniqueLoopbackAddress(), bravo = testsupport::UniqueLoopbackAddress();
    auto alphaNode = servertest::StartNode(alpha, "alpha", nats.Urls(0));
    auto bravoNode = servertest::StartNode(bravo, "bravo", nats.Urls(1));

    // Anna flies a trainer through alpha, Ben a glider 2 km south through bravo. The plug-in names its
    // callsign and model 10 s after it connects, so both talk after that; Ben stops first, so his state
    // is taken while Anna is still online.
    Pilot anna{"anna",
               Settings("anna", "ANNA", "x"),
               "0 position 47.4818 -122.3079 300 10\n0.5 menu Skorvale/Toggle Plane List\n"
               "11 key Tab\n11.2 type hello from alpha\n11.5 key Return\n11.7 key Tab\n",
               "Aircraft/General/Trainer/trainer.acf",
               false,
               alpha};
    Pilot ben{"ben",
              Settings("ben", "BEN", "x"),
              "0 position 47.4638 -122.3079 131 200\n0.5 menu Skorvale/Toggle Plane List\n"
              "10.3 key Tab\n10.5 type roger from bravo\n10.7 key Return\n10.9 key Tab\n",
              "Aircraft/Gliders/Swift/swift.acf",
              false,
              bravo};
    pid_t a = Launch(anna, 13);
    NextSecond();
    pid_t b = Launch(ben, 11);
    json benState = Finish(b, "ben");
    json annaState = Finish(a, "anna");
    ASSERT_FALSE(annaState.is_discarded() || benState.is_discarded());

    EXPECT_TRUE(HasRow(benState, "ANNA trainer")) << benState["planeList"].dump();
    bool annaInASlot = false;
    for (const json &slot : benState["slots"]) {
        if (slot["model"].get<std::string>().find("trainer.acf") == std::string::npos) continue;
        annaInASlot = std::fabs(slot["lat"].get<double>() - annaState["aircraft"]["lat"].get<double>()) < 1e-4 &&
                      std::fabs(slot["lon"].get<double>() - annaState["aircraft"]["lon"].get<double>()) < 1e-4;
    }
    EXPECT_TRUE(annaInASlot) << benState["slots"].dump();
    const json &annaHeard = annaState["chat"]["history"];
    const json &benHeard = benState["chat"]["history"];
    EXPECT_NE(std::find(benHeard.begin(), benHeard.end(), "ANNA: hello from alpha"), benHeard.end()) << benHeard.dump();
    EXPECT_NE(std::find(annaHeard.begin(), annaHeard.end(), "BEN: roger from bravo"), annaHeard.end())
        << annaHeard.dump();
}

#ifdef SKORVALE_WINE_RUN
class WineSessionTest : public MultiplayerTest {};

// The Windows plug-in under Wine and the Linux plug-in on one Linux relay, with accounts (so the Windows
// digest is checked). WINA and LINB sit at the same spot, so LINA must be shown both at the same bytes;
// LINB stops while WINA flies, LINA outlives WINA and sees its slot blanked.
TEST_F(WineSessionTest, WindowsAndLinuxPilotsSeeAndHearEachOther) {
    std::string accounts = root_ + "/accounts.db";
    for (const char *user : {"lina", "linb", "wina"}) {
        std::string command = "printf 'pw-" + std::string(user) + "\\n' | '" + testsupport::ServerPath() +
                              "' accounts add " + accounts + " " + user + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    StartServer({"--accounts", accounts});
    const std::string spot = "0 position 47.4818 -122.3079 300 10\n0 echo start\n0.5 menu Skorvale/Toggle Plane List\n";
    // WINA draws its traffic with our own models (instances and TCAS targets), the others as X-Plane's
    // multiplayer aircraft.
    Pilot wina{"wina", Settings("wina", "WINA", "pw-wina") + "trafficModels=1;",
               spot + "11 key Tab\n11.2 type hello from windows\n11.5 key Return\n11.7 key Tab\n",
               "Aircraft/Gliders/Swift/swift.acf"};
    wina.windows = true;
    Pilot linb{"linb", Settings("linb", "LINB", "pw-linb"), spot};
    Pilot lina{"lina", Settings("lina", "LINA", "pw-lina"),
               "0 position 47.4638 -122.3079 131 200\n0 echo start\n0.5 menu Skorvale/Toggle Plane List\n"
               "11 key Tab\n11.2 type hello from linux\n11.5 key Return\n11.7 key Tab\n"};
    // A pilot's end state shows only who is still online: LINA ends first, with WINA and LINB at one spot;
    // WINA next, with LINB; LINB last, after WINA has left.
    pid_t w = Launch(wina, 32);
    ASSERT_TRUE(Started("wina")) << "the Windows host did not start under Wine";
    NextSecond();
    pid_t b = Launch(linb, 33);
    NextSecond();
    pid_t a = Launch(lina, 26);
    json linbState = Finish(b, "linb");
    json winaState = Finish(w, "wina");
    json linaState = Finish(a, "lina");
    ASSERT_FALSE(winaState.is_discarded() || linbState.is_discarded() || linaState.is_discarded());

    // The lifecycle under Wine, and the login with its digest against the accounts.
    EXPECT_EQ(winaState["plugin"]["name"], "Skorvale");
    EXPECT_TRUE(winaState["connection"]["established"].get<bool>()) << winaState["connection"].dump();
    EXPECT_EQ(server_->CountInLog("\"wina\" logged in"), 1u) << server_->Log();
    EXPECT_NE(testsupport::ReadFile(root_ + "/wina/Resources/plugins/svprefs.txt").find("callsign=WINA"),
              std::string::npos);

    // Callsigns and models both ways.
    EXPECT_TRUE(HasRow(winaState, "LINB trainer")) << winaState["planeList"].dump();
    EXPECT_TRUE(HasRow(linaState, "WINA swift")) << linaState["planeList"].dump();
    // Chat both ways.
    const json &winaHeard = winaState["chat"]["history"];
    const json &linaHeard = linaState["chat"]["history"];
    EXPECT_NE(std::find(winaHeard.begin(), winaHeard.end(), "LINA: hello from linux"), winaHeard.end())
        << winaHeard.dump();
    EXPECT_NE(std::find(linaHeard.begin(), linaHeard.end(), "WINA: hello from windows"), linaHeard.end())
        << linaHeard.dump();
    // The Windows plug-in's instanced traffic: LINB (online until after WINA's end) as our light single at
    // its spot, and on TCAS under its callsign.
    const json &instances = winaState["instances"];
    ASSERT_EQ(instances.size(), 1u) << instances.dump();
    EXPECT_NE(instances[0]["object"].get<std::string>().find("Skorvale/models/"), std::string::npos);
    EXPECT_NEAR(instances[0]["lat"].get<double>(), 47.4818, 1e-3);
    EXPECT_EQ(winaState["tcas"]["override"], 1) << winaState["tcas"].dump();
    bool linbOnTcas = false;
    for (const json &target : winaState["tcas"]["targets"]) linbOnTcas |= target["flight_id"] == "LINB";
    EXPECT_TRUE(linbOnTcas) << winaState["tcas"].dump();

    // WINA has logged out by LINB's end: its slot is BLANK, not named.
    EXPECT_FALSE(HasRow(linbState, "WINA")) << linbState["planeList"].dump();

    // Where LINA shows the Windows and the Linux pilot at one spot: the same bytes.
    std::vector<std::string> atSpot;
    for (const json &slot : linaState["slots"]) {
        if (std::fabs(slot["lat"].get<double>() - 47.4818) > 1e-3) continue;
        atSpot.push_back(
            json{slot["lat"], slot["lon"], slot["el"], slot["heading"], slot["x"], slot["y"], slot["z"]}.dump());
    }
    ASSERT_EQ(atSpot.size(), 2u) << linaState["slots"].dump();
    EXPECT_EQ(atSpot[0], atSpot[1]);
}
// The Windows plug-in's connection under Wine: a wrong password is told why (status line and Log.txt)
// and not tried again, and a relay killed and restarted is rejoined by itself.
TEST_F(WineSessionTest, WindowsPilotsAreToldWhyAndComeBackAfterARestart) {
    std::string accounts = root_ + "/accounts.db";
    std::string command = "printf 'pw-wina\\n' | '" + std::string(testsupport::ServerPath()) + "' accounts add " +
                          accounts + " wina >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    StartServer({"--accounts", accounts});
    const std::string list = "0 echo start\n0.2 menu Skorvale/Toggle Plane List\n";
    // WINA draws its traffic with our own models (instances and TCAS targets), the others as X-Plane's
    // multiplayer aircraft.
    Pilot wina{"wina", Settings("wina", "WINA", "pw-wina") + "trafficModels=1;", list};
    wina.windows = true;
    Pilot winb{"winb", Settings("wina", "WINB", "guess"), list};
    winb.windows = true;
    pid_t a = Launch(wina, 25);
    pid_t b = Launch(winb, 20);
    ASSERT_TRUE(server_->WaitForLog("\"wina\" logged in", 120000)) << server_->Log();
    ASSERT_TRUE(server_->WaitForLog("refused login of \"wina\"", 120000)) << server_->Log();

    server_->Stop(SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    servertest::ServerProcess restarted(address_, {"--accounts", accounts});
    ASSERT_TRUE(restarted.Ready()) << restarted.Log();
    EXPECT_TRUE(restarted.WaitForLog("\"wina\" logged in", 10000)) << restarted.Log();
    json bState = Finish(b, "winb");
    json aState = Finish(a, "wina");
    ASSERT_FALSE(aState.is_discarded() || bState.is_discarded());

    EXPECT_TRUE(aState["connection"]["established"].get<bool>()) << aState["connection"].dump();
    std::string aLog = testsupport::ReadFile(root_ + "/wina/Log.txt");
    size_t lost = aLog.find("Skorvale: Connection lost: ");
    EXPECT_NE(lost, std::string::npos) << aLog;
    EXPECT_NE(aLog.find("Skorvale: Logged in to " + address_ + ":49556 as wina", lost), std::string::npos) << aLog;

    const std::string reason = address_ + ":49556 says: login refused: unknown user or wrong password";
    std::string bLog = testsupport::ReadFile(root_ + "/winb/Log.txt");
    EXPECT_NE(bLog.find("Skorvale: " + reason), std::string::npos) << bLog;
    std::string shown = bState["planeList"].empty() ? std::string() : bState["planeList"][0].get<std::string>();
    EXPECT_GT(shown.size(), 20u) << bState["planeList"].dump();
    EXPECT_EQ(reason.rfind(shown, 0), 0u) << shown;
    EXPECT_EQ(restarted.CountInLog("refused login of \"wina\""), 0u) << "a refused pilot does not try again";
}
#endif

}  // namespace
