// The skorvale-host runner: a scripted session end to end, and clear one-line failures for bad input.
#include <stdlib.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "TinyModules.h"
#include "gtest/gtest.h"
#include "tests/support/Command.h"
#include "tests/support/Paths.h"

namespace {

using Result = testsupport::CommandResult;
using testsupport::ReadFile;

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = testsupport::MakeTempDir("runner");
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override { testsupport::RemoveTree(dir); }

    std::string Write(const std::string &name, const std::string &text) {
        std::ofstream(dir + "/" + name) << text;
        return dir + "/" + name;
    }

    // Runs the host with `args` (already quoted as needed), capturing both streams.
    Result Run(const std::string &args) {
        return testsupport::RunCaptured(std::string("'") + testsupport::HostPath() + "' " + args, dir);
    }

    std::string Base() { return "--plugin '" + simhosttest::TinyPlugin() + "' --dir '" + dir + "'"; }

    std::string dir;
};

// One line on stderr, a non-zero exit, and no crash.
void ExpectCleanFailure(const Result &r, const std::string &mentions) {
    EXPECT_NE(r.exitCode, 0) << r.err;
    EXPECT_LT(r.exitCode, 128) << "crashed: " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(mentions), std::string::npos) << r.err;
}

TEST_F(RunnerTest, PlaysAScriptAndDumpsWhatTheUserSaw) {
    std::string script = Write("s.txt",
                               "# a user session\n"
                               "\n"
                               "0.1 menu Tiny/Count\n"
                               "0.2 click Press me\n"
                               "0.3 type ab\n"
                               "0.4 key Tab press\n"
                               "0.5 echo \"halfway\"\n"
                               "0.5 position 48.2 16.3 200 45\n"
                               "0.6 speed 50\n");
    Result r = Run(Base() + " --seconds 2 --script '" + script + "' --state-json '" + dir +
                   "/state.json' --screen 800x600 --aircraft /A/B/C172.acf");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("[    0.500] halfway"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Tiny"), std::string::npos) << r.out;
    nlohmann::json state = nlohmann::json::parse(ReadFile(dir + "/state.json"));
    EXPECT_NEAR(state["time"].get<double>(), 2.0, 1e-9);
    EXPECT_EQ(state["frames"], 120);
    EXPECT_EQ(state["plugin"]["name"], "Tiny");
    ASSERT_EQ(state["windows"].size(), 1u);
    // The loop runs every frame from t = 0.5 s (frame 30) to frame 120: 91 calls.
    EXPECT_EQ(state["windows"][0]["strings"][0]["text"], "loops 91 menu 1 presses 1 typed ab");
    EXPECT_EQ(state["planeList"][0], "loops 91 menu 1 presses 1 typed ab");
    // Speed from the frame after t = 0.6 s: 84 frames of 50/60 m on a heading of 45 degrees.
    EXPECT_NEAR(state["aircraft"]["lat"].get<double>(), 48.2 + 70 * std::cos(M_PI / 4) / 6371000 * 180 / M_PI, 1e-6);
    EXPECT_EQ(state["connection"]["established"], false);
    EXPECT_EQ(state["slots"].size(), 19u);
    bool sawGhost = false;
    for (const auto &w : state["widgets"])
        if (w["descriptor"] == "Ghost") sawGhost = w["shown"] == false;
    EXPECT_TRUE(sawGhost);
}

TEST_F(RunnerTest, TheRealPlugInUnderXPlane11WithTextThatIsNotUtf8) {
    ASSERT_EQ(system(("mkdir -p '" + dir + "/Resources/plugins'").c_str()), 0);
    // A callsign in Latin-1, as another pilot's plug-in may relay it, shown in the settings pane.
    Write("Resources/plugins/svprefs.txt", "callsign=J\xe9r\xf4me;userID=jerome;");
    // The chat opened by its command, and the screen made smaller under it.
    std::string script = Write("s.txt",
                               "0.2 menu \"Skorvale/Control & Settings\"\n"
                               "0.3 command skorvale/toggle_chat\n"
                               "0.6 screen 640x480\n");
    // Started from another working directory: the settings file is found under X-Plane's folder all the same.
    Result r = testsupport::RunCaptured(std::string("'") + testsupport::HostPath() + "' --plugin '" +
                                            testsupport::PluginPath() + "' --dir '" + dir +
                                            "' --cwd / --seconds 1 --xplane 11 --planes-held-until 5 --start "
                                            "47.4,-122.5,100,0,46.5,-122.5 --ai-aircraft 4 --model-load-ms 50 "
                                            "--release-request-at 0.5 --other-holder ignores --script '" +
                                            script + "' --state-json '" + dir + "/state.json'",
                                        dir);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    nlohmann::json state = nlohmann::json::parse(ReadFile(dir + "/state.json"));
    bool shown = false;
    for (const auto &w : state["widgets"]) shown = shown || w["descriptor"] == "J\uFFFDr\uFFFDme";
    EXPECT_TRUE(shown) << "each byte that is not UTF-8 becomes U+FFFD";
    EXPECT_FALSE(state["planes"]["acquired"].get<bool>());
    EXPECT_EQ(state["planes"]["heldByOtherUntil"], 5.0);
    EXPECT_EQ(state["planes"]["refusedCount"], 0);
    EXPECT_EQ(state["planes"]["holder"], "other plug-in");
    EXPECT_EQ(state["planes"]["totalAircraft"], 5);
    EXPECT_EQ(state["planes"]["releaseRequests"], nlohmann::json::array({0.5}));
    EXPECT_EQ(state["planes"]["mostModelLoadsInFrame"], 0);
    EXPECT_NEAR(state["planes"]["longestFrame"].get<double>(), 1.0 / 60, 1e-9);
    EXPECT_EQ(state["slots"][3]["aiFlies"], true);
    EXPECT_EQ(state["slots"][4]["aiFlies"], false) << "the pilot's AI count is 4";
    // The stand-in traffic plug-in holds them, by name; what X-Plane draws ends at the pilot's AI count.
    EXPECT_EQ(state["planes"]["holderName"], "Stand-in Traffic");
    EXPECT_EQ(state["planes"]["holderAsked"], nlohmann::json::array()) << "offline, nobody asks it";
    EXPECT_EQ(state["slots"][3]["drawn"], true);
    EXPECT_TRUE(state["slots"][3]["seen"].contains("distanceKm"));
    EXPECT_EQ(state["slots"][4]["drawn"], false);
    EXPECT_TRUE(state["slots"][4]["seen"].is_null());
    EXPECT_EQ(state["readOnlyWrites"]["count"], 0);
    EXPECT_EQ(state["drawing"]["fogOrLightingIn2D"], 0);
    EXPECT_EQ(state["keyboard"]["focusToHiddenWindow"], 0);
    const nlohmann::json &chat = state["windows"][1];
    EXPECT_TRUE(chat["visible"].get<bool>());
    EXPECT_TRUE(chat["keyboardFocus"].get<bool>());
    EXPECT_LE(chat["right"].get<int>(), 640);
    EXPECT_LE(chat["top"].get<int>(), 480);
    // The frame's origin as given, not the aircraft's tile.
    EXPECT_NEAR(state["aircraft"]["z"].get<double>(), -100070, 200);
}

TEST_F(RunnerTest, BadArgumentsFailWithOneLine) {
    ExpectCleanFailure(Run("--dir /tmp"), "--plugin");
    ExpectCleanFailure(Run(Base() + " --seconds banana"), "--seconds");
    ExpectCleanFailure(Run(Base() + " --seconds -3"), "--seconds");
    ExpectCleanFailure(Run(Base() + " --screen 800by600"), "--screen");
    ExpectCleanFailure(Run(Base() + " --start 95,10"), "--start");
    ExpectCleanFailure(Run(Base() + " --start 47,10,0,0,46.5"), "--start");
    ExpectCleanFailure(Run(Base() + " --xplane 10"), "--xplane");
    ExpectCleanFailure(Run(Base() + " --bogus"), "bogus");
    ExpectCleanFailure(Run("--plugin /nonexistent.xpl --dir '" + dir + "'"), "/nonexistent.xpl");
    ExpectCleanFailure(Run("--plugin '" + simhosttest::PartialPlugin() + "' --dir '" + dir + "'"),
                       "XPluginReceiveMessage");
    ExpectCleanFailure(Run(Base() + " --script '" + dir + "/missing.txt'"), "missing.txt");
    ExpectCleanFailure(Run("--plugin '" + simhosttest::TinyPlugin() + "' --dir '" + dir + "/nowhere'"), "nowhere");
}

TEST_F(RunnerTest, BadScriptLinesNameTheirLine) {
    const std::pair<const char *, const char *> cases[] = {
        {"0 echo ok\nsoon echo x\n", "line 2"},
        {"1 fly away\n", "unknown command \"fly\""},
        {"1 key Tab sideways\n", "down, up or press"},
        {"1 mouse down 10\n", "usage: mouse"},
        {"1 position 91 0\n", "latitude out of range"},
        {"1 dataref sim/no/such 1\n", "unknown data ref"},
        {"1 dataref sim/flightmodel/position/psi 1 2\n", "too many values"},
        {"1 field \"User ID alice\n", "unterminated quote"},
        {"1 route 10,20 10,x\n", "bad way-point"},
        {"2\n", "missing command"},
        {"1 screen 10by10\n", "usage: screen"},
        {"1 command\n", "command NAME"},
    };
    for (const auto &[text, mentions] : cases) {
        std::string script = Write("bad.txt", text);
        Result r = Run(Base() + " --seconds 1 --script '" + script + "'");
        SCOPED_TRACE(text);
        ExpectCleanFailure(r, mentions);
        EXPECT_EQ(r.out, "") << "a bad script is refused before anything runs";
    }
}

TEST_F(RunnerTest, ActionsAUserCannotDoFailTheRunAtTheirLine) {
    std::string script = Write("s.txt", "0.1 click Press me\n0.2 click Ghost\n0.3 click Press me\n");
    Result r = Run(Base() + " --seconds 1 --script '" + script + "' --state-json '" + dir + "/state.json'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("line 2: click: widget \"Ghost\" is hidden"), std::string::npos) << r.err;
    nlohmann::json state = nlohmann::json::parse(ReadFile(dir + "/state.json"));
    EXPECT_NE(state["windows"][0]["strings"][0]["text"].get<std::string>().find("presses 1 "), std::string::npos)
        << "the run stops at the failing line";

    script = Write("m.txt", "0.1 menu Tiny/Nope\n");
    r = Run(Base() + " --seconds 1 --script '" + script + "'");
    ExpectCleanFailure(r, "line 1: menu: no menu item \"Tiny/Nope\"");
}

}  // namespace
