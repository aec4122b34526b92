// The widget library: callback chains, dispatch modes, messages, and user actions as the real library sends them.
#include <cstring>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

namespace {

using simhosttest::HostTest;

struct Seen {
    std::string who;
    XPWidgetMessage message;
    XPWidgetID widget;
    intptr_t p1, p2;
};
std::vector<Seen> seen;

// Records every message; "handles" what its rule says.
template <int Tag, XPWidgetMessage Handles>
int Recorder(XPWidgetMessage message, XPWidgetID widget, intptr_t p1, intptr_t p2) {
    seen.push_back({"cb" + std::to_string(Tag), message, widget, p1, p2});
    return message == Handles ? 1 : 0;
}

std::vector<Seen> Only(XPWidgetMessage message) {
    std::vector<Seen> out;
    for (const Seen &s : seen)
        if (s.message == message) out.push_back(s);
    return out;
}

XPWidgetID Button(XPWidgetID parent, const char *name, int behaviour, int top) {
    XPWidgetID b = XPCreateWidget(10, top, 60, top - 10, 1, name, 0, parent, xpWidgetClass_Button);
    XPSetWidgetProperty(b, xpProperty_ButtonType,
                        behaviour == xpButtonBehaviorPushButton ? xpPushButton : xpRadioButton);
    XPSetWidgetProperty(b, xpProperty_ButtonBehavior, behaviour);
    return b;
}

TEST_F(HostTest, NewestCallbackFirstAndUnhandledMessagesFallThrough) {
    XPWidgetID root = XPCreateWidget(0, 100, 100, 0, 1, "root", 1, nullptr, xpWidgetClass_MainWindow);
    XPWidgetID child = XPCreateWidget(0, 50, 50, 0, 1, "child", 0, root, xpWidgetClass_SubWindow);
    XPWidgetID grandchild = XPCreateWidget(0, 20, 20, 0, 1, "gc", 0, child, xpWidgetClass_Caption);
    XPAddWidgetCallback(child, Recorder<1, xpMsg_UserStart>);
    XPAddWidgetCallback(child, Recorder<2, xpMsg_UserStart + 1>);
    XPAddWidgetCallback(root, Recorder<3, xpMsg_UserStart + 2>);
    XPAddWidgetCallback(grandchild, Recorder<4, xpMsg_None>);

    auto who = [] {
        std::string out;
        for (const Seen &s : seen) out += s.who + " ";
        return out;
    };
    seen.clear();
    EXPECT_EQ(XPSendMessageToWidget(child, xpMsg_UserStart, xpMode_Direct, 0, 0), 1);
    EXPECT_EQ(who(), "cb2 cb1 ");
    seen.clear();
    EXPECT_EQ(XPSendMessageToWidget(child, xpMsg_UserStart + 1, xpMode_Direct, 0, 0), 1);
    EXPECT_EQ(who(), "cb2 ") << "handled: the older callback never sees it";
    seen.clear();
    EXPECT_EQ(XPSendMessageToWidget(child, xpMsg_UserStart + 1, xpMode_DirectAllCallbacks, 0, 0), 1);
    EXPECT_EQ(who(), "cb2 cb1 ");
    seen.clear();
    EXPECT_EQ(XPSendMessageToWidget(child, xpMsg_UserStart, xpMode_Once, 0, 0), 0);
    EXPECT_EQ(who(), "cb2 ") << "once: only the newest callback, handled or not";
    seen.clear();
    EXPECT_EQ(XPSendMessageToWidget(grandchild, xpMsg_UserStart + 2, xpMode_UpChain, 7, 8), 1);
    EXPECT_EQ(who(), "cb4 cb2 cb1 cb3 ");
    EXPECT_EQ(seen.back().widget, root);
    EXPECT_EQ(seen.back().p1, 7);
    seen.clear();
    EXPECT_EQ(XPSendMessageToWidget(grandchild, xpMsg_UserStart + 2, xpMode_Direct, 0, 0), 0);
    seen.clear();
    EXPECT_EQ(XPSendMessageToWidget(root, xpMsg_UserStart + 9, xpMode_Recursive, 0, 0), 0);
    EXPECT_EQ(who(), "cb3 cb2 cb1 cb4 ") << "recursive: the widget, then its children depth first";
    EXPECT_EQ(XPSendMessageToWidget(reinterpret_cast<XPWidgetID>(0x99), xpMsg_UserStart, xpMode_Direct, 0, 0), 0);
}

TEST_F(HostTest, ChangesSendTheirMessagesAndDestroyTakesTheChildren) {
    XPWidgetID root = XPCreateWidget(0, 100, 100, 0, 1, "root", 1, nullptr, xpWidgetClass_MainWindow);
    XPWidgetID child = XPCreateWidget(0, 50, 50, 0, 1, "child", 0, root, xpWidgetClass_SubWindow);
    XPAddWidgetCallback(root, Recorder<1, xpMsg_None>);
    XPAddWidgetCallback(child, Recorder<2, xpMsg_None>);
    seen.clear();
    XPSetWidgetDescriptor(child, "renamed");
    XPSetWidgetProperty(child, xpProperty_UserStart, 42);
    XPHideWidget(child);
    XPHideWidget(child);  // already hidden: no second message
    XPShowWidget(child);
    ASSERT_EQ(Only(xpMsg_DescriptorChanged).size(), 1u);
    ASSERT_EQ(Only(xpMsg_PropertyChanged).size(), 1u);
    EXPECT_EQ(Only(xpMsg_PropertyChanged)[0].p1, xpProperty_UserStart);
    EXPECT_EQ(Only(xpMsg_PropertyChanged)[0].p2, 42);
    ASSERT_EQ(Only(xpMsg_Hidden).size(), 2u) << "the widget, then up the chain to its parent";
    EXPECT_EQ(Only(xpMsg_Hidden)[1].widget, root);
    EXPECT_EQ(Only(xpMsg_Hidden)[1].p1, reinterpret_cast<intptr_t>(child));
    EXPECT_EQ(Only(xpMsg_Shown).size(), 2u);

    // Visibility: a widget's own flag, while a hidden parent hides it from the user.
    XPHideWidget(root);
    EXPECT_EQ(XPIsWidgetVisible(child), 1);
    EXPECT_FALSE(host.IsWidgetShown(child));

    // Descriptors copy like strncpy and report the full length.
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(XPGetWidgetDescriptor(child, buffer, 3), 7);
    EXPECT_EQ(std::string(buffer, 4), "renx") << "cut: no terminator written";
    EXPECT_EQ(XPGetWidgetDescriptor(child, buffer, 8), 7);
    EXPECT_STREQ(buffer, "renamed");
    EXPECT_EQ(XPGetWidgetDescriptor(child, nullptr, 0), 7);
    int exists = 1;
    EXPECT_EQ(XPGetWidgetProperty(child, xpProperty_UserStart + 1, &exists), 0);
    EXPECT_EQ(exists, 0);
    EXPECT_EQ(XPGetWidgetProperty(child, xpProperty_UserStart, nullptr), 42);

    seen.clear();
    XPDestroyWidget(root, 1);
    EXPECT_EQ(Only(xpMsg_Destroy).size(), 2u);
    EXPECT_TRUE(host.Widgets().empty());
    EXPECT_FALSE(host.Widget(child).has_value());
    XPSetWidgetDescriptor(child, "gone");  // a stale handle is harmless
    EXPECT_EQ(XPGetWidgetDescriptor(child, buffer, 8), 0);
}

TEST_F(HostTest, ButtonsActAsTheRealLibrary) {
    XPWidgetID pane = XPCreateWidget(0, 300, 300, 0, 1, "Pane", 1, nullptr, xpWidgetClass_MainWindow);
    XPWidgetID push = Button(pane, "Connect", xpButtonBehaviorPushButton, 280);
    XPWidgetID radio = Button(pane, "Solo", xpButtonBehaviorRadioButton, 260);
    XPWidgetID check = Button(pane, "At start", xpButtonBehaviorCheckBox, 240);
    XPAddWidgetCallback(pane, Recorder<1, xpMsg_None>);

    seen.clear();
    std::string error;
    ASSERT_TRUE(host.ClickWidget("Connect", &error)) << error;
    ASSERT_EQ(Only(xpMsg_PushButtonPressed).size(), 1u) << "sent up the chain to the pane";
    EXPECT_EQ(Only(xpMsg_PushButtonPressed)[0].p1, reinterpret_cast<intptr_t>(push));

    seen.clear();
    ASSERT_TRUE(host.ClickWidget(radio, &error)) << error;
    ASSERT_TRUE(host.ClickWidget(radio, &error)) << error;
    ASSERT_EQ(Only(xpMsg_ButtonStateChanged).size(), 1u) << "a radio button already on says nothing";
    EXPECT_EQ(Only(xpMsg_ButtonStateChanged)[0].p1, reinterpret_cast<intptr_t>(radio));
    EXPECT_EQ(Only(xpMsg_ButtonStateChanged)[0].p2, 1);
    EXPECT_EQ(XPGetWidgetProperty(radio, xpProperty_ButtonState, nullptr), 1);

    seen.clear();
    host.ClickWidget(check);
    host.ClickWidget(check);
    ASSERT_EQ(Only(xpMsg_ButtonStateChanged).size(), 2u);
    EXPECT_EQ(Only(xpMsg_ButtonStateChanged)[0].p2, 1);
    EXPECT_EQ(Only(xpMsg_ButtonStateChanged)[1].p2, 0);
    seen.clear();
    XPSetWidgetProperty(check, xpProperty_ButtonState, 1);
    EXPECT_TRUE(Only(xpMsg_ButtonStateChanged).empty()) << "setting the property is not a click";

    // What a user cannot see, a user cannot click.
    XPHideWidget(push);
    EXPECT_FALSE(host.ClickWidget("Connect", &error));
    EXPECT_NE(error.find("hidden"), std::string::npos) << error;
    XPShowWidget(push);
    XPHideWidget(pane);
    EXPECT_FALSE(host.ClickWidget(push, &error));
    EXPECT_FALSE(host.ClickWidget("Nothing", &error));
    EXPECT_NE(error.find("Nothing"), std::string::npos);

    // Mouse on the screen reaches the same button.
    XPShowWidget(pane);
    seen.clear();
    EXPECT_TRUE(host.MouseDown(20, 275));
    EXPECT_TRUE(host.MouseUp(20, 275));
    EXPECT_EQ(Only(xpMsg_PushButtonPressed).size(), 1u);
    seen.clear();
    host.MouseDown(20, 275);
    host.MouseUp(200, 100);  // released off the button: cancelled
    EXPECT_TRUE(Only(xpMsg_PushButtonPressed).empty());
}

TEST_F(HostTest, CloseBoxOnlyWhereTheWindowHasOne) {
    XPWidgetID with = XPCreateWidget(0, 300, 300, 0, 1, "With", 1, nullptr, xpWidgetClass_MainWindow);
    XPWidgetID without = XPCreateWidget(0, 300, 300, 0, 1, "Without", 1, nullptr, xpWidgetClass_MainWindow);
    XPSetWidgetProperty(with, xpProperty_MainWindowHasCloseBoxes, 1);
    XPSetWidgetProperty(without, xpProperty_MainWindowHasCloseBoxes, 0);
    XPAddWidgetCallback(with, Recorder<1, xpMessage_CloseButtonPushed>);
    XPAddWidgetCallback(without, Recorder<2, xpMessage_CloseButtonPushed>);
    seen.clear();
    std::string error;
    EXPECT_TRUE(host.PushCloseBox("With", &error)) << error;
    EXPECT_FALSE(host.PushCloseBox("Without", &error));
    EXPECT_NE(error.find("no close box"), std::string::npos) << error;
    ASSERT_EQ(Only(xpMessage_CloseButtonPushed).size(), 1u);
    EXPECT_EQ(Only(xpMessage_CloseButtonPushed)[0].widget, with);
}

TEST_F(HostTest, TextFieldsTakeTheKeyboardAndEditTheirDescriptor) {
    XPWidgetID pane = XPCreateWidget(0, 300, 300, 0, 1, "Pane", 1, nullptr, xpWidgetClass_MainWindow);
    XPCreateWidget(10, 280, 100, 268, 1, "User ID:", 0, pane, xpWidgetClass_Caption);
    XPWidgetID user = XPCreateWidget(115, 280, 225, 268, 1, "bob", 0, pane, xpWidgetClass_TextField);
    XPCreateWidget(10, 260, 100, 248, 1, "Password:", 0, pane, xpWidgetClass_Caption);
    XPWidgetID pass = XPCreateWidget(115, 260, 225, 248, 1, "", 0, pane, xpWidgetClass_TextField);
    XPSetWidgetProperty(pass, xpProperty_MaxCharacters, 4);
    XPAddWidgetCallback(pane, Recorder<1, xpMsg_None>);
    XPAddWidgetCallback(user, Recorder<2, xpMsg_None>);
    EXPECT_EQ(host.FieldBesideCaption("User ID:"), user);
    EXPECT_EQ(host.FieldBesideCaption("Password"), pass) << "the colon may be left out";
    EXPECT_EQ(host.FieldBesideCaption("Callsign"), nullptr);

    seen.clear();
    ASSERT_TRUE(host.ClickWidget(user));
    EXPECT_EQ(host.WidgetWithFocus(), user);
    host.TypeText("by");
    host.PressKey(8, 8);    // backspace
    host.PressKey(13, 13);  // Return: not text, offered to the owner
    auto descriptor = [](XPWidgetID w) {
        char buffer[64] = {};
        XPGetWidgetDescriptor(w, buffer, sizeof buffer - 1);
        return std::string(buffer);
    };
    EXPECT_EQ(descriptor(user), "bobb");
    EXPECT_EQ(Only(xpMsg_DescriptorChanged).size(), 3u);
    EXPECT_EQ(Only(xpMsg_KeyPress).size(), 5u) << "key downs only; Return goes on up the chain to the pane";

    std::string error;
    ASSERT_TRUE(host.ReplaceFieldText(pass, "secret", &error)) << error;
    EXPECT_EQ(descriptor(pass), "secr") << "MaxCharacters holds";
    EXPECT_EQ(host.WidgetWithFocus(), pass);
    ASSERT_TRUE(host.ReplaceFieldText(user, "alice"));
    EXPECT_EQ(descriptor(user), "alice") << "select all, then type over it";
    ASSERT_TRUE(host.ReplaceFieldText(user, ""));
    EXPECT_EQ(descriptor(user), "");

    XPHideWidget(pane);
    EXPECT_EQ(host.WidgetWithFocus(), nullptr) << "a hidden field loses the keyboard";
    EXPECT_FALSE(host.ReplaceFieldText(user, "x", &error));
    EXPECT_NE(error.find("hidden"), std::string::npos);
}

}  // namespace
