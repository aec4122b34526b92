// Pictures of hand-made frames: boxes, GL shapes, strings and widgets land where and how they were asked.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "XPLMInstance.h"
#include "XPStandardWidgets.h"
#include "simhost/render/Text.h"
#include "tests/render/PixelHelpers.h"
#include "tests/support/Paths.h"

namespace {

using rendertest::Differences;
using rendertest::Near;
using rendertest::Over;
using rendertest::Render;
using rendertest::Show;
using simhost::Rgba;

XPLMWindowID Win(uintptr_t n) { return reinterpret_cast<XPLMWindowID>(n); }

simhost::GlPrimitive Shape(XPLMWindowID window, unsigned mode, const Rgba &c, std::vector<std::pair<float, float>> at) {
    simhost::GlPrimitive p;
    p.window = window;
    p.mode = mode;
    for (auto [x, y] : at) {
        simhost::GlVertex v;
        v.x = x;
        v.y = y;
        v.rgba[0] = static_cast<float>(c.r);
        v.rgba[1] = static_cast<float>(c.g);
        v.rgba[2] = static_cast<float>(c.b);
        v.rgba[3] = static_cast<float>(c.a);
        p.vertices.push_back(v);
    }
    return p;
}

simhost::GraphicsStateCall Blending(XPLMWindowID window, bool on) {
    simhost::GraphicsStateCall g;
    g.window = window;
    g.lighting = 1;
    g.alphaBlending = on ? 1 : 0;
    return g;
}

simhost::DrawnString Text(XPLMWindowID window, int x, int y, const std::string &text, const Rgba &c,
                          std::optional<int> wrap = std::nullopt) {
    simhost::DrawnString s;
    s.window = window;
    s.x = x;
    s.y = y;
    s.text = text;
    s.rgb[0] = static_cast<float>(c.r);
    s.rgb[1] = static_cast<float>(c.g);
    s.rgb[2] = static_cast<float>(c.b);
    s.wrapWidth = wrap;
    return s;
}

TEST(FrameRender, BoxesAndGlShapesBlendOverTheMapInWindowOrder) {
    simhost::Scene empty;
    simhost::Image map = Render(empty);
    ASSERT_EQ(map.width, 1024);
    ASSERT_EQ(map.height, 768);

    simhost::Scene scene;
    simhost::FrameRecord &f = scene.frame;
    f.windowsDrawn = {Win(1), Win(2), Win(3)};
    f.boxes.push_back({Win(1), 100, 700, 300, 600});
    // The chat window's own box: translucent quad, then a white frame at the focused alpha.
    const Rgba quad{0.1, 0.1, 0.1, 0.69}, frame{1, 1, 1, 0.845};
    f.graphicsStates.push_back(Blending(Win(2), true));
    f.primitives.push_back(Shape(Win(2), GL_QUADS, quad, {{900, 100}, {700, 100}, {700, 300}, {900, 300}}));
    f.primitives.push_back(Shape(Win(2), GL_LINES, frame, {{900, 100}, {700, 100}, {700, 100}, {700, 300}}));
    // A later window without blending paints its colour as it is, over the earlier one.
    f.graphicsStates.push_back(Blending(Win(3), false));
    f.primitives.push_back(
        Shape(Win(3), GL_QUADS, {0.9, 0.2, 0.2, 0.3}, {{850, 250}, {950, 250}, {950, 350}, {850, 350}}));
    simhost::Image image = Render(scene);

    Rgba box = image.At(200, 650);
    EXPECT_TRUE(Near(box, Over(simhost::style::kDarkBoxFill, map.At(200, 650)))) << Show(box);
    Rgba inside = image.At(800, 200);
    EXPECT_TRUE(Near(inside, Over(quad, map.At(800, 200)))) << Show(inside);
    // The bottom edge runs along the quad's lowest row, the left edge up its first column.
    Rgba edge = image.At(800, 100);
    EXPECT_TRUE(Near(edge, Over(frame, Over(quad, map.At(800, 100))))) << Show(edge);
    EXPECT_TRUE(Near(image.At(700, 200), Over(frame, Over(quad, map.At(700, 200))))) << Show(image.At(700, 200));
    // Just outside the quad the map is untouched.
    EXPECT_TRUE(Near(image.At(800, 99), map.At(800, 99)));
    EXPECT_TRUE(Near(image.At(699, 200), map.At(699, 200)));
    EXPECT_TRUE(Near(image.At(901, 200), map.At(901, 200)));
    // Window 3 drew last and without blending: its exact colour, over window 2's quad as well.
    EXPECT_TRUE(Near(image.At(875, 275), Rgba{0.9, 0.2, 0.2, 1})) << Show(image.At(875, 275));
    EXPECT_TRUE(Near(image.At(940, 340), Rgba{0.9, 0.2, 0.2, 1}));
}

TEST(FrameRender, StringsSitOnTheirBaselineInTheirColourAndWrapAtTheWidth) {
    simhost::Scene base;
    base.frame.windowsDrawn = {Win(1)};
    base.frame.boxes.push_back({Win(1), 100, 600, 400, 300});
    simhost::Image before = Render(base);

    simhost::Scene one = base;
    one.frame.strings.push_back(Text(Win(1), 105, 580, "Network Traffic:", {0.5, 1.0, 0.5}));
    std::vector<rendertest::Point> drawn = Differences(before, Render(one));
    ASSERT_FALSE(drawn.empty());
    rendertest::Bounds b = rendertest::BoundsOf(drawn);
    // Glyphs stand on the baseline (descenders a few pixels below it), start at x, stay in the window.
    EXPECT_GE(b.left, 105);
    EXPECT_LE(b.right, 105 + 16 * 8);
    EXPECT_GE(b.bottom, 580 - 4);
    EXPECT_LE(b.top, 580 + 12);
    EXPECT_GE(b.top, 580 + 6);  // capitals reach well above the baseline: text is not hung below it
    // The most covered pixel shows the string's colour: green well above red and blue.
    simhost::Image image = Render(one);
    Rgba brightest{0, 0, 0, 1};
    for (const rendertest::Point &p : drawn)
        if (image.At(p.x, p.y).g > brightest.g) brightest = image.At(p.x, p.y);
    EXPECT_GT(brightest.g, 0.6) << Show(brightest);
    EXPECT_GT(brightest.g - brightest.r, 0.2) << Show(brightest);
    EXPECT_GT(brightest.g - brightest.b, 0.2) << Show(brightest);

    // Wrapped at 100 pixels: three lines going down, none wider than the wrap width.
    simhost::Scene wrapped = base;
    wrapped.frame.strings.push_back(
        Text(Win(1), 105, 500, "alpha beta gamma delta epsilon zeta", {1, 1, 1}, std::optional<int>(100)));
    std::vector<rendertest::Point> lines = Differences(before, Render(wrapped));
    b = rendertest::BoundsOf(lines);
    EXPECT_LE(b.right, 105 + 100);
    EXPECT_LT(b.bottom, 500 - 2 * 14 + 1);  // the third line's baseline is two line heights down
    EXPECT_GE(b.bottom, 500 - 2 * 14 - 4);
    // Unwrapped, the same text runs on to the right on one line.
    simhost::Scene flat = base;
    flat.frame.strings.push_back(Text(Win(1), 105, 500, "alpha beta gamma delta epsilon zeta", {1, 1, 1}));
    b = rendertest::BoundsOf(Differences(before, Render(flat)));
    EXPECT_GT(b.right, 105 + 200);
    EXPECT_GE(b.bottom, 500 - 4);
}

TEST(FrameRender, MalformedInputNeitherFailsNorSpoilsWhatIsDrawnAfterIt) {
    simhost::Scene scene;
    simhost::FrameRecord &f = scene.frame;
    f.windowsDrawn = {Win(1), Win(2)};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Bytes that are no UTF-8, control characters, an endless line, NaN and far-off vertices.
    f.strings.push_back(Text(Win(1), 10, 10, "\xff\xfe bad \xc3 \x01\x1b", {1, 1, 1}));
    f.strings.push_back(Text(Win(1), 10, 700, std::string(200000, 'w'), {1, 1, 1}, std::optional<int>(300)));
    f.strings.push_back(Text(Win(1), 10, 30, "x", {nan, 2, -1}, std::optional<int>(-5)));
    f.primitives.push_back(Shape(Win(1), GL_QUADS, {1, 0, 0, 1}, {{nan, 0}, {1e30f, 5}, {-1e30f, 1e30f}, {0, 0}}));
    f.primitives.push_back(Shape(Win(1), GL_LINES, {1, 0, 0, 1}, {{0, 0}}));  // half a line
    f.primitives.push_back(Shape(Win(1), 0x7777, {1, 0, 0, 1}, {{0, 0}, {5, 5}, {9, 9}}));
    f.boxes.push_back({Win(1), 500, 100, 400, 200});  // given inside out
    f.boxes.push_back({Win(2), 600, 300, 700, 200});
    simhost::Image image;
    std::string error;
    ASSERT_TRUE(simhost::RenderScene(scene, image, error)) << error;
    simhost::Scene mapOnly;
    simhost::Image map = Render(mapOnly);
    // The later window's box still shows, so the context survived the bad text.
    EXPECT_TRUE(Near(image.At(650, 250), Over(simhost::style::kDarkBoxFill, map.At(650, 250))));
    EXPECT_TRUE(Near(image.At(450, 150), Over(simhost::style::kDarkBoxFill, map.At(450, 150))));

    simhost::Scene tiny;
    tiny.width = 0;
    EXPECT_FALSE(simhost::RenderScene(tiny, image, error));
    EXPECT_NE(error.find("0 x 768"), std::string::npos) << error;
}

TEST(FrameRender, TextIsMadeSafeAndWrappedAtBlanks) {
    using simhost::ToCharacters;
    EXPECT_EQ(ToCharacters("\xc3\x85sa"), (std::vector<std::string>{"\xc3\x85", "s", "a"}));
    EXPECT_EQ(ToCharacters("a\xff\tb"), (std::vector<std::string>{"a", "?", "?", "b"}));
    EXPECT_EQ(ToCharacters("\xc0\xaf"), (std::vector<std::string>{"?", "?"}));           // overlong '/'
    EXPECT_EQ(ToCharacters("\xed\xa0\x80"), (std::vector<std::string>{"?", "?", "?"}));  // a surrogate
    EXPECT_EQ(ToCharacters("\xe2\x82"), (std::vector<std::string>{"?", "?"}));           // cut short
    EXPECT_EQ(ToCharacters("\xf0\x9f\x9b\xa9!"), (std::vector<std::string>{"\xf0\x9f\x9b\xa9", "!"}));
    EXPECT_EQ(ToCharacters(std::string(50, 'a'), 7).size(), 7u);

    auto wrap = [](const std::string &text, size_t width) {
        return simhost::WrapCharacters(ToCharacters(text), width);
    };
    EXPECT_EQ(wrap("alpha beta gamma", 10), (std::vector<std::string>{"alpha beta", "gamma"}));
    EXPECT_EQ(wrap("alpha beta gamma", 11), (std::vector<std::string>{"alpha beta", "gamma"}));
    EXPECT_EQ(wrap("abcdefghij", 4), (std::vector<std::string>{"abcd", "efgh", "ij"}));
    EXPECT_EQ(wrap("ab    cd", 3), (std::vector<std::string>{"ab", "cd"}));
    EXPECT_EQ(wrap("", 5), (std::vector<std::string>{""}));
    EXPECT_EQ(wrap("abc", 0), (std::vector<std::string>{"a", "b", "c"}));
}

// The traffic nearest the user decides nothing by itself: every aircraft fits, north is up, east right.
TEST(FrameRender, TrafficSymbolsStandWhereTheirLocalPositionsPut) {
    simhost::Scene scene;
    scene.userX = 1000;
    scene.userZ = 2000;
    scene.traffic.push_back({3, 2000, 2000, 0, "Anna"});  // 1 km east
    scene.traffic.push_back({7, 1000, 0, 0, ""});         // 2 km north (-Z)
    simhost::Image image = Render(scene);
    const double cx = scene.width / 2.0, cy = scene.height / 2.0;

    std::vector<rendertest::Point> east, north, other;
    for (const rendertest::Point &p : rendertest::PixelsOf(image, simhost::style::kTrafficAircraft, 0.03)) {
        if (p.x > cx + 20 && std::fabs(p.y - cy) < 20)
            east.push_back(p);
        else if (p.y > cy + 20 && std::fabs(p.x - cx) < 20)
            north.push_back(p);
        else
            other.push_back(p);
    }
    ASSERT_FALSE(east.empty());
    ASSERT_FALSE(north.empty());
    EXPECT_TRUE(other.empty()) << other.size() << " traffic pixels elsewhere, e.g. " << other[0].x << "," << other[0].y;
    double ex, ey, nx, ny;
    rendertest::Centroid(east, ex, ey);
    rendertest::Centroid(north, nx, ny);
    EXPECT_NEAR(ey, cy, 2.5);
    EXPECT_NEAR(nx, cx, 2.5);
    EXPECT_NEAR((ny - cy) / (ex - cx), 2.0, 0.1);  // twice as far, at one scale

    // The user's own symbol marks the centre.
    double ux, uy;
    rendertest::Centroid(rendertest::PixelsOf(image, simhost::style::kUserAircraft, 0.03), ux, uy);
    EXPECT_NEAR(ux, cx, 2.5);
    EXPECT_NEAR(uy, cy, 2.5);

    // A far aircraft widens the range until it fits on the screen, in its own direction (south-west).
    simhost::Scene far;
    far.traffic.push_back({12, -30000, 30000, 225, ""});
    image = Render(far);
    std::vector<rendertest::Point> symbol = rendertest::PixelsOf(image, simhost::style::kTrafficAircraft, 0.03);
    ASSERT_FALSE(symbol.empty());
    double fx, fy;
    rendertest::Centroid(symbol, fx, fy);
    EXPECT_LT(fx, cx - 100);
    EXPECT_LT(fy, cy - 100);
    EXPECT_NEAR(cx - fx, cy - fy, 3);
    EXPECT_GT(fx, 10);
    EXPECT_GT(fy, 10);
}

simhost::WidgetView MakeWidget(XPWidgetClass cls, const std::string &text, int l, int t, int r, int b) {
    simhost::WidgetView w;
    w.info.widgetClass = cls;
    w.info.descriptor = text;
    w.info.left = l;
    w.info.top = t;
    w.info.right = r;
    w.info.bottom = b;
    w.info.visible = w.info.shown = true;
    return w;
}

TEST(FrameRender, WidgetsShowTheirClassTextAndState) {
    simhost::Scene pane;
    pane.widgets.push_back(MakeWidget(xpWidgetClass_MainWindow, "", 100, 600, 400, 300));
    pane.widgets.push_back(MakeWidget(xpWidgetClass_SubWindow, "", 120, 560, 380, 320));
    simhost::Image bare = Render(pane);
    EXPECT_TRUE(Near(bare.At(110, 400), simhost::style::kWidgetWindow));
    EXPECT_TRUE(Near(bare.At(200, 590), simhost::style::kWidgetTitleBar));
    EXPECT_TRUE(Near(bare.At(200, 400), simhost::style::kWidgetSubWindow));

    auto changed = [&](const simhost::WidgetView &w) {
        simhost::Scene s = pane;
        s.widgets.push_back(w);
        return rendertest::BoundsOf(Differences(bare, Render(s)));
    };
    auto within = [](const rendertest::Bounds &b, int l, int t, int r, int bottom) {
        return !b.Empty() && b.left >= l && b.right <= r && b.bottom >= bottom && b.top <= t;
    };

    // A long field text is kept inside its field.
    simhost::WidgetView field = MakeWidget(xpWidgetClass_TextField, std::string(80, 'W'), 200, 500, 310, 488);
    EXPECT_TRUE(within(changed(field), 200, 500, 309, 488));
    // In password mode the text is hidden: two passwords of one length look alike, plain texts do not.
    simhost::WidgetView secret = field, other = field;
    secret.info.descriptor = "secret";
    other.info.descriptor = "abcdef";
    auto picture = [&](const simhost::WidgetView &w) {
        simhost::Scene s = pane;
        s.widgets.push_back(w);
        return Render(s);
    };
    EXPECT_FALSE(Differences(picture(secret), picture(other)).empty());
    secret.passwordMode = other.passwordMode = true;
    EXPECT_TRUE(Differences(picture(secret), picture(other)).empty());
    simhost::WidgetView shorter = secret;
    shorter.info.descriptor = "abc";
    EXPECT_FALSE(Differences(picture(secret), picture(shorter)).empty());

    // Radio and check buttons show their state in the mark; the caption beside it does not change.
    for (int behaviour : {xpButtonBehaviorRadioButton, xpButtonBehaviorCheckBox}) {
        simhost::WidgetView off = MakeWidget(xpWidgetClass_Button, "Solo", 200, 450, 210, 438);
        off.buttonType = xpRadioButton;
        off.buttonBehavior = behaviour;
        simhost::WidgetView on = off;
        on.buttonState = 1;
        rendertest::Bounds mark = rendertest::BoundsOf(Differences(picture(off), picture(on)));
        EXPECT_TRUE(within(mark, 200, 450, 210, 438)) << "behaviour " << behaviour;
        EXPECT_TRUE(within(changed(off), 200, 450, 260, 434)) << "behaviour " << behaviour;
    }
    // A push button and a caption draw their text within their row.
    simhost::WidgetView button = MakeWidget(xpWidgetClass_Button, "Apply", 225, 340, 270, 328);
    rendertest::Bounds pushed = changed(button);
    EXPECT_TRUE(within(pushed, 225, 340, 269, 325))  // descenders may dip below the row
        << pushed.left << " " << pushed.top << " " << pushed.right << " " << pushed.bottom;
    simhost::WidgetView caption = MakeWidget(xpWidgetClass_Caption, "User ID:", 140, 510, 240, 498);
    EXPECT_TRUE(within(changed(caption), 140, 512, 240, 496));
}

}  // namespace

namespace {

float NoValue(void *) { return 0; }

// Pixels of the picture that are neither sky nor ground: what the instanced aircraft cover.
long AircraftPixels(const simhost::Image &image) {
    long n = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            simhost::Rgba c = image.At(x, y);
            if (!Near(c, simhost::style::kSky, 0.02) && !Near(c, simhost::style::kGround, 0.02)) ++n;
        }
    return n;
}

}  // namespace

// The generated airliner as an instance 150 m ahead of the user: drawn through the published camera,
// in front of the sky where the map would be; the same aircraft behind the user is not drawn.
TEST(FrameRender, InstancesAreDrawnFromTheirModelThroughTheCamera) {
    simhost::Host &host = simhost::TheHost();
    host.Reset();
    host.SetSystemPath(testsupport::ModelsDir());
    const char *refs[] = {
        "skorvale/traffic/gear",   "skorvale/traffic/prop_deg", "skorvale/traffic/nav",  "skorvale/traffic/beacon",
        "skorvale/traffic/strobe", "skorvale/traffic/landing",  "skorvale/traffic/taxi", nullptr};
    std::vector<XPLMDataRef> published;
    for (int i = 0; refs[i]; ++i)
        published.push_back(XPLMRegisterDataAccessor(refs[i], xplmType_Float, 0, nullptr, nullptr, NoValue, nullptr,
                                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                     nullptr, nullptr, nullptr));
    XPLMObjectRef object = XPLMLoadObject("narrow_body.obj");
    ASSERT_NE(object, nullptr) << host.Instancing().loadProblems.at(0);
    XPLMInstanceRef instance = XPLMCreateInstance(object, refs);
    host.RunFrame();
    const double heading = host.Heading() * 3.14159265358979 / 180;
    const float ux = static_cast<float>(host.GetDataRef("sim/flightmodel/position/local_x"));
    const float uy = static_cast<float>(host.GetDataRef("sim/flightmodel/position/local_y"));
    const float uz = static_cast<float>(host.GetDataRef("sim/flightmodel/position/local_z"));
    auto place = [&](float metresAhead) {
        XPLMDrawInfo_t at = {sizeof(XPLMDrawInfo_t),
                             ux + metresAhead * static_cast<float>(std::sin(heading)),
                             uy,
                             uz - metresAhead * static_cast<float>(std::cos(heading)),
                             0,
                             90,
                             0};
        float data[7] = {1, 0, 1, 0, 0, 0, 0};
        XPLMInstanceSetPosition(instance, &at, data);
        host.RunFrame();
        return simhost::CaptureScene(host, simhost::Callsigns{});
    };

    simhost::Scene ahead = place(150);
    ASSERT_FALSE(ahead.instanceTriangles.empty());
    simhost::Image picture = Render(ahead);
    EXPECT_TRUE(Near(picture.At(5, picture.height - 5), simhost::style::kSky, 0.02)) << "the view, not the map";
    std::vector<rendertest::Point> covered;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (!Near(picture.At(x, y), simhost::style::kSky, 0.02) &&
                !Near(picture.At(x, y), simhost::style::kGround, 0.02))
                covered.push_back({x, y});
    ASSERT_GT(covered.size(), 2000u) << "a 38 m airliner broadside at 150 m fills a good part of the view";
    double cx, cy;
    rendertest::Centroid(covered, cx, cy);
    EXPECT_NEAR(cx, picture.width / 2.0, 30) << "straight ahead";

    EXPECT_EQ(AircraftPixels(Render(place(-150))), 0) << "behind the camera";
    XPLMDestroyInstance(instance);
    XPLMUnloadObject(object);
    for (XPLMDataRef ref : published) XPLMUnregisterDataAccessor(ref);
    host.Reset();
}
