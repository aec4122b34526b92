// Loading plug-in modules: fresh globals per load, the entry functions in order, and clear refusals.
#include <fstream>

#include "HostFixture.h"
#include "TinyModules.h"

namespace {

using simhosttest::HostTest;
using simhosttest::TinyPlugin;

TEST_F(HostTest, EachLoadIsAFreshModuleWithItsOwnGlobals) {
    std::string error;
    auto first = simhost::LoadedPlugin::Load(TinyPlugin(), error);
    ASSERT_TRUE(first) << error;
    ASSERT_EQ(first->Start(), 1);
    EXPECT_EQ(first->Name(), "Tiny");
    EXPECT_EQ(first->Signature(), "skorvale.test.tiny");
    EXPECT_EQ(first->Description(), "starts 1");
    EXPECT_EQ(first->Enable(), 1);
    EXPECT_EQ(host.Windows().size(), 1u);
    EXPECT_EQ(host.FlightLoops().size(), 1u);

    // The same file again, while the first is still loaded: a separate copy, counting from zero.
    auto second = simhost::LoadedPlugin::Load(TinyPlugin(), error);
    ASSERT_TRUE(second) << error;
    second->Start();
    EXPECT_EQ(second->Description(), "starts 1");
    EXPECT_EQ(host.Windows().size(), 2u);

    // Destruction disables and stops: callbacks and windows go.
    first.reset();
    second.reset();
    EXPECT_TRUE(host.Windows().empty());
    EXPECT_TRUE(host.FlightLoops().empty());
    EXPECT_TRUE(host.KeySniffers().empty());
    EXPECT_TRUE(host.Widgets().empty());
    auto third = simhost::LoadedPlugin::Load(TinyPlugin(), error);
    ASSERT_TRUE(third) << error;
    third->Start();
    EXPECT_EQ(third->Description(), "starts 1");
}

TEST_F(HostTest, LoadRefusesWhatIsNotAPlugInWithOneLineReasons) {
    std::string error;
    EXPECT_FALSE(simhost::LoadedPlugin::Load("/nonexistent/Skorvale.xpl", error));
    EXPECT_NE(error.find("/nonexistent/Skorvale.xpl"), std::string::npos) << error;

    std::string junk = testing::TempDir() + "/junk.xpl";
    std::ofstream(junk) << "not an ELF file";
    error.clear();
    EXPECT_FALSE(simhost::LoadedPlugin::Load(junk, error));
    EXPECT_NE(error.find("not a loadable module"), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(simhost::LoadedPlugin::Load(simhosttest::PartialPlugin(), error));
    EXPECT_NE(error.find("XPluginReceiveMessage"), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(simhost::LoadedPlugin::Load(simhosttest::HostLibraryPath(), error)) << "a library, not a plug-in";
    EXPECT_NE(error.find("XPluginStart"), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(simhost::LoadedPlugin::Load(testing::TempDir(), error)) << "a directory";
    EXPECT_FALSE(error.empty());
    for (const std::string &e : {error}) EXPECT_EQ(e.find('\n'), std::string::npos);
}

}  // namespace

namespace {

bool Drew(simhost::Host &host, const std::string &text) {
    for (const auto &s : host.LastFrame().strings)
        if (s.text.find(text) != std::string::npos) return true;
    return false;
}

TEST_F(HostTest, ADisabledPlugInKeepsItsRegistrationsButGetsNoCalls) {
    std::string error;
    auto tiny = simhost::LoadedPlugin::Load(TinyPlugin(), error);
    ASSERT_TRUE(tiny) << error;
    ASSERT_EQ(tiny->Start(), 1);
    // Started, not yet enabled: nothing of it runs, whatever the user does.
    host.RunFor(1);
    EXPECT_TRUE(host.LastFrame().windowsDrawn.empty());
    EXPECT_TRUE(host.ChooseMenuItem({"Tiny", "Count"}));
    host.TypeText("ab");
    EXPECT_TRUE(host.ClickWidget("Press me"));
    ASSERT_EQ(tiny->Enable(), 1);
    host.RunFrame();
    EXPECT_TRUE(Drew(host, "menu 0 presses 0 typed ")) << "nothing was delivered while disabled";
    host.RunFor(1);
    host.TypeText("c");
    host.RunFrame();
    EXPECT_TRUE(Drew(host, "typed c"));
    EXPECT_FALSE(Drew(host, "loops 0 "));

    tiny->Disable();
    EXPECT_EQ(host.FlightLoops().size(), 1u);
    host.RunFor(1);
    EXPECT_TRUE(host.LastFrame().windowsDrawn.empty());
}

void Available(void *refcon) { ++*static_cast<int *>(refcon); }

TEST_F(HostTest, TheMultiplayerAircraftBelongToOnePlugInAtATime) {
    // Without access the calls that change the aircraft change nothing, and each refusal is recorded.
    XPLMSetActiveAircraftCount(20);
    XPLMDisableAIForPlane(1);
    EXPECT_EQ(host.Planes().activeCount, 20) << "X-Plane's AI flies them all";
    EXPECT_TRUE(host.Planes().aiDisabled.empty());
    ASSERT_EQ(XPLMAcquirePlanes(nullptr, nullptr, nullptr), 1);
    XPLMSetActiveAircraftCount(20);
    XPLMSetAircraftModel(0, "/sim/Aircraft/own.acf");
    XPLMSetAircraftModel(2, "/sim/Aircraft/two.acf");
    XPLMSetAircraftModel(3, "Aircraft/three.acf");
    simhost::PlanesInfo planes = host.Planes();
    EXPECT_EQ(planes.activeCount, 20);
    EXPECT_EQ(planes.models[0], "") << "index 0 is the user's aircraft";
    EXPECT_EQ(planes.models[2], "/sim/Aircraft/two.acf");
    EXPECT_EQ(planes.models[3], "") << "X-Plane wants full paths";
    ASSERT_EQ(planes.refusedCount, 4);
    EXPECT_EQ(planes.refused[2].call, "XPLMSetAircraftModel(0): index 0 is the user's aircraft");
    EXPECT_EQ(planes.refused[3].call, "XPLMSetAircraftModel(3): relative path \"Aircraft/three.acf\"");
    EXPECT_EQ(planes.mostModelLoadsInFrame, 1);
    // The simulator offers the pilot's AI count and the user's own; the active count stops there.
    int total = 0, active = 0;
    XPLMPluginID controller = -1;
    host.SetAIAircraftCount(3);
    XPLMCountAircraft(&total, &active, &controller);
    EXPECT_EQ(total, 4);
    EXPECT_EQ(active, 4);
    EXPECT_EQ(controller, 0);
    XPLMSetActiveAircraftCount(20);
    EXPECT_EQ(host.Planes().activeCount, 4);
    XPLMReleasePlanes();
    XPLMReleasePlanes();  // nothing held any more: ignored, and recorded
    EXPECT_EQ(host.Planes().refused.back().call, "XPLMReleasePlanes: not held");

    // Another plug-in holds them until 2 s: refused, and told when they are free.
    host.HoldPlanesUntil(2);
    int told = 0;
    EXPECT_EQ(XPLMAcquirePlanes(nullptr, Available, &told), 0);
    host.RunFor(1.9);
    EXPECT_EQ(told, 0);
    host.RunFor(0.2);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(XPLMAcquirePlanes(nullptr, nullptr, nullptr), 1);
}

}  // namespace
