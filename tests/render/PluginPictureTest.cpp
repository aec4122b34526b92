// Pictures of the real plug-in in the headless host: its windows, its settings pane and the traffic it places.
#include <gtest/gtest.h>

#include <memory>

#include "simhost/render/Render.h"
#include "tests/render/PixelHelpers.h"
#include "tests/support/Loopback.h"
#include "tests/support/Paths.h"
#include "tests/support/ScratchDir.h"

namespace {

using rendertest::Differences;
using rendertest::Near;
using rendertest::Render;
using rendertest::Show;

class PluginPicture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.Ok());
        simhost::TheHost().Reset();
        testsupport::PointPluginAt(testsupport::UniqueLoopbackAddress());
        std::string error;
        plugin = simhost::LoadedPlugin::Load(testsupport::PluginPath(), error);
        ASSERT_TRUE(plugin) << error;
        ASSERT_EQ(plugin->Start(), 1);
        plugin->Enable();
        host.RunFrame();
    }
    void TearDown() override { plugin.reset(); }

    simhost::Scene Capture() { return simhost::CaptureScene(host, callsigns); }

    // The same moment with nothing drawn by the plug-in: the map alone.
    simhost::Image MapOnly(simhost::Scene scene) {
        scene.frame = simhost::FrameRecord{};
        scene.widgets.clear();
        return Render(scene);
    }

    simhost::WindowInfo ChatWindow() { return host.Windows().at(1); }  // created second

    testsupport::ScratchDir dir;
    simhost::Host &host = simhost::TheHost();
    std::unique_ptr<simhost::LoadedPlugin> plugin;
    simhost::Callsigns callsigns;
};

bool Inside(const rendertest::Bounds &b, const simhost::WindowInfo &w) {
    return !b.Empty() && b.left >= w.left && b.right <= w.right && b.bottom >= w.bottom && b.top <= w.top;
}

TEST_F(PluginPicture, ChatWindowShowsOnlyWhileItsOpacityIsAboveZero) {
    const char kTab = 9;
    // Closed: the chat window draws nothing, so the picture is the map alone.
    simhost::Scene closed = Capture();
    EXPECT_TRUE(Differences(MapOnly(closed), Render(closed)).empty());

    // Tab opens it; after the fade its box, history and entry line show, all inside its rectangle.
    host.PressKey(kTab, 0);
    host.RunFor(1.0);
    simhost::Scene open = Capture();
    simhost::Image map = MapOnly(open), picture = Render(open);
    simhost::WindowInfo chat = ChatWindow();
    ASSERT_TRUE(chat.visible);
    EXPECT_TRUE(Inside(rendertest::BoundsOf(Differences(map, picture)), chat));
    // An empty part of the box: the quad's grey at the full opacity over the map.
    const int x = (chat.left + chat.right) / 2, y = chat.top - 10;
    simhost::Rgba box = picture.At(x, y);
    EXPECT_TRUE(Near(box, rendertest::Over({0.1, 0.1, 0.1, 0.69}, map.At(x, y)))) << Show(box);
    // The focused frame is light: the left edge is brighter than the box inside it.
    EXPECT_GT(picture.At(chat.left, y).r, 0.7);

    // Tab releases the entry line, Tab again closes; once faded out the window is gone from the picture.
    host.PressKey(kTab, 0);
    host.PressKey(kTab, 0);
    host.RunFor(1.0);
    simhost::Scene faded = Capture();
    EXPECT_FALSE(host.Window(chat.id)->visible);
    EXPECT_TRUE(Differences(MapOnly(faded), Render(faded)).empty());
}

TEST_F(PluginPicture, PlaneListRowsAreReadForLabelsAndDrawnInsideTheList) {
    host.RunFrame();
    XPLMWindowID planeList = host.Windows().at(0).id;
    EXPECT_FALSE(simhost::ReadCallsigns(host.LastFrame(), planeList, callsigns));  // hidden: nothing drawn

    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFrame();
    callsigns[4] = "stale";
    ASSERT_TRUE(simhost::ReadCallsigns(host.LastFrame(), planeList, callsigns));
    EXPECT_EQ(callsigns[4], "");  // the rows read "4:  Plane 4": no callsign yet

    simhost::Scene scene = Capture();
    simhost::WindowInfo list = *host.Window(planeList);
    EXPECT_TRUE(Inside(rendertest::BoundsOf(Differences(MapOnly(scene), Render(scene))), list));
}

TEST_F(PluginPicture, TrafficIsTakenFromTheMultiplayerPositionRefs) {
    // Slot 5 placed 3 km east and 4 km north of the user; slot 6 left at the origin (never placed).
    const double ux = host.GetDataRef("sim/flightmodel/position/local_x");
    const double uz = host.GetDataRef("sim/flightmodel/position/local_z");
    ASSERT_TRUE(host.SetDataRef("sim/multiplayer/position/plane5_x", ux + 3000));
    ASSERT_TRUE(host.SetDataRef("sim/multiplayer/position/plane5_y", 500));
    ASSERT_TRUE(host.SetDataRef("sim/multiplayer/position/plane5_z", uz - 4000));
    ASSERT_TRUE(host.SetDataRef("sim/multiplayer/position/plane5_psi", 270));
    host.RunFrame();
    callsigns[5] = "Anna";
    simhost::Scene scene = Capture();
    ASSERT_EQ(scene.traffic.size(), 1u);
    EXPECT_EQ(scene.traffic[0].slot, 5);
    EXPECT_EQ(scene.traffic[0].callsign, "Anna");
    EXPECT_NEAR(scene.traffic[0].heading, 270, 1e-3);

    simhost::Image picture = Render(scene);
    double px, py;
    rendertest::Centroid(rendertest::PixelsOf(picture, simhost::style::kTrafficAircraft, 0.03), px, py);
    const double cx = scene.width / 2.0, cy = scene.height / 2.0;
    EXPECT_GT(px, cx + 20);
    EXPECT_NEAR((py - cy) / (px - cx), 4.0 / 3.0, 0.08);
}

TEST_F(PluginPicture, SettingsPaneShowsItsShownWidgetsOnly) {
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Control & Settings"}));
    host.RunFrame();
    simhost::Scene solo = Capture();
    ASSERT_FALSE(solo.widgets.empty());
    EXPECT_EQ(solo.widgets.front().info.descriptor, "Control & Settings");
    simhost::Image picture = Render(solo);

    auto fieldBeside = [&](const std::string &caption) { return host.Widget(host.FieldBesideCaption(caption)); };
    std::optional<simhost::WidgetInfo> user = fieldBeside("User ID:");
    ASSERT_TRUE(user);
    EXPECT_TRUE(Near(picture.At(user->right - 3, user->bottom + 1), simhost::style::kFieldBackground));
    // In solo mode the crew ID row is hidden: the sub-window shows where its field would be.
    XPWidgetID crewField = host.FieldBesideCaption("Crew ID:");
    ASSERT_NE(crewField, nullptr);
    std::optional<simhost::WidgetInfo> crew = host.Widget(crewField);
    EXPECT_TRUE(Near(picture.At(crew->right - 3, crew->bottom + 1), simhost::style::kWidgetSubWindow))
        << Show(picture.At(crew->right - 3, crew->bottom + 1));

    std::string error;
    ASSERT_TRUE(host.ClickWidget("Crewed", &error)) << error;
    host.RunFrame();
    picture = Render(Capture());
    EXPECT_TRUE(Near(picture.At(crew->right - 3, crew->bottom + 1), simhost::style::kFieldBackground));

    ASSERT_TRUE(host.ClickWidget("Cancel", &error)) << error;
    host.RunFrame();
    EXPECT_TRUE(Capture().widgets.empty());
}

}  // namespace
