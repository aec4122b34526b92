// The plane-list window and dragging of both windows, as a user sees and moves them.
#include <string>
#include <vector>

#include "tests/ui/UiFixture.h"
#include "traffic/AircraftUtils.h"

namespace uitest {
namespace {

class PlaneListTest : public UiTest {
protected:
    // The plane list's strings below its status line.
    std::vector<simhost::DrawnString> Listed() {
        std::vector<simhost::DrawnString> strings = Strings(gWindow);
        if (!strings.empty()) strings.erase(strings.begin());
        return strings;
    }
};

TEST_F(PlaneListTest, ListsNineteenSlotsUnderTheTrafficIndicators) {
    Start();
    host.RunFrame();
    EXPECT_TRUE(Listed().empty());

    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFrame();
    const simhost::WindowInfo w = Geometry(gWindow);
    EXPECT_TRUE(w.visible);
    EXPECT_EQ(w.left, 1024 - 20 - 270);
    EXPECT_EQ(w.top, 768 - 320 - 40);
    EXPECT_EQ(w.bottom, w.top - 320);

    ASSERT_EQ(host.LastFrame().boxes.size(), 1u);
    const simhost::DarkBox &box = host.LastFrame().boxes[0];
    EXPECT_EQ(std::vector<int>({box.left, box.top, box.right, box.bottom}),
              std::vector<int>({w.left, w.top, w.right, w.bottom}));

    // The connection's status comes first, in yellow.
    std::vector<simhost::DrawnString> all = Strings(gWindow);
    ASSERT_EQ(all.size(), 21u);
    EXPECT_EQ(all[0].text, "Disconnected");
    EXPECT_EQ(all[0].y, w.top - 20);
    EXPECT_EQ(std::vector<float>(all[0].rgb, all[0].rgb + 3), std::vector<float>({1.0f, 1.0f, 0.3f}));
    std::vector<simhost::DrawnString> strings = Listed();
    ASSERT_EQ(strings.size(), 20u);
    EXPECT_EQ(strings[0].text, "Network Traffic:" + std::string(9, ' '));
    EXPECT_EQ(strings[0].x, w.left + 5);
    EXPECT_EQ(strings[0].y, w.top - 34);
    EXPECT_EQ(strings[1].text, "1:  Plane 1");  // no callsign yet: two blanks
    for (int i = 1; i <= 19; i++) {
        const simhost::DrawnString &row = strings[i];
        EXPECT_EQ(row.text, std::to_string(i) + ":  Plane " + std::to_string(i));
        EXPECT_EQ(row.x, w.left + 5);
        EXPECT_EQ(row.y, w.top - 48 - 14 * (i - 1));
        EXPECT_FALSE(row.wrapWidth.has_value());
    }
    EXPECT_EQ(strings[19].y, w.top - 300);
    for (const simhost::DrawnString &s : strings) {
        EXPECT_EQ(std::vector<float>(s.rgb, s.rgb + 3), std::vector<float>({1.0f, 1.0f, 1.0f}));
        EXPECT_NE(s.text.rfind("0:", 0), 0u) << "the user's own slot is listed";
    }

    // A crew pilot flying the user's aircraft is flagged; a callsign goes between slot and model.
    overridden = 1;
    Callsigns[4] = "Anna";
    host.RunFrame();
    strings = Listed();
    EXPECT_EQ(strings.at(0).text, "Network Traffic:" + std::string(9, ' ') + " o");
    EXPECT_EQ(strings.at(4).text, "4: Anna Plane 4");

    // Rows stay inside the window: a peer's long callsign is cut at its edge.
    Callsigns[5] = std::string(300, 'C');
    host.RunFrame();
    strings = Listed();
    int charWidth = 0;
    XPLMGetFontDimensions(xplmFont_Basic, &charWidth, nullptr, nullptr);
    EXPECT_EQ(strings.at(5).text, "5: " + std::string((w.right - w.left - 10) / charWidth - 3, 'C'));
    for (const simhost::DrawnString &s : strings) EXPECT_LE(s.x + (int)s.text.size() * charWidth, w.right - 5);
    // A character is a cell and is never cut in two: 300 two-byte letters fill the row with whole ones.
    std::string accents;
    for (int i = 0; i < 300; i++) accents += "\xC3\xA9";
    Callsigns[5] = accents;
    host.RunFrame();
    EXPECT_EQ(Listed().at(5).text, "5: " + accents.substr(0, 2 * ((w.right - w.left - 10) / charWidth - 3)));

    // Toggling twice returns it to where it was.
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFrame();
    EXPECT_FALSE(Geometry(gWindow).visible);
    EXPECT_TRUE(Listed().empty());
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFrame();
    EXPECT_TRUE(Geometry(gWindow).visible);
    EXPECT_EQ(Listed().size(), 20u);
}

TEST_F(PlaneListTest, DraggingMovesEitherWindowAndKeepsItsSize) {
    Start();
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFor(0.2);

    // Off the screen is allowed: nothing clamps.
    const simhost::WindowInfo before = Geometry(gWindow);
    ASSERT_TRUE(host.MouseDown(before.left + 10, before.top - 10));
    ASSERT_TRUE(host.MouseDrag(before.left - 590, before.top + 490));
    ASSERT_TRUE(host.MouseDrag(before.left - 890, before.top + 690));
    host.MouseUp(before.left - 890, before.top + 690);
    const simhost::WindowInfo after = Geometry(gWindow);
    EXPECT_EQ(after.left, before.left - 900);
    EXPECT_EQ(after.top, before.top + 700);
    EXPECT_EQ(after.right - after.left, 270);
    EXPECT_EQ(after.top - after.bottom, 320);

    // The chat window drags the same way, and a press in it focuses the entry line.
    host.PressKey(kTab, 0);
    host.RunFrame();         // shown, it takes the keyboard
    host.PressKey(kTab, 0);  // open, then hand the keyboard back
    host.RunFrames(10);
    const simhost::WindowInfo chat = Geometry(imReadWin);
    ASSERT_TRUE(host.MouseDown(chat.left + 50, chat.bottom + 50));
    EXPECT_EQ(host.WindowWithFocus(), imReadWin);
    host.MouseDrag(chat.left + 20, chat.bottom + 10);
    host.MouseUp(chat.left + 20, chat.bottom + 10);
    const simhost::WindowInfo moved = Geometry(imReadWin);
    EXPECT_EQ(moved.left, chat.left - 30);
    EXPECT_EQ(moved.bottom, chat.bottom - 40);
    EXPECT_EQ(moved.right - moved.left, 500);
    EXPECT_EQ(moved.top - moved.bottom, 320);
    host.RunFrame();
    EXPECT_EQ(Primitive(imReadWin, GL_LINES).vertices.at(0).rgba[0], 1.0f);  // focused border

    // Moving the plane list back on screen and pressing in it takes the focus look off the chat entry.
    const simhost::WindowInfo list = Geometry(gWindow);
    ASSERT_TRUE(host.MouseDown(list.left + 5, list.top - 5));
    host.MouseDrag(before.left + 5, before.top - 5);
    host.MouseUp(before.left + 5, before.top - 5);
    ASSERT_TRUE(host.MouseDown(before.left + 5, before.top - 5));
    host.MouseUp(before.left + 5, before.top - 5);
    host.RunFrame();
    EXPECT_EQ(Primitive(imReadWin, GL_LINES).vertices.at(0).rgba[0], 0.0f);
    std::vector<simhost::DrawnString> strings = Strings(imReadWin);
    ASSERT_FALSE(strings.empty());
    EXPECT_EQ(strings.back().text, "");  // no cursor without focus
}

}  // namespace
}  // namespace uitest
