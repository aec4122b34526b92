// User input: keys to the focused window or the sniffers, mouse to the top window with drag capture, menus.
#include <string>
#include <vector>

#include "HostFixture.h"
#include "XPLMDisplay.h"
#include "XPLMMenus.h"

namespace {

using simhosttest::HostTest;

std::vector<std::string> events;

void WindowKey(XPLMWindowID, char key, XPLMKeyFlags flags, char, void *refcon, int losingFocus) {
    std::string name = static_cast<const char *>(refcon);
    if (losingFocus) {
        events.push_back(name + " lost focus");
        return;
    }
    events.push_back(name + " " + std::string(1, key) + ((flags & xplm_DownFlag) ? " down" : " up"));
}

int WindowMouse(XPLMWindowID id, int x, int y, XPLMMouseStatus status, void *refcon) {
    events.push_back(std::string(static_cast<const char *>(refcon)) + " mouse " + std::to_string(status) + " " +
                     std::to_string(x) + "," + std::to_string(y));
    if (status == xplm_MouseDrag) XPLMSetWindowGeometry(id, x, y + 100, x + 100, y);  // follows the pointer
    return 1;
}

int Sniffer(char key, XPLMKeyFlags flags, char, void *refcon) {
    std::string name = static_cast<const char *>(refcon);
    events.push_back(name + " " + std::string(1, key) + ((flags & xplm_DownFlag) ? " down" : " up"));
    return name == "swallower" && key == 's' ? 0 : 1;
}

XPLMWindowID Window(const char *name, int left, int top, int right, int bottom, int visible = 1) {
    return XPLMCreateWindow(left, top, right, bottom, visible, nullptr, WindowKey, WindowMouse,
                            const_cast<char *>(name));
}

TEST_F(HostTest, KeysGoToTheFocusedWindowElseToTheSniffers) {
    events.clear();
    XPLMWindowID a = Window("A", 0, 100, 100, 0);
    XPLMWindowID b = Window("B", 0, 100, 100, 0);
    XPLMRegisterKeySniffer(Sniffer, 0, const_cast<char *>("after"));
    host.PressKey('x', 'X');
    EXPECT_EQ(events, (std::vector<std::string>{"after x down", "after x up"}));

    events.clear();
    XPLMTakeKeyboardFocus(a);
    EXPECT_EQ(host.WindowWithFocus(), a);
    host.PressKey('y', 'Y');
    XPLMTakeKeyboardFocus(b);
    XPLMTakeKeyboardFocus(nullptr);
    host.PressKey('z', 'Z');
    EXPECT_EQ(events, (std::vector<std::string>{"A y down", "A y up", "A lost focus", "B lost focus", "after z down",
                                                "after z up"}));

    // A sniffer registered before windows sees keys first, even with a focused window, and may swallow them.
    events.clear();
    XPLMRegisterKeySniffer(Sniffer, 1, const_cast<char *>("swallower"));
    XPLMTakeKeyboardFocus(a);
    host.KeyDown('s', 'S');
    host.KeyDown('t', 'T');
    EXPECT_EQ(events, (std::vector<std::string>{"swallower s down", "swallower t down", "A t down"}));
    EXPECT_EQ(host.KeySniffers().size(), 2u);
    EXPECT_EQ(XPLMUnregisterKeySniffer(Sniffer, 1, const_cast<char *>("swallower")), 1);
    EXPECT_EQ(XPLMUnregisterKeySniffer(Sniffer, 1, const_cast<char *>("swallower")), 0);
    XPLMDestroyWindow(a);
    EXPECT_EQ(host.WindowWithFocus(), nullptr) << "a destroyed window cannot keep the focus";
    XPLMTakeKeyboardFocus(reinterpret_cast<XPLMWindowID>(0x1234));  // a stale handle is ignored
    EXPECT_EQ(host.WindowWithFocus(), nullptr);
}

TEST_F(HostTest, MouseGoesToTheTopWindowUnderThePointerAndDragsStayWithIt) {
    events.clear();
    XPLMWindowID low = Window("low", 0, 200, 200, 0);
    Window("high", 100, 300, 300, 100);
    Window("hidden", 0, 400, 400, 0, 0);
    EXPECT_FALSE(host.MouseDown(350, 350)) << "only a hidden window is there";
    EXPECT_TRUE(host.MouseDown(150, 150));  // both visible ones; the later one is on top
    EXPECT_TRUE(host.MouseDrag(500, 600));  // far outside: still the pressed window's
    EXPECT_TRUE(host.MouseUp(510, 610));
    EXPECT_EQ(events,
              (std::vector<std::string>{"high mouse 1 150,150", "high mouse 2 500,600", "high mouse 3 510,610"}));
    events.clear();
    EXPECT_TRUE(host.MouseDown(50, 50));
    host.MouseUp(50, 50);
    EXPECT_EQ(events.front(), "low mouse 1 50,50");
    EXPECT_EQ(host.Window(low)->zOrder, 2) << "a clicked window comes to the front";
    EXPECT_FALSE(host.MouseDrag(1, 1)) << "no press, no drag";

    XPLMTakeKeyboardFocus(low);
    EXPECT_FALSE(host.MouseDown(900, 700));
    EXPECT_EQ(host.WindowWithFocus(), nullptr) << "a click on the sim's view takes the keyboard back";
}

std::vector<std::string> picks;

void MenuHandler(void *menuRef, void *itemRef) {
    picks.push_back(std::string(static_cast<const char *>(menuRef)) + ":" + static_cast<const char *>(itemRef));
}

TEST_F(HostTest, MenuItemsAreChosenByTheirPathOfNames) {
    picks.clear();
    XPLMMenuID plugins = XPLMFindPluginsMenu();
    EXPECT_EQ(plugins, XPLMFindPluginsMenu());
    int item = XPLMAppendMenuItem(plugins, "Skorvale", nullptr, 1);
    EXPECT_EQ(item, 0);
    XPLMMenuID sub = XPLMCreateMenu("Plane Window", plugins, item, MenuHandler, const_cast<char *>("m"));
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(XPLMAppendMenuItem(sub, "Control & Settings", const_cast<char *>("1"), 1), 0);
    EXPECT_EQ(XPLMAppendMenuItem(sub, "Toggle Plane List", const_cast<char *>("2"), 1), 1);
    EXPECT_EQ(XPLMCreateMenu("Orphan", plugins, 7, MenuHandler, nullptr), nullptr) << "no item 7 to hang it on";

    std::string error;
    EXPECT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}, &error)) << error;
    EXPECT_TRUE(host.ChooseMenuItem({"Skorvale", "Control & Settings"}));
    EXPECT_EQ(picks, (std::vector<std::string>{"m:2", "m:1"}));
    EXPECT_FALSE(host.ChooseMenuItem({"Skorvale", "Nope"}, &error));
    EXPECT_NE(error.find("Skorvale/Nope"), std::string::npos) << error;
    EXPECT_FALSE(host.ChooseMenuItem({"Skorvale"}, &error)) << "an item with a submenu is not an action";
    EXPECT_FALSE(host.ChooseMenuItem({}, &error));

    XPLMDestroyMenu(sub);
    EXPECT_FALSE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}, &error));
    EXPECT_EQ(host.Menus().size(), 1u) << "only the plug-ins menu is left";
    EXPECT_EQ(XPLMAppendMenuItem(sub, "late", nullptr, 1), -1) << "a destroyed menu takes no items";
}

}  // namespace
