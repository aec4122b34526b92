// The plug-in module loaded by the headless host and taken through start, enable, disable and stop.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "XPStandardWidgets.h"
#include "core/UniqueId.h"
#include "simhost/Host.h"
#include "tests/support/FixtureServer.h"
#include "tests/support/Loopback.h"
#include "tests/support/Paths.h"
#include "tests/support/ScratchDir.h"

namespace {

const char kSettings[] = "Resources/plugins/svprefs.txt";
const char kMarker[] = "Resources/plugins/viewonly.txt";

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.Ok());
        simhost::TheHost().Reset();
        address = testsupport::UniqueLoopbackAddress();
        testsupport::PointPluginAt(address);
        std::string error;
        plugin = simhost::LoadedPlugin::Load(testsupport::PluginPath(), error);
        ASSERT_TRUE(plugin) << error;
    }
    void TearDown() override { plugin.reset(); }

    const simhost::MenuInfo *FindMenu(const std::vector<simhost::MenuInfo> &menus, const std::string &name) {
        for (const auto &menu : menus)
            if (menu.name == name) return &menu;
        return nullptr;
    }

    testsupport::ScratchDir dir;  // first in, last out: the plug-in resolves its files in here
    std::string address;
    std::unique_ptr<simhost::LoadedPlugin> plugin;
};

std::string ItemRefText(void *itemRef) { return itemRef ? std::string(static_cast<const char *>(itemRef)) : "(null)"; }

TEST_F(Lifecycle, StartEnableDisableStopAsTheSimulatorSeesIt) {
    simhost::Host &host = simhost::TheHost();
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());

    ASSERT_EQ(plugin->Start(), 1);
    EXPECT_EQ(plugin->Name(), "Skorvale");
    EXPECT_EQ(plugin->Description(), "A plugin that provides for high-res network play. (Alpha releases)");
    EXPECT_FALSE(plugin->Signature().empty());

    // The menu: Plugins > Skorvale > "Plane Window" with its two items and their text references.
    auto menus = host.Menus();
    const simhost::MenuInfo *planeMenu = FindMenu(menus, "Plane Window");
    ASSERT_NE(planeMenu, nullptr);
    EXPECT_EQ(planeMenu->parent, host.PluginsMenu());
    const simhost::MenuInfo *plugins = nullptr;
    for (const auto &menu : menus)
        if (menu.id == host.PluginsMenu()) plugins = &menu;
    ASSERT_NE(plugins, nullptr);
    ASSERT_GE(planeMenu->parentItem, 0);
    ASSERT_LT((size_t)planeMenu->parentItem, plugins->items.size());
    EXPECT_EQ(plugins->items[planeMenu->parentItem].name, "Skorvale");
    ASSERT_EQ(planeMenu->items.size(), 2u);
    EXPECT_EQ(planeMenu->items[0].name, "Control & Settings");
    EXPECT_EQ(ItemRefText(planeMenu->items[0].itemRef), "1");
    EXPECT_EQ(planeMenu->items[1].name, "Toggle Plane List");
    EXPECT_EQ(ItemRefText(planeMenu->items[1].itemRef), "2");

    // Both windows exist, hidden, the plane list below the chat window in the top-right corner.
    auto windows = host.Windows();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ((std::vector<int>{windows[0].left, windows[0].top, windows[0].right, windows[0].bottom}),
              (std::vector<int>{734, 408, 1004, 88}));
    EXPECT_EQ((std::vector<int>{windows[1].left, windows[1].top, windows[1].right, windows[1].bottom}),
              (std::vector<int>{504, 748, 1004, 428}));
    EXPECT_FALSE(windows[0].visible);
    EXPECT_FALSE(windows[1].visible);

    // Callbacks: three draw callbacks (airplanes, first scene, the labels before the windows), a key sniffer
    // after the windows, five flight loops due after 0.03, 10, 1, 1 and 0.1 seconds, and one for every frame
    // after the flight model.
    auto draws = host.DrawCallbacks();
    ASSERT_EQ(draws.size(), 3u);
    EXPECT_EQ(draws[0].phase, 25);
    EXPECT_EQ(draws[1].phase, 0);
    EXPECT_EQ(draws[2].phase, 50);
    EXPECT_FALSE(draws[0].before);
    EXPECT_FALSE(draws[1].before);
    EXPECT_TRUE(draws[2].before);
    ASSERT_EQ(host.KeySniffers().size(), 1u);
    EXPECT_FALSE(host.KeySniffers()[0].beforeWindows);
    auto loops = host.FlightLoops();
    ASSERT_EQ(loops.size(), 6u);
    EXPECT_TRUE(loops[5].frameBased);
    EXPECT_TRUE(loops[5].afterFlightModel);
    EXPECT_EQ(loops[5].nextFrame, host.FrameCount() + 1);
    const double firstDue[] = {0.03, 10.0, 1.0, 1.0, 0.1};
    for (size_t i = 0; i < 5; i++) {
        EXPECT_TRUE(loops[i].scheduled) << i;
        EXPECT_FALSE(loops[i].frameBased) << i;
        EXPECT_NEAR(loops[i].nextDeadline - host.Now(), firstDue[i], 1e-6) << i;
        EXPECT_EQ(loops[i].refcon, nullptr) << i;
    }

    // Enabled and disabled twice, offline: the multiplayer aircraft stay X-Plane's, its AI flies them.
    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(plugin->Enable(), 1);
        host.RunFor(0.5);
        simhost::PlanesInfo planes = host.Planes();
        EXPECT_FALSE(planes.acquired) << round;
        EXPECT_EQ(planes.holder, simhost::PlanesHolder::Nobody) << round;
        EXPECT_EQ(planes.activeCount, 20) << round;  // the AI's count
        EXPECT_TRUE(planes.aiDisabled.empty()) << round;
        EXPECT_EQ(planes.refusedCount, 0) << round;
        plugin->Disable();
        // Callbacks stay registered while disabled.
        EXPECT_EQ(host.FlightLoops().size(), 6u);
        EXPECT_EQ(host.DrawCallbacks().size(), 3u);
        host.RunFor(0.5);
    }
    // No settings file asked for a connection, so none was made.
    EXPECT_EQ(server.ConnectionCount(), 0u);

    plugin->Stop();
    EXPECT_TRUE(host.Windows().empty());
    EXPECT_EQ(FindMenu(host.Menus(), "Plane Window"), nullptr);
    EXPECT_TRUE(host.DrawCallbacks().empty());
    EXPECT_TRUE(host.KeySniffers().empty());
    EXPECT_TRUE(host.FlightLoops().empty());
    EXPECT_FALSE(host.Planes().acquired);
}

TEST_F(Lifecycle, EveryEnableReReadsTheSettingsAndConnectsWhenAsked) {
    simhost::Host &host = simhost::TheHost();
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    ASSERT_TRUE(dir.Write(kSettings, "userID=anna;connectAtStartup=0;"));
    // As X-Plane on macOS: colon paths unless the plug-in asks for native ones, which it must, or no
    // file it names would open.
    host.SetDirectorySeparator(":");
    ASSERT_EQ(plugin->Start(), 1);
    EXPECT_TRUE(host.FeatureEnabled("XPLM_USE_NATIVE_PATHS"));
    EXPECT_EQ(host.DirectorySeparator(), "/");
    ASSERT_EQ(plugin->Enable(), 1);
    host.RunFor(0.2);
    EXPECT_FALSE(server.WaitForConnections(1, 200));
    plugin->Disable();

    // Changed while running: the next enable connects, as the user named in the file now.
    ASSERT_TRUE(dir.Write(kSettings, "userID=anna;connectAtStartup=1;"));
    ASSERT_EQ(plugin->Enable(), 1);
    ASSERT_TRUE(server.WaitForStreamLines(1, 2000, 0));
    std::string opening = server.StreamBytes(0);
    size_t tag = opening.find("|Opening Connection|anna|");
    ASSERT_NE(tag, std::string::npos) << opening;
    const std::string id = opening.substr(0, tag);
    EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(opening.size(), tag + 25 + 32 + 2);

    // Disable logs out and closes the connection.
    plugin->Disable();
    ASSERT_TRUE(server.WaitForStreamClosed(2000, 0));
    std::string bytes = server.StreamBytes(0);
    ASSERT_GE(bytes.size(), opening.size());
    // Identity messages may come between; the logout is the last line.
    const std::string closing = id + "|Closing Connection\n";
    ASSERT_GE(bytes.size(), closing.size());
    EXPECT_EQ(bytes.substr(bytes.size() - closing.size()), closing);

    // A key the file no longer holds keeps its value; a changed one takes effect; each login has its own ID.
    ASSERT_TRUE(dir.Write(kSettings, "connectAtStartup=1;"));
    ASSERT_EQ(plugin->Enable(), 1);
    ASSERT_TRUE(server.WaitForStreamLines(1, 2000, 1));
    EXPECT_NE(server.StreamBytes(1).find("|Opening Connection|anna|"), std::string::npos);
    EXPECT_NE(server.StreamBytes(1).rfind(id + "|", 0), 0u);
    plugin->Disable();
    ASSERT_TRUE(dir.Write(kSettings, "userID=bob;connectAtStartup=1;"));
    ASSERT_EQ(plugin->Enable(), 1);
    ASSERT_TRUE(server.WaitForStreamLines(1, 2000, 2));
    EXPECT_NE(server.StreamBytes(2).find("|Opening Connection|bob|"), std::string::npos);

    // Stopping saves nothing: writing the file is the settings pane's business.
    plugin->Disable();
    plugin->Stop();
    EXPECT_EQ(dir.Read(kSettings), "userID=bob;connectAtStartup=1;");
}

// Pilots who start in the same second still log in under different IDs.
TEST(UniqueId, StartsInTheSameSecondDrawDifferentNonNegativeIds) {
    std::set<int> ids;
    for (int i = 0; i < 8; i++) {
        int id = DrawUniqueId();
        EXPECT_GE(id, 0);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 8u);
}

// The tag after the id of a location datagram: "LOC" or "VOLOC".
std::string LocationTag(const std::string &bytes) {
    size_t bar = bytes.find('|');
    if (bar == std::string::npos) return "";
    return bytes.substr(bar + 1, bytes.find_first_of("|0123456789-", bar + 1) - bar - 1);
}

std::set<int> SourcePorts(const testsupport::FixtureServer &server) {
    std::set<int> ports;
    for (const auto &datagram : server.Datagrams()) ports.insert(ntohs(datagram.source.sin_port));
    return ports;
}

std::string LatestLocationTag(const testsupport::FixtureServer &server) {
    auto datagrams = server.Datagrams();
    return datagrams.empty() ? "" : LocationTag(datagrams.back().bytes);
}

// A location datagram from the server for `slot`, at a place near the host's default start.
std::string LocationFor(int slot, const std::string &lat) {
    std::string text = std::to_string(slot) + "|l|10|20|30|" + lat + "|-122.3|150";
    for (int i = 0; i < 21; i++) text += "|0.5";
    text += "|1|0|1|0|1";
    for (int i = 0; i < 8; i++) text += "|0.25";
    return text + "|1.76509338e+09|123456";
}

TEST_F(Lifecycle, AircraftHeldByAnotherPlugInAreTakenWhenItLetsGo) {
    simhost::Host &host = simhost::TheHost();
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    ASSERT_TRUE(dir.Write(kSettings, "connectAtStartup=1;"));
    ASSERT_EQ(mkdir(dir.Path("Aircraft").c_str(), 0700), 0);
    ASSERT_TRUE(dir.Write("Aircraft/trainer.acf", "model"));
    host.HoldPlanesUntil(3.0);  // a traffic injector, say
    ASSERT_EQ(plugin->Start(), 1);
    ASSERT_EQ(plugin->Enable(), 1);
    ASSERT_TRUE(server.WaitForStreamLines(1, 2000));
    for (int i = 0; i < 40 && server.DatagramCount() == 0; i++) {
        host.RunFor(0.05);
        server.WaitForDatagrams(1, 20);
    }
    ASSERT_GT(server.DatagramCount(), 0u) << "the datagram path opens with the first location";

    // Traffic arrives while the aircraft are not ours: the tables take it, the simulator sees none of it.
    ASSERT_TRUE(server.SendStream("3|c|ANNA\n3|p|Aircraft/trainer.acf\n"));
    ASSERT_TRUE(server.SendDatagram(LocationFor(3, "47.47")));
    host.RunFor(0.5);
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFrame();
    bool named = false;
    for (const auto &s : host.LastFrame().strings) named = named || s.text.find("ANNA") != std::string::npos;
    EXPECT_TRUE(named) << "the plane list shows the traffic";
    // The status line (in the settings pane, whole) and Log.txt say why no traffic is drawn.
    auto paneStatus = [&] {
        std::string shown;
        for (XPWidgetID widget : host.Widgets()) {
            simhost::WidgetInfo info = host.Widget(widget).value();
            if (info.widgetClass == xpWidgetClass_Caption) shown += info.descriptor + " ";
        }
        return shown;
    };
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Control & Settings"}));
    host.RunFrame();
    EXPECT_NE(paneStatus().find("No traffic: \"Stand-in Traffic\" holds the aircraft"), std::string::npos)
        << paneStatus();
    std::vector<std::string> log = host.DebugLog();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "Skorvale: the multiplayer aircraft are held by \"Stand-in Traffic\": asked it to give them "
                        "up; no traffic is shown until it does\n"),
              log.end());
    simhost::PlanesInfo planes = host.Planes();
    EXPECT_FALSE(planes.acquired);
    EXPECT_EQ(planes.holder, simhost::PlanesHolder::OtherPlugIn);
    EXPECT_EQ(planes.models[3], "");
    EXPECT_EQ(planes.refusedCount, 0) << "nothing that needs the aircraft is even tried";
    EXPECT_EQ(host.GetDataRef("sim/multiplayer/position/plane3_x"), 0.0);

    // Let go at 3 s: taken at once, with the model already named for the slot; then traffic moves.
    host.RunFor(2.6);
    planes = host.Planes();
    EXPECT_TRUE(planes.acquired);
    EXPECT_EQ(planes.activeCount, 4) << "up to the one peer's aircraft";
    EXPECT_EQ(planes.aiDisabled, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
    EXPECT_EQ(planes.models[3], dir.Path("Aircraft/trainer.acf")) << "a full path, as X-Plane wants";
    EXPECT_EQ(planes.models[0], "") << "the user's own aircraft never gets a model";
    host.RunFrame();
    EXPECT_EQ(paneStatus().find("another plug-in"), std::string::npos) << paneStatus();
    ASSERT_TRUE(server.SendDatagram(LocationFor(3, "47.48")));
    for (int i = 0; i < 40 && host.GetDataRef("sim/multiplayer/position/plane3_x") == 0.0; i++) {
        host.RunFor(0.05);
        server.WaitForDatagrams(server.DatagramCount() + 1, 20);
    }
    EXPECT_NEAR(host.GetDataRef("sim/multiplayer/position/plane3_lat"), 47.48, 1e-4);

    // Disabled, the plug-in loses the aircraft, as in X-Plane; enabled, it takes them again.
    plugin->Disable();
    EXPECT_FALSE(host.Planes().acquired);
    ASSERT_EQ(plugin->Enable(), 1);
    EXPECT_TRUE(host.Planes().acquired);
    plugin->Disable();
    plugin->Stop();
}

TEST_F(Lifecycle, TheAircraftAreTakenOnlineOnlyAndKeptAgainstReleaseRequests) {
    simhost::Host &host = simhost::TheHost();
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    // The pilot lets X-Plane show five AI aircraft: the simulator offers six with the user's.
    host.SetAIAircraftCount(5);
    host.RequestPlanesReleaseAt(1.0);  // another plug-in asks for them while the plug-in is offline
    ASSERT_EQ(plugin->Start(), 1);
    ASSERT_EQ(plugin->Enable(), 1);
    host.RunFor(1.5);
    EXPECT_EQ(host.Planes().releaseRequests.size(), 1u);
    EXPECT_FALSE(host.Planes().acquired);
    for (int n = 1; n <= 5; n++) EXPECT_TRUE(host.Planes().AIFlies(n)) << n;

    // Logged in from the settings pane: taken at the login, the AI off in every slot.
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Control & Settings"}));
    ASSERT_TRUE(host.ClickWidget("Connect"));
    ASSERT_TRUE(server.WaitForStreamLines(1, 2000));
    simhost::PlanesInfo planes = host.Planes();
    EXPECT_TRUE(planes.acquired);
    EXPECT_EQ(planes.holder, simhost::PlanesHolder::PlugIn);
    EXPECT_NEAR(planes.heldSince, host.Now(), 1e-9);
    EXPECT_EQ(planes.activeCount, 1) << "no peer yet: only the user's aircraft";
    for (int n = 1; n <= 5; n++) EXPECT_FALSE(planes.AIFlies(n)) << n;

    // Online, a request to let go is refused: the network's pilots keep their slots.
    host.RequestPlanesReleaseAt(host.Now() + 0.5);
    host.RunFor(1.0);
    EXPECT_EQ(host.Planes().releaseRequests.size(), 2u);
    EXPECT_TRUE(host.Planes().acquired);

    // Named slots without a location are listed, and drawn nowhere.
    ASSERT_TRUE(server.SendStream("7|c|FAR\n5|c|NEAR\n"));
    host.RunFor(0.3);
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFrame();
    std::vector<std::string> rows = host.LastFrame().TextsIn(host.Windows()[0].id);
    ASSERT_EQ(rows.size(), 21u);
    rows.erase(rows.begin());  // the status line
    EXPECT_EQ(rows[5], "5: NEAR Plane 5");
    EXPECT_EQ(rows[7], "7: FAR Plane 7");
    EXPECT_EQ(host.Planes().activeCount, 1);

    // The server goes away: the aircraft go back at once, and X-Plane's AI flies them again.
    server.CloseStream(0);
    for (int i = 0; i < 50 && host.Planes().acquired; i++) host.RunFor(0.05);
    planes = host.Planes();
    EXPECT_FALSE(planes.acquired);
    EXPECT_EQ(planes.holder, simhost::PlanesHolder::Nobody);
    EXPECT_EQ(planes.activeCount, 6) << "the pilot's own count again";
    for (int n = 1; n <= 5; n++) EXPECT_TRUE(planes.AIFlies(n)) << n;
    plugin->Disable();
    plugin->Stop();
}

// Another traffic plug-in holds the aircraft when the pilot goes online: it is asked once per connection
// to let go and named in Log.txt; one that honours the request yields them at once.
TEST_F(Lifecycle, AnotherHolderIsAskedOnceAndNamed) {
    simhost::Host &host = simhost::TheHost();
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    host.SetOtherHolder(simhost::OtherHolder::Ignores);
    ASSERT_EQ(plugin->Start(), 1);
    ASSERT_EQ(plugin->Enable(), 1);
    host.RunFor(0.5);
    EXPECT_TRUE(host.Planes().holderAsked.empty()) << "offline, nobody is asked";
    auto connect = [&] {
        ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Control & Settings"}));
        ASSERT_TRUE(host.ClickWidget("Connect"));
        host.RunFor(1.0);
    };
    auto named = [&] {
        int lines = 0;
        for (const std::string &line : host.DebugLog())
            if (line.rfind("Skorvale: ", 0) == 0 && line.find("\"Stand-in Traffic\"") != std::string::npos) lines++;
        return lines;
    };
    connect();
    EXPECT_FALSE(host.Planes().acquired);
    EXPECT_EQ(host.Planes().holderAsked.size(), 1u);
    EXPECT_EQ(named(), 1);
    // The status line says who keeps the traffic away.
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFrame();
    std::vector<std::string> rows = host.LastFrame().TextsIn(host.Windows()[0].id);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].rfind("No traffic: \"Stand-in Traffic\"", 0), 0u) << rows[0];
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFor(5.0);
    EXPECT_EQ(host.Planes().holderAsked.size(), 1u) << "once per connection";
    ASSERT_TRUE(host.ClickWidget("Disconnect"));
    EXPECT_EQ(host.Planes().refusedCount, 0) << "nothing given back that was not held";
    connect();
    EXPECT_EQ(host.Planes().holderAsked.size(), 2u);

    // One that honours the request lets go in the next frame, and the plug-in takes the aircraft.
    ASSERT_TRUE(host.ClickWidget("Disconnect"));
    host.SetOtherHolder(simhost::OtherHolder::Honours);
    connect();
    EXPECT_EQ(host.Planes().holderAsked.size(), 3u);
    EXPECT_TRUE(host.Planes().acquired);
    EXPECT_EQ(host.Planes().holder, simhost::PlanesHolder::PlugIn);

    // Disabled with the chat open and typing: both windows go, and the keyboard goes back to X-Plane.
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFrame();
    EXPECT_EQ(host.LastFrame().TextsIn(host.Windows()[0].id)[0].find("holds the aircraft"), std::string::npos);
    ASSERT_TRUE(host.RunCommand("skorvale/toggle_chat"));
    host.RunFor(0.5);
    ASSERT_TRUE(host.Windows()[0].visible);
    ASSERT_TRUE(host.Windows()[1].visible);
    ASSERT_NE(host.WindowWithFocus(), nullptr);
    plugin->Disable();
    for (const simhost::WindowInfo &w : host.Windows()) EXPECT_FALSE(w.visible);
    EXPECT_EQ(host.WindowWithFocus(), nullptr);
    EXPECT_EQ(host.FocusToHiddenWindow(), 0);
    plugin->Stop();
}

TEST_F(Lifecycle, TheViewOnlyMarkerCountsFromTheNextEnableOnAndNeverStops) {
    simhost::Host &host = simhost::TheHost();
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    ASSERT_TRUE(dir.Write(kSettings, "connectAtStartup=1;"));
    ASSERT_EQ(plugin->Start(), 1);

    // Every enable connects anew, so its datagrams come from a socket (a source port) not seen before;
    // datagrams of the previous connection still on their way cannot be mistaken for them.
    auto locationTagAfterEnable = [&](const char *when) {
        std::set<int> earlier = SourcePorts(server);
        EXPECT_EQ(plugin->Enable(), 1) << when;
        std::string tag;
        for (int i = 0; i < 50 && tag.empty(); i++) {
            host.RunFor(0.1);
            server.WaitForDatagrams(server.DatagramCount() + 1, 20);
            for (const auto &datagram : server.Datagrams()) {
                if (!earlier.count(ntohs(datagram.source.sin_port))) tag = LocationTag(datagram.bytes);
            }
        }
        EXPECT_FALSE(tag.empty()) << when;
        plugin->Disable();
        return tag;
    };

    EXPECT_EQ(locationTagAfterEnable("no marker"), "LOC");
    // Created while enabled: nothing changes until the next enable.
    ASSERT_EQ(plugin->Enable(), 1);
    ASSERT_TRUE(dir.Write(kMarker, ""));
    size_t before = server.DatagramCount();
    host.RunFor(0.5);
    ASSERT_TRUE(server.WaitForDatagrams(before + 1, 1000));
    EXPECT_EQ(LatestLocationTag(server), "LOC");
    plugin->Disable();

    EXPECT_EQ(locationTagAfterEnable("empty marker"), "VOLOC");
    ASSERT_EQ(std::remove(dir.Path(kMarker).c_str()), 0);
    EXPECT_EQ(locationTagAfterEnable("marker deleted"), "VOLOC");
    plugin->Stop();
}

}  // namespace
