// Drawing: callbacks phase by phase, windows in the window phase by z order, and the per-frame draw record.
#include <GL/gl.h>

#include <string>
#include <vector>

#include "HostFixture.h"
#include "XPLMDisplay.h"
#include "XPLMGraphics.h"

namespace {

using simhosttest::HostTest;

std::vector<std::string> order;

int Phase(XPLMDrawingPhase phase, int isBefore, void *refcon) {
    order.push_back(std::to_string(phase) + (isBefore ? "b" : "a") + (refcon ? static_cast<const char *>(refcon) : ""));
    return 1;
}

void DrawWindow(XPLMWindowID id, void *refcon) {
    order.push_back(std::string("w") + static_cast<const char *>(refcon));
    float green[3] = {0, 1, 0};
    int wrap = 120;
    char text[32];
    std::snprintf(text, sizeof text, "hello %s", static_cast<const char *>(refcon));
    int left, top;
    XPLMGetWindowGeometry(id, &left, &top, nullptr, nullptr);
    XPLMDrawString(green, left + 5, top - 20, text,
                   std::string(static_cast<const char *>(refcon)) == "1" ? &wrap : nullptr, 0);
    XPLMDrawTranslucentDarkBox(left, top, left + 10, top - 10);
}

int Unregistering(XPLMDrawingPhase, int, void *) {
    order.push_back("u");
    XPLMUnregisterDrawCallback(Unregistering, xplm_Phase_Airplanes, 0, nullptr);
    XPLMUnregisterDrawCallback(Phase, xplm_Phase_LastCockpit, 0, const_cast<char *>("late"));
    return 1;
}

TEST_F(HostTest, DrawCallbacksRunByPhaseBeforeThenAfterWithWindowsInTheWindowPhase) {
    host.SetXPlaneVersion(simhost::XPlaneVersion::XPlane11);
    order.clear();
    XPLMRegisterDrawCallback(Phase, xplm_Phase_LastCockpit, 0, const_cast<char *>("late"));
    XPLMRegisterDrawCallback(Phase, xplm_Phase_Airplanes, 0, nullptr);
    XPLMRegisterDrawCallback(Phase, xplm_Phase_Window, 1, nullptr);
    XPLMRegisterDrawCallback(Phase, xplm_Phase_Window, 0, nullptr);
    XPLMRegisterDrawCallback(Phase, xplm_Phase_FirstScene, 0, nullptr);
    XPLMRegisterDrawCallback(Phase, xplm_Phase_Airplanes, 1, nullptr);
    XPLMCreateWindow(0, 100, 100, 0, 1, DrawWindow, nullptr, nullptr, const_cast<char *>("1"));
    XPLMCreateWindow(50, 150, 150, 50, 1, DrawWindow, nullptr, nullptr, const_cast<char *>("2"));
    XPLMCreateWindow(50, 150, 150, 50, 0, DrawWindow, nullptr, nullptr, const_cast<char *>("hidden"));
    host.RunFrame();
    EXPECT_EQ(order, (std::vector<std::string>{"0a", "25b", "25a", "50b", "w1", "w2", "50a", "55alate"}));

    // Unregistering inside a callback: itself and one later in the same frame.
    order.clear();
    XPLMRegisterDrawCallback(Unregistering, xplm_Phase_Airplanes, 0, nullptr);
    host.RunFrame();
    host.RunFrame();
    EXPECT_EQ(std::count(order.begin(), order.end(), "u"), 1);
    EXPECT_EQ(std::count(order.begin(), order.end(), "55alate"), 0);
    EXPECT_EQ(XPLMUnregisterDrawCallback(Unregistering, xplm_Phase_Airplanes, 0, nullptr), 0);
    EXPECT_EQ(host.DrawCallbacks().size(), 5u);

    // X-Plane 12 accepts callbacks for the 3-D phases and never calls them; 2-D drawing goes on.
    host.SetXPlaneVersion(simhost::XPlaneVersion::XPlane12);
    EXPECT_EQ(XPLMRegisterDrawCallback(Phase, xplm_Phase_Objects, 0, nullptr), 1);
    order.clear();
    host.RunFrame();
    EXPECT_EQ(order, (std::vector<std::string>{"50b", "w1", "w2", "50a"}));
}

TEST_F(HostTest, DrawRecordTellsWhatEachWindowShowedInTheLastFrame) {
    XPLMWindowID one = XPLMCreateWindow(0, 100, 100, 0, 1, DrawWindow, nullptr, nullptr, const_cast<char *>("1"));
    XPLMWindowID two = XPLMCreateWindow(50, 150, 150, 50, 1, DrawWindow, nullptr, nullptr, const_cast<char *>("2"));
    host.RunFrame();
    const simhost::FrameRecord &frame = host.LastFrame();
    EXPECT_EQ(frame.frame, 1);
    ASSERT_EQ(frame.StringsIn(one).size(), 1u);
    simhost::DrawnString s = frame.StringsIn(one)[0];
    EXPECT_EQ(s.text, "hello 1");
    EXPECT_EQ(s.x, 5);
    EXPECT_EQ(s.y, 80);
    EXPECT_EQ(s.rgb[1], 1.0f);
    ASSERT_TRUE(s.wrapWidth.has_value());
    EXPECT_EQ(*s.wrapWidth, 120);
    EXPECT_FALSE(frame.StringsIn(two)[0].wrapWidth.has_value());
    EXPECT_EQ(frame.TextsIn(two), std::vector<std::string>{"hello 2"});
    ASSERT_EQ(frame.boxes.size(), 2u);
    EXPECT_EQ(frame.boxes[1].window, two);
    EXPECT_TRUE(frame.HasText("hello 2"));

    XPLMSetWindowIsVisible(two, 0);
    host.RunFrame();
    EXPECT_TRUE(host.LastFrame().StringsIn(two).empty()) << "a hidden window draws nothing";
    EXPECT_EQ(host.LastFrame().windowsDrawn, std::vector<XPLMWindowID>{one});
    XPLMDestroyWindow(one);
    XPLMDestroyWindow(one);  // twice: harmless
    host.RunFrame();
    EXPECT_TRUE(host.LastFrame().strings.empty());
}

void GlWindow(XPLMWindowID, void *) {
    XPLMSetGraphicsState(0, 0, 1, 0, 1, 0, 0);
    glColor4f(0.1f, 0.1f, 0.1f, 0.5f);
    glBegin(GL_QUADS);
    glVertex2f(10, 0);
    glVertex2f(0, 0);
    glColor4f(1, 1, 1, 0.75f);
    glVertex2f(0, 10);
    glVertex2f(10, 10);
    glEnd();
    glVertex2f(99, 99);  // outside a block: ignored, as by GL
    glBegin(GL_LINES);
    glVertex2f(1, 2);
    glVertex2f(3, 4);
    glEnd();
}

TEST_F(HostTest, GlBlocksKeepTheirModeVerticesAndColourPerVertex) {
    XPLMWindowID w = XPLMCreateWindow(0, 100, 100, 0, 1, GlWindow, nullptr, nullptr, nullptr);
    host.RunFrame();
    const simhost::FrameRecord &frame = host.LastFrame();
    ASSERT_EQ(frame.graphicsStates.size(), 1u);
    EXPECT_EQ(frame.graphicsStates[0].lighting, 1);
    EXPECT_EQ(frame.graphicsStates[0].alphaBlending, 1);
    EXPECT_EQ(frame.graphicsStates[0].window, w);
    // Lighting inside a window is what X-Plane asks plug-ins never to do: counted once per call.
    EXPECT_EQ(host.FogOrLightingIn2D(), 1);
    ASSERT_EQ(frame.primitives.size(), 2u);
    EXPECT_EQ(frame.primitives[0].mode, static_cast<unsigned>(GL_QUADS));
    ASSERT_EQ(frame.primitives[0].vertices.size(), 4u);
    EXPECT_EQ(frame.primitives[0].vertices[0].x, 10.0f);
    EXPECT_EQ(frame.primitives[0].vertices[1].rgba[3], 0.5f);
    EXPECT_EQ(frame.primitives[0].vertices[2].rgba[3], 0.75f);
    EXPECT_EQ(frame.primitives[1].mode, static_cast<unsigned>(GL_LINES));
    EXPECT_EQ(frame.primitives[1].vertices.size(), 2u);
    EXPECT_EQ(frame.primitives[1].vertices[0].rgba[0], 1.0f) << "colour carries over between blocks";
}

}  // namespace
