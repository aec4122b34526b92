// The chat window as a user sees it: Tab, typing, sending, the fade and the history of received lines.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/FixtureServer.h"
#include "tests/support/Loopback.h"
#include "tests/ui/UiFixture.h"

namespace uitest {
namespace {

using simhost::DrawnString;

// The entry line is the last string drawn in the chat window while it shows its text.
std::string EntryLine(const std::vector<DrawnString> &strings) { return strings.empty() ? "" : strings.back().text; }

class ChatWindowTest : public UiTest {};

TEST_F(ChatWindowTest, TabFadesTheWindowInAndOutInTenSteps) {
    Start();
    host.RunFor(0.2);
    EXPECT_FALSE(Geometry(imReadWin).visible);
    EXPECT_EQ(ChatAlpha(), -1.0f);

    // The keyboard follows once the window shows, never to the hidden window.
    host.PressKey(kTab, 0);
    EXPECT_EQ(host.WindowWithFocus(), nullptr);
    host.RunFrame();
    EXPECT_EQ(host.WindowWithFocus(), imReadWin);
    EXPECT_EQ(host.FocusToHiddenWindow(), 0);
    EXPECT_TRUE(Geometry(imReadWin).visible);
    EXPECT_FLOAT_EQ(ChatAlpha(), 0.069f);
    host.RunFrames(9);
    EXPECT_EQ(ChatAlpha(), 0.69f);  // exactly: ten single-precision steps land on it
    host.RunFrames(3);
    EXPECT_EQ(ChatAlpha(), 0.69f);

    // The box: a dark quad and a white border while the entry line has the focus.
    simhost::WindowInfo w = Geometry(imReadWin);
    EXPECT_EQ(w.left, 1024 - 20 - 500);
    EXPECT_EQ(w.top, 768 - 20);
    float l = (float)w.left, t = (float)w.top, r = (float)w.right, b = (float)w.bottom;
    simhost::GlPrimitive quad = Primitive(imReadWin, GL_QUADS);
    ASSERT_EQ(quad.vertices.size(), 4u);
    const float quadCorners[4][2] = {{r, b}, {l, b}, {l, t}, {r, t}};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(quad.vertices[i].x, quadCorners[i][0]);
        EXPECT_EQ(quad.vertices[i].y, quadCorners[i][1]);
        EXPECT_FLOAT_EQ(quad.vertices[i].rgba[0], 0.1f);
    }
    simhost::GlPrimitive border = Primitive(imReadWin, GL_LINES);
    ASSERT_EQ(border.vertices.size(), 8u);
    const float lineEnds[8][2] = {{r, b}, {l, b}, {l, b}, {l, t}, {l, t}, {r, t}, {r, t}, {r, b}};
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(border.vertices[i].x, lineEnds[i][0]);
        EXPECT_EQ(border.vertices[i].y, lineEnds[i][1]);
    }
    EXPECT_EQ(border.vertices[0].rgba[0], 1.0f);
    EXPECT_FLOAT_EQ(border.vertices[0].rgba[3], 0.845f);
    ASSERT_FALSE(host.LastFrame().graphicsStates.empty());
    const simhost::GraphicsStateCall &g = host.LastFrame().graphicsStates.back();
    EXPECT_EQ(std::vector<int>(
                  {g.fog, g.texUnits, g.lighting, g.alphaTesting, g.alphaBlending, g.depthTesting, g.depthWriting}),
              std::vector<int>({0, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(host.FogOrLightingIn2D(), 0);

    // Fourteen empty history lines and the entry line with its blinking cursor.
    std::vector<DrawnString> strings = Strings(imReadWin);
    ASSERT_EQ(strings.size(), 15u);
    for (int k = 0; k < 14; k++) {
        EXPECT_EQ(strings[k].y, w.bottom + 300 - 20 * k);
        EXPECT_EQ(strings[k].rgb[1], 1.0f);
        EXPECT_EQ(strings[k].wrapWidth, 490);  // the box's width inside a 5-pixel margin each side
    }
    EXPECT_EQ(strings[14].x, w.left + 5);
    EXPECT_EQ(strings[14].y, w.bottom + 20);
    EXPECT_FLOAT_EQ(strings[14].rgb[2], 0.3f);
    std::vector<std::string> cursorPhases;
    for (int i = 0; i < 90; i++) {
        host.RunFrame();
        std::string entry = EntryLine(Strings(imReadWin));
        if (cursorPhases.empty() || cursorPhases.back() != entry) cursorPhases.push_back(entry);
    }
    EXPECT_GE(cursorPhases.size(), 3u);
    for (const std::string &phase : cursorPhases) EXPECT_TRUE(phase == "|" || phase == " ") << phase;

    // Tab inside the entry line only gives the keyboard back: no cursor, dark border, still open.
    host.PressKey(kTab, 0);
    EXPECT_EQ(host.WindowWithFocus(), nullptr);
    host.RunFrames(2);
    EXPECT_EQ(EntryLine(Strings(imReadWin)), "");
    EXPECT_EQ(Primitive(imReadWin, GL_LINES).vertices[0].rgba[0], 0.0f);
    EXPECT_EQ(ChatAlpha(), 0.69f);

    // The next Tab closes it: only the box while it fades, then nothing at all after ten steps.
    host.PressKey(kTab, 0);
    host.RunFrame();
    EXPECT_FLOAT_EQ(ChatAlpha(), 0.621f);
    EXPECT_TRUE(Strings(imReadWin).empty());
    host.RunFrames(8);
    EXPECT_TRUE(Geometry(imReadWin).visible);
    host.RunFrame();
    EXPECT_FALSE(Geometry(imReadWin).visible);
    EXPECT_EQ(ChatAlpha(), -1.0f);
}

TEST_F(ChatWindowTest, ReopeningMidFadeReversesFromTheCurrentOpacity) {
    Start();
    host.RunFor(0.2);
    host.PressKey(kTab, 0);  // open, focused
    host.RunFrames(4);
    EXPECT_NEAR(ChatAlpha(), 0.276f, 1e-6);
    host.PressKey(kTab, 0);  // release the entry line
    host.PressKey(kTab, 0);  // close
    host.RunFrames(2);
    EXPECT_NEAR(ChatAlpha(), 0.138f, 1e-6);
    host.PressKey(kTab, 0);
    host.RunFrame();
    EXPECT_NEAR(ChatAlpha(), 0.207f, 1e-6);
}

TEST_F(ChatWindowTest, EntryLineTakesPrintableBytesOnly) {
    Start();
    host.RunFor(0.2);
    host.PressKey(kTab, 0);
    host.RunFrame();
    host.PressKey(kBackspace, 0);  // nothing to remove
    host.TypeText("abcd");
    host.PressKey(kBackspace, 0);
    host.PressKey(kDelete, 0);
    for (char ignored : {kEscape, (char)1, (char)10, (char)200, (char)255, (char)128}) host.PressKey(ignored, 'A');
    host.TypeText(" |~x");
    host.KeyUp('q', 'Q');  // a release types nothing
    host.RunFrame();
    std::string entry = EntryLine(Strings(imReadWin));
    EXPECT_EQ(entry.substr(0, entry.size() - 1), "ab |~x");

    // The line stops at the server's 1024-byte text limit; what is drawn is its end, inside the box.
    host.TypeText(std::string(1100, 'y'));
    EXPECT_EQ(imWrite.size(), 1024u);
    host.RunFrame();
    entry = EntryLine(Strings(imReadWin));
    int charWidth = 0;
    XPLMGetFontDimensions(xplmFont_Basic, &charWidth, nullptr, nullptr);
    EXPECT_EQ((int)entry.size(), 490 / charWidth);
    EXPECT_EQ(entry.substr(0, entry.size() - 1), std::string(entry.size() - 1, 'y'));
}

TEST_F(ChatWindowTest, OnlyAPlainTabOrTheCommandTogglesTheChat) {
    Start();
    host.RunFor(0.2);
    for (XPLMKeyFlags modifier : {xplm_ShiftFlag, xplm_OptionAltFlag, xplm_ControlFlag}) {
        host.PressKey(kTab, 0, modifier);
        host.RunFrames(2);
        EXPECT_FALSE(Geometry(imReadWin).visible) << modifier;
        EXPECT_EQ(host.WindowWithFocus(), nullptr) << modifier;
    }

    // The command a pilot binds to a key or button of their own does what Tab does.
    const std::vector<std::string> commands = host.CommandNames();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "skorvale/toggle_chat"), commands.end());
    ASSERT_TRUE(host.RunCommand("skorvale/toggle_chat"));
    host.RunFrame();
    EXPECT_TRUE(Geometry(imReadWin).visible);
    EXPECT_EQ(host.WindowWithFocus(), imReadWin);
    host.TypeText("hi");
    host.RunFrame();
    EXPECT_EQ(EntryLine(Strings(imReadWin)).substr(0, 2), "hi");
    ASSERT_TRUE(host.RunCommand("skorvale/toggle_chat"));
    host.RunFor(0.5);
    EXPECT_FALSE(Geometry(imReadWin).visible);
    EXPECT_EQ(host.WindowWithFocus(), nullptr);
    EXPECT_EQ(host.FocusToHiddenWindow(), 0);

    // Opened and closed again before it ever showed: the keyboard stays the simulator's.
    host.PressKey(kTab, 0);
    host.PressKey(kTab, 0);
    host.RunFor(0.5);
    EXPECT_EQ(host.WindowWithFocus(), nullptr);
}

TEST_F(ChatWindowTest, WindowsStayOnTheScreenWhenItShrinks) {
    host.SetScreenSize(1920, 1080);
    Start();
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.PressKey(kTab, 0);
    host.RunFor(0.3);
    // The user drags the plane list to the lower left corner; the chat stays top right.
    simhost::WindowInfo list = Geometry(gWindow);
    ASSERT_TRUE(host.MouseDown(list.left + 5, list.top - 5));
    host.MouseDrag(5, list.top - list.bottom - 5 + 10);
    host.MouseUp(5, list.top - list.bottom - 5 + 10);
    list = Geometry(gWindow);
    EXPECT_EQ(list.left, 0);
    host.RunFrames(2);

    host.SetScreenSize(800, 600);
    host.RunFrames(2);
    for (XPLMWindowID id : {gWindow, imReadWin}) {
        simhost::WindowInfo w = Geometry(id);
        EXPECT_GE(w.left, 0);
        EXPECT_LE(w.right, 800);
        EXPECT_GE(w.bottom, 0);
        EXPECT_LE(w.top, 600);
    }
    // Moved as little as needed and not resized: the plane list did not move, the chat sits in the corner.
    EXPECT_EQ(Geometry(gWindow).left, list.left);
    EXPECT_EQ(Geometry(gWindow).bottom, list.bottom);
    EXPECT_EQ(Geometry(imReadWin).right, 800);
    EXPECT_EQ(Geometry(imReadWin).top, 600);
    EXPECT_EQ(Geometry(imReadWin).right - Geometry(imReadWin).left, 500);

    // Too small for the chat: its top left corner stays on the screen, where it is dragged from.
    host.SetScreenSize(400, 200);
    host.RunFrames(2);
    EXPECT_EQ(Geometry(imReadWin).left, 0);
    EXPECT_EQ(Geometry(imReadWin).top, 200);
}

TEST_F(ChatWindowTest, ChatHoldsTheKeyboardOnlyWhileItShows) {
    std::string address = testsupport::UniqueLoopbackAddress();
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    testsupport::PointPluginAt(address);
    Start("connectAtStartup=1;");
    ASSERT_TRUE(server.WaitForStreamLines(1, 3000));

    // A long line from a peer takes as many rows as it needs, each inside the box.
    std::string longLine(150, 'L');
    ASSERT_TRUE(server.SendStream("3|m|short\n3|m|" + longLine + "\n"));
    ASSERT_TRUE(WaitForStreamData());
    while (ChatAlpha() < 0.69f && host.Now() < 3) host.RunFrame();
    const simhost::WindowInfo w = Geometry(imReadWin);
    int charWidth = 0;
    XPLMGetFontDimensions(xplmFont_Basic, &charWidth, nullptr, nullptr);
    const size_t columns = (size_t)(490 / charWidth);
    std::vector<DrawnString> strings = Strings(imReadWin);
    ASSERT_EQ(strings.size(), 16u);
    EXPECT_EQ(strings[13].text, longLine.substr(2 * columns));
    EXPECT_EQ(strings[11].text + strings[12].text + strings[13].text, longLine);
    EXPECT_EQ(strings[10].text, "short");

    // A line of three-byte characters wraps between characters, a row holding as many as fit.
    std::string arrows;
    for (size_t i = 0; i < columns + 5; i++) arrows += "\xE2\x86\x92";
    ASSERT_TRUE(server.SendStream("3|m|" + arrows + "\n"));
    ASSERT_TRUE(WaitForStreamData());
    host.RunFor(0.1);
    strings = Strings(imReadWin);
    EXPECT_EQ(strings.at(12).text, arrows.substr(0, 3 * columns));
    EXPECT_EQ(strings.at(13).text, arrows.substr(3 * columns));
    ASSERT_TRUE(server.SendStream("3|m|" + longLine + "\n"));
    ASSERT_TRUE(WaitForStreamData());
    host.RunFor(0.1);
    strings = Strings(imReadWin);
    // Each row's characters (UTF-8 continuation bytes are no cells of their own) fit inside the box.
    auto cells = [](const std::string &text) {
        return (int)std::count_if(text.begin(), text.end(), [](char c) { return ((unsigned char)c & 0xC0) != 0x80; });
    };
    for (int k = 0; k < 15; k++) EXPECT_LE(strings[k].x + cells(strings[k].text) * charWidth, w.right - 5) << k;

    // Clicked into, it holds the keyboard with cursor and bright frame; a click on the simulator's view
    // takes both away.
    const int insideX = (w.left + w.right) / 2, insideY = (w.top + w.bottom) / 2;
    ASSERT_TRUE(host.MouseDown(insideX, insideY));
    host.MouseUp(insideX, insideY);
    EXPECT_EQ(host.WindowWithFocus(), imReadWin);
    host.RunFrame();
    EXPECT_EQ(Primitive(imReadWin, GL_LINES).vertices.at(0).rgba[0], 1.0f);
    EXPECT_FALSE(host.MouseDown(10, 10));
    host.RunFrames(40);
    EXPECT_EQ(host.WindowWithFocus(), nullptr);
    EXPECT_EQ(Strings(imReadWin).at(14).text, "");  // the entry line, under the countdown
    EXPECT_EQ(Primitive(imReadWin, GL_LINES).vertices.at(0).rgba[0], 0.0f);

    // Clicked into again and typed in, then left: when the countdown closes it, the keyboard is the
    // simulator's again, and the next keys are not a chat line.
    ASSERT_TRUE(host.MouseDown(insideX, insideY));
    host.MouseUp(insideX, insideY);
    host.TypeText("hi");
    host.RunFor(11);
    EXPECT_FALSE(Geometry(imReadWin).visible);
    EXPECT_EQ(host.WindowWithFocus(), nullptr);
    host.TypeText("gbp");
    host.PressKey(kReturn, 0);
    EXPECT_EQ(imWrite, "hi");
    EXPECT_EQ(server.StreamBytes().find("|MESSAGE|"), std::string::npos);
}

TEST_F(ChatWindowTest, ReturnWhileDisconnectedKeepsTheTextAndShowsTheWindowForAWhile) {
    std::string address = testsupport::UniqueLoopbackAddress();
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    testsupport::PointPluginAt(address);
    Start();
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFor(0.2);

    host.PressKey(kTab, 0);
    host.RunFrame();
    host.TypeText("hello");
    host.PressKey(kReturn, 0);
    host.PressKey(kTab, 0);  // release
    host.PressKey(kTab, 0);  // close: only the countdown keeps it up now
    host.RunFor(1.0);

    EXPECT_TRUE(Geometry(imReadWin).visible);
    std::vector<DrawnString> strings = Strings(imReadWin);
    ASSERT_EQ(strings.size(), 16u);
    EXPECT_EQ(strings[14].text, "hello");
    const simhost::WindowInfo w = Geometry(imReadWin);
    EXPECT_EQ(strings[15].text, "9");
    EXPECT_EQ(strings[15].x, w.right - 15);
    EXPECT_EQ(strings[15].y, w.bottom + 14);
    EXPECT_FALSE(strings[15].wrapWidth.has_value());

    // No stream send was attempted: the indicator never showed one and the server saw nothing.
    EXPECT_EQ(Strings(gWindow).at(1).text, "Network Traffic:         ");
    EXPECT_EQ(server.ConnectionCount(), 0u);
}

TEST_F(ChatWindowTest, ReturnWhileConnectedSendsTheLineAndEmptiesTheEntry) {
    std::string address = testsupport::UniqueLoopbackAddress();
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    testsupport::PointPluginAt(address);
    Start("connectAtStartup=1;");
    ASSERT_TRUE(server.WaitForStreamLines(1, 3000));
    host.RunFor(0.2);

    host.PressKey(kTab, 0);
    host.RunFrame();
    host.TypeText("hi | there");
    host.PressKey(kReturn, 0);
    host.PressKey(kReturn, 0);  // an empty line is still sent
    ASSERT_TRUE(server.WaitForStreamLines(3, 3000));

    std::string bytes = server.StreamBytes();
    std::string chat = bytes.substr(bytes.find('\n') + 1);
    std::string id = std::to_string(uniqueID);
    EXPECT_EQ(chat, id + "|MESSAGE|hi | there\n" + id + "|MESSAGE|\n");
    // Pinned open by Tab, the window shows no countdown even while one runs.
    host.RunFor(1.5);
    std::vector<DrawnString> strings = Strings(imReadWin);
    ASSERT_EQ(strings.size(), 15u);
    EXPECT_TRUE(strings[14].text == "|" || strings[14].text == " ") << strings[14].text;
}

TEST_F(ChatWindowTest, ReceivedLinesFillTheHistoryAndOpenTheWindowForNineSeconds) {
    std::string address = testsupport::UniqueLoopbackAddress();
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    testsupport::PointPluginAt(address);
    Start("connectAtStartup=1;");
    ASSERT_TRUE(server.WaitForStreamLines(1, 3000));

    std::string lines;
    for (int i = 1; i <= 15; i++) lines += "3|m|line " + std::to_string(i) + "\n";
    ASSERT_TRUE(server.SendStream(lines));
    ASSERT_TRUE(WaitForStreamData());

    // The next countdown tick (within a second) starts the fade-in; ten opacity steps make it whole.
    int frames = 0;
    while (!Geometry(imReadWin).visible && frames < 61) {
        host.RunFrame();
        frames++;
    }
    ASSERT_TRUE(Geometry(imReadWin).visible);
    host.RunFrames(9);
    EXPECT_EQ(ChatAlpha(), 0.69f);

    // The fifteenth line pushed the first out; the newest sits just above the entry line.
    const simhost::WindowInfo w = Geometry(imReadWin);
    std::vector<DrawnString> strings = Strings(imReadWin);
    ASSERT_EQ(strings.size(), 16u);
    for (int k = 0; k < 14; k++) {
        EXPECT_EQ(strings[k].text, "line " + std::to_string(k + 2));
        EXPECT_EQ(strings[k].x, w.left + 5);
        EXPECT_EQ(strings[k].y, w.bottom + 300 - 20 * k);
        EXPECT_FLOAT_EQ(strings[k].rgb[0], 0.5f);
    }

    // The countdown shows 9 down to 1, one digit a second, then the window fades out in ten steps.
    std::vector<std::string> digits;
    int firstFadeFrame = -1, hiddenFrame = -1;
    for (int i = 0; i < 60 * 11 && hiddenFrame < 0; i++) {
        host.RunFrame();
        std::vector<DrawnString> now = Strings(imReadWin);
        if (now.size() == 16 && (digits.empty() || digits.back() != now[15].text)) digits.push_back(now[15].text);
        if (now.empty() && firstFadeFrame < 0) firstFadeFrame = i;
        if (!Geometry(imReadWin).visible) hiddenFrame = i;
    }
    EXPECT_EQ(digits, std::vector<std::string>({"9", "8", "7", "6", "5", "4", "3", "2", "1"}));
    ASSERT_GE(firstFadeFrame, 0);
    EXPECT_EQ(hiddenFrame - firstFadeFrame, 9);  // the tenth step down hides it
}

}  // namespace
}  // namespace uitest
