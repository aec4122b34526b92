// The settings pane and the menu, driven as a user clicks and types, checked on screen and in the settings file.
#include <unistd.h>

#include <string>
#include <vector>

#include "XPStandardWidgets.h"
#include "XPWidgets.h"
#include "tests/support/FixtureServer.h"
#include "tests/support/Loopback.h"
#include "tests/ui/UiFixture.h"
#include "ui/PrefPane.h"

namespace uitest {
namespace {

const char kStored[] =
    "callsign=ACE1;userID=1234;password=pw;flightMode=0;cockpitPosition=2;crewID=C7;connectAtStartup=0;";

class PrefPaneTest : public UiTest {
protected:
    void OpenPane() { ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Control & Settings"})); }

    bool Click(const std::string &descriptor) {
        std::string error;
        bool ok = host.ClickWidget(descriptor, &error);
        EXPECT_TRUE(ok) << descriptor << ": " << error;
        return ok;
    }

    std::string Field(XPWidgetID field) const { return host.Widget(field)->descriptor; }
    int State(XPWidgetID button) const { return (int)host.WidgetProperty(button, xpProperty_ButtonState); }
    std::vector<int> PositionStates() const {
        return {State(PositionB1), State(PositionB2), State(PositionB3), State(PositionB4)};
    }
    std::vector<bool> CrewRowsShown() const {
        std::vector<bool> shown;
        for (XPWidgetID w : {CrewIDT, CrewIDF, PositionT, PositionB1, PositionB2, PositionB3, PositionB4})
            shown.push_back(host.IsWidgetShown(w));
        return shown;
    }
    const std::vector<bool> allShown = std::vector<bool>(7, true);
    const std::vector<bool> noneShown = std::vector<bool>(7, false);
};

TEST_F(PrefPaneTest, FirstOpenBuildsEveryControlInPlaceFilledFromTheSettings) {
    Start("callsign=ACE1;userID=1234;password=pw;flightMode=0;cockpitPosition=2;crewID=C7;connectAtStartup=1;");
    OpenPane();

    struct Expected {
        std::string descriptor;
        int widgetClass;
        int left, top, right, bottom;
        bool visible;
    };
    const int L = 414, T = 408;  // 1024 x 768 screen: left of the plane list's place, top-aligned with it
    auto row = [&](int k) { return T - (k * 20 + 10); };
    const int label = L + 40, field = L + 145, radio1 = L + 145, radio2 = L + 190;
    const std::vector<Expected> expected = {
        {"Control & Settings", 1, L, T, L + 300, T - 400, true},
        {"", 2, L + 20, T - 40, L + 280, T - 380, true},
        {"User ID:", 6, label, row(2), label + 100, row(2) - 12, true},
        {"1234", 4, field, row(2), field + 110, row(2) - 12, true},
        {"Password:", 6, label, row(3), label + 100, row(3) - 12, true},
        {"pw", 4, field, row(3), field + 110, row(3) - 12, true},
        {"Call/Nickname:", 6, label, row(4), label + 100, row(4) - 12, true},
        {"ACE1", 4, field, row(4), field + 110, row(4) - 12, true},
        {"Flight Mode:", 6, label, row(5), label + 100, row(5) - 12, true},
        {"Solo", 3, radio1, row(5), radio1 + 10, row(5) - 12, true},
        {"Crewed", 3, radio2, row(5), radio2 + 10, row(5) - 12, true},
        {"Crew ID:", 6, label, row(6), label + 100, row(6) - 12, false},
        {"C7", 4, field, row(6), field + 110, row(6) - 12, false},
        {"Position:", 6, label, row(7), label + 100, row(7) - 12, false},
        {"Pilot", 3, radio1, row(7), radio1 + 10, row(7) - 12, false},
        {"Co-Pilot", 3, radio1, row(8), radio1 + 10, row(8) - 12, false},
        {"Navigator", 3, radio1, row(9), radio1 + 10, row(9) - 12, false},
        {"Flight Engineer", 3, radio1, row(10), radio1 + 10, row(10) - 12, false},
        {"Connect", 3, L + 40, T - 280, L + 110, T - 292, false},
        {"Disconnect", 3, L + 40, T - 280, L + 110, T - 292, true},
        {"Connect at startup", 3, radio1, T - 280, radio1 + 10, T - 292, true},
        {"Smooth traffic", 3, radio1, row(11), radio1 + 10, row(11) - 12, true},
        {"Our models", 3, label, row(11), label + 10, row(11) - 12, true},
        {"Labels", 3, label, row(10), label + 10, row(10) - 12, true},
        {"10", 4, label + 58, row(10), label + 84, row(10) - 12, true},
        {"km", 6, label + 86, row(10), label + 100, row(10) - 12, true},
        {"Server:", 6, label, row(12), label + 100, row(12) - 12, true},
        {SKORVALE_SERVER_ADDRESS, 4, field, row(12), field + 110, row(12) - 12, true},
        {"Cancel", 3, L + 65, T - 300, L + 120, T - 312, true},
        {"Apply", 3, L + 125, T - 300, L + 170, T - 312, true},
        {"Save & Close", 3, L + 175, T - 300, L + 255, T - 312, true},
        // The status line's three rows: what they say is checked below.
        {"*", 6, label, T - 316, L + 260, T - 328, true},
        {"*", 6, label, T - 336, L + 260, T - 348, true},
        {"*", 6, label, T - 356, L + 260, T - 368, true},
    };
    std::vector<XPWidgetID> widgets = host.Widgets();
    ASSERT_EQ(widgets.size(), expected.size());
    for (size_t i = 0; i < widgets.size(); i++) {
        simhost::WidgetInfo w = host.Widget(widgets[i]).value();
        const Expected &e = expected[i];
        SCOPED_TRACE(e.descriptor);
        if (e.descriptor != "*") {
            EXPECT_EQ(w.descriptor, e.descriptor);
        }
        EXPECT_EQ(w.widgetClass, e.widgetClass);
        EXPECT_EQ(std::vector<int>({w.left, w.top, w.right, w.bottom}),
                  std::vector<int>({e.left, e.top, e.right, e.bottom}));
        EXPECT_EQ(w.visible, e.visible);
        EXPECT_EQ(w.isRoot, i == 0);
        EXPECT_EQ(w.parent, i == 0 ? nullptr : PrefPaneWidget);
    }

    EXPECT_EQ(host.WidgetProperty(PrefPaneWidget, xpProperty_MainWindowHasCloseBoxes), 0);
    EXPECT_EQ(host.WidgetProperty(PrefPaneWindow, xpProperty_SubWindowType), xpSubWindowStyle_SubWindow);
    for (XPWidgetID f : {UserIDF, PasswordF, CallsignF, CrewIDF, ServerF})
        EXPECT_EQ(host.WidgetProperty(f, xpProperty_TextFieldType), xpTextEntryField);
    // Each field takes no more than is kept.
    EXPECT_EQ(host.WidgetProperty(UserIDF, xpProperty_MaxCharacters), 64);
    EXPECT_EQ(host.WidgetProperty(PasswordF, xpProperty_MaxCharacters), 64);
    EXPECT_EQ(host.WidgetProperty(CallsignF, xpProperty_MaxCharacters), 32);
    EXPECT_EQ(host.WidgetProperty(ServerF, xpProperty_MaxCharacters), 259);
    EXPECT_EQ(host.WidgetProperty(PasswordF, xpProperty_PasswordMode), 1);
    EXPECT_EQ(host.WidgetProperty(UserIDF, xpProperty_PasswordMode), 0);
    for (XPWidgetID b : {FlightModeB1, FlightModeB2, PositionB1, PositionB4}) {
        EXPECT_EQ(host.WidgetProperty(b, xpProperty_ButtonType), xpRadioButton);
        EXPECT_EQ(host.WidgetProperty(b, xpProperty_ButtonBehavior), xpButtonBehaviorRadioButton);
    }
    EXPECT_EQ(host.WidgetProperty(ConnectStartB, xpProperty_ButtonType), xpRadioButton);
    EXPECT_EQ(host.WidgetProperty(ConnectStartB, xpProperty_ButtonBehavior), xpButtonBehaviorCheckBox);
    EXPECT_EQ(host.WidgetProperty(SmoothTrafficB, xpProperty_ButtonBehavior), xpButtonBehaviorCheckBox);
    EXPECT_EQ(State(SmoothTrafficB), 0);
    for (XPWidgetID b : {ConnectB, DisconnectB, CancelB, ApplyB, SaveB}) {
        EXPECT_EQ(host.WidgetProperty(b, xpProperty_ButtonType), xpPushButton);
        EXPECT_EQ(host.WidgetProperty(b, xpProperty_ButtonBehavior), xpButtonBehaviorPushButton);
    }

    // Filled from the settings; the connect at enable found no server and tries again by itself, so
    // "Disconnect" (to stop it) is offered and the status line says why.
    EXPECT_EQ(State(FlightModeB1), 1);
    EXPECT_EQ(State(FlightModeB2), 0);
    EXPECT_EQ(PositionStates(), std::vector<int>({0, 0, 1, 0}));
    EXPECT_EQ(State(ConnectStartB), 1);
    EXPECT_FALSE(host.IsWidgetShown(ConnectB));
    EXPECT_TRUE(host.IsWidgetShown(DisconnectB));
    EXPECT_EQ(Field(StatusT).rfind("Cannot reach ", 0), 0u) << Field(StatusT);

    // Choosing the item again while the pane is up changes nothing, not even an edited field.
    ASSERT_TRUE(host.ReplaceFieldText(UserIDF, "edited"));
    OpenPane();
    EXPECT_EQ(Field(UserIDF), "edited");
    EXPECT_EQ(host.Widgets().size(), expected.size());
}

TEST_F(PrefPaneTest, RadioGroupsStayExclusiveAndApplyStoresTheChoice) {
    Start(kStored);
    OpenPane();
    EXPECT_EQ(CrewRowsShown(), noneShown);

    ASSERT_TRUE(Click("Crewed"));
    EXPECT_EQ(CrewRowsShown(), allShown);  // at once, before any Apply
    EXPECT_EQ(State(FlightModeB1), 0);
    EXPECT_EQ(State(FlightModeB2), 1);
    ASSERT_TRUE(Click("Pilot"));
    EXPECT_EQ(PositionStates(), std::vector<int>({1, 0, 0, 0}));
    ASSERT_TRUE(Click("Flight Engineer"));
    EXPECT_EQ(PositionStates(), std::vector<int>({0, 0, 0, 1}));
    ASSERT_TRUE(Click("Co-Pilot"));
    EXPECT_EQ(PositionStates(), std::vector<int>({0, 1, 0, 0}));
    EXPECT_EQ(SavedSettings(), kStored);  // nothing stored before Apply

    ASSERT_TRUE(Click("Apply"));
    EXPECT_TRUE(host.IsWidgetShown(PrefPaneWidget));
    EXPECT_EQ(SavedSettings(),
              "callsign=ACE1;userID=1234;password=pw;flightMode=1;cockpitPosition=1;crewID=C7;connectAtStartup=0;");

    // Solo stores position 0 whatever position button is still set.
    ASSERT_TRUE(Click("Solo"));
    EXPECT_EQ(CrewRowsShown(), noneShown);
    EXPECT_EQ(State(FlightModeB1), 1);
    EXPECT_EQ(State(FlightModeB2), 0);
    ASSERT_TRUE(Click("Connect at startup"));
    ASSERT_TRUE(Click("Apply"));
    EXPECT_EQ(SavedSettings(),
              "callsign=ACE1;userID=1234;password=pw;flightMode=0;cockpitPosition=0;crewID=C7;connectAtStartup=1;");
    EXPECT_EQ(flightMode, 0);
    EXPECT_EQ(connectAtStartup, 1);

    // Smooth traffic is stored only while it is on, so a file saved with it off is as it always was.
    ASSERT_TRUE(Click("Smooth traffic"));
    ASSERT_TRUE(Click("Apply"));
    EXPECT_EQ(SavedSettings(),
              "callsign=ACE1;userID=1234;password=pw;flightMode=0;cockpitPosition=0;crewID=C7;connectAtStartup=1;"
              "smoothTraffic=1;");
    EXPECT_EQ(smoothTraffic, 1);
    XPluginDisable();
    XPluginEnable();
    OpenPane();
    EXPECT_EQ(State(SmoothTrafficB), 1);
    ASSERT_TRUE(Click("Smooth traffic"));
    ASSERT_TRUE(Click("Apply"));
    EXPECT_EQ(smoothTraffic, 0);
    EXPECT_EQ(SavedSettings(),
              "callsign=ACE1;userID=1234;password=pw;flightMode=0;cockpitPosition=0;crewID=C7;connectAtStartup=1;");
}

TEST_F(PrefPaneTest, ReadBackCutsOverlongTextAndSaveAndCloseHidesThePane) {
    Start(kStored);
    OpenPane();
    const std::string password64 = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ!@";
    ASSERT_EQ(password64.size(), 64u);
    ASSERT_TRUE(host.ReplaceFieldText(UserIDF, std::string(70, 'U')));
    ASSERT_TRUE(host.ReplaceFieldText(PasswordF, password64 + "xyz"));
    ASSERT_TRUE(host.ReplaceFieldText(CallsignF, "exactly15chars!"));
    ASSERT_TRUE(Click("Save & Close"));

    EXPECT_FALSE(host.IsWidgetShown(PrefPaneWidget));
    // A 64-byte password and user ID are kept whole; the crew ID is read back from its hidden field too.
    EXPECT_EQ(SavedSettings(), "callsign=exactly15chars!;userID=" + std::string(64, 'U') + ";password=" + password64 +
                                   ";flightMode=0;cockpitPosition=0;crewID=C7;connectAtStartup=0;");
    EXPECT_EQ(userID, std::string(64, 'U'));
    EXPECT_EQ(password, password64);

    // Reopening refills from what was stored.
    OpenPane();
    EXPECT_TRUE(host.IsWidgetShown(PrefPaneWidget));
    EXPECT_EQ(Field(UserIDF), std::string(64, 'U'));
    EXPECT_EQ(Field(PasswordF), password64);

    // A ";" would end the value early in the settings file and lose the user ID behind it at the next
    // start, so it is not kept.
    ASSERT_TRUE(host.ReplaceFieldText(CallsignF, "A;B;C"));
    ASSERT_TRUE(Click("Apply"));
    XPluginDisable();
    XPluginEnable();
    EXPECT_EQ(myCallsign, "ABC");
    EXPECT_EQ(userID, std::string(64, 'U'));

    // Emptied fields store empty values.
    ASSERT_TRUE(host.ReplaceFieldText(CallsignF, ""));
    ASSERT_TRUE(Click("Apply"));
    EXPECT_EQ(myCallsign, "");
}

TEST_F(PrefPaneTest, CancelAndTheCloseMessageDiscardEdits) {
    Start(kStored);
    OpenPane();
    ASSERT_TRUE(host.ReplaceFieldText(UserIDF, "someone"));
    ASSERT_TRUE(host.ReplaceFieldText(CallsignF, "XX"));
    ASSERT_TRUE(Click("Crewed"));
    ASSERT_TRUE(Click("Pilot"));
    ASSERT_TRUE(Click("Cancel"));
    EXPECT_FALSE(host.IsWidgetShown(PrefPaneWidget));
    EXPECT_EQ(SavedSettings(), kStored);
    EXPECT_EQ(userID, "1234");

    OpenPane();
    EXPECT_EQ(Field(UserIDF), "1234");
    EXPECT_EQ(Field(CallsignF), "ACE1");
    EXPECT_EQ(State(FlightModeB1), 1);
    EXPECT_EQ(State(FlightModeB2), 0);
    EXPECT_EQ(CrewRowsShown(), noneShown);
    EXPECT_EQ(PositionStates(), std::vector<int>({0, 0, 1, 0}));

    // The window's close message hides it the same way, without reading anything back.
    ASSERT_TRUE(host.ReplaceFieldText(UserIDF, "other"));
    EXPECT_EQ(XPSendMessageToWidget(PrefPaneWidget, xpMessage_CloseButtonPushed, xpMode_Direct, 0, 0), 1);
    EXPECT_FALSE(host.IsWidgetShown(PrefPaneWidget));
    EXPECT_EQ(userID, "1234");
}

TEST_F(PrefPaneTest, UnknownModeAndPositionFromAHandEditedFileAreKept) {
    Start("flightMode=5;cockpitPosition=7;crewID=C7;");
    OpenPane();
    EXPECT_EQ(State(FlightModeB1), 0);
    EXPECT_EQ(State(FlightModeB2), 0);
    EXPECT_EQ(CrewRowsShown(), noneShown);
    EXPECT_EQ(PositionStates(), std::vector<int>({0, 0, 0, 0}));

    // Neither mode chosen: both numbers stay as they were.
    ASSERT_TRUE(Click("Apply"));
    EXPECT_EQ(flightMode, 5);
    EXPECT_EQ(cockpitPosition, 7);

    // Crewed with no position chosen keeps the position.
    ASSERT_TRUE(Click("Crewed"));
    ASSERT_TRUE(Click("Apply"));
    EXPECT_EQ(flightMode, 1);
    EXPECT_EQ(cockpitPosition, 7);
    EXPECT_EQ(SavedSettings(),
              "callsign=;userID=;password=;flightMode=1;cockpitPosition=7;crewID=C7;connectAtStartup=0;");

    // Unknown codes read at the next enable leave the controls as the user last saw them.
    ASSERT_TRUE(Click("Navigator"));
    ASSERT_TRUE(Click("Cancel"));
    XPluginDisable();
    ASSERT_TRUE(scratch.Write("Resources/plugins/svprefs.txt", "flightMode=-2;cockpitPosition=4;"));
    XPluginEnable();
    OpenPane();
    EXPECT_EQ(State(FlightModeB2), 1);
    EXPECT_EQ(CrewRowsShown(), allShown);
    EXPECT_EQ(PositionStates(), std::vector<int>({0, 0, 1, 0}));
}

TEST_F(PrefPaneTest, ConnectUsesTheFieldsAndTheButtonsAndStatusFollowTheConnection) {
    std::string deadAddress = testsupport::UniqueLoopbackAddress();
    std::string liveAddress = testsupport::UniqueLoopbackAddress();
    testsupport::FixtureServer server(liveAddress);
    ASSERT_TRUE(server.Ok());
    Start(kStored);
    OpenPane();
    EXPECT_EQ(Field(StatusT), "Disconnected");

    // Nobody listens there: the status says so, and "Disconnect" stops the plug-in trying again.
    testsupport::PointPluginAt(deadAddress);
    ASSERT_TRUE(Click("Connect"));
    host.RunFor(0.1);
    EXPECT_EQ(Field(StatusT).rfind("Cannot reach " + deadAddress + ":49556:", 0), 0u) << Field(StatusT);
    EXPECT_TRUE(host.IsWidgetShown(DisconnectB));
    ASSERT_TRUE(Click("Disconnect"));
    host.RunFrame();
    EXPECT_TRUE(host.IsWidgetShown(ConnectB));
    EXPECT_EQ(Field(StatusT), "Disconnected");

    // Connect takes what the fields show, without Apply, and stores it as Apply does.
    testsupport::PointPluginAt(liveAddress);
    ASSERT_TRUE(host.ReplaceFieldText(UserIDF, "typed"));
    ASSERT_TRUE(Click("Connect"));
    host.RunFor(0.1);
    EXPECT_FALSE(host.IsWidgetShown(ConnectB));
    EXPECT_TRUE(host.IsWidgetShown(DisconnectB));
    ASSERT_TRUE(server.WaitForStreamLines(1, 3000));
    EXPECT_EQ(server.StreamBytes().rfind(std::to_string(uniqueID) + "|Opening Connection|typed|", 0), 0u);
    EXPECT_NE(SavedSettings().find("userID=typed;"), std::string::npos);
    EXPECT_EQ(Field(StatusT).rfind("Logged in to " + liveAddress + ":49556", 0), 0u) << Field(StatusT);

    ASSERT_TRUE(Click("Disconnect"));
    EXPECT_TRUE(host.IsWidgetShown(ConnectB));
    ASSERT_TRUE(server.WaitForStreamLines(2, 3000));
    std::string bytes = server.StreamBytes();
    EXPECT_EQ(bytes.substr(bytes.find('\n') + 1), std::to_string(uniqueID) + "|Closing Connection\n");

    // The server drops the connection: the plug-in says so and is back by itself after a few seconds.
    ASSERT_TRUE(Click("Connect"));
    ASSERT_TRUE(server.WaitForConnections(2, 3000));
    host.RunFor(0.2);
    server.CloseStream(1);
    ASSERT_TRUE(WaitForStreamData());
    host.RunFor(0.1);
    EXPECT_EQ(tcpconnected, 0);
    EXPECT_EQ(Field(StatusT).rfind("Connection lost:", 0), 0u) << Field(StatusT);
    EXPECT_TRUE(host.IsWidgetShown(DisconnectB));
    for (int i = 0; i < 60 && server.ConnectionCount() < 3; i++) host.RunFor(0.1);
    ASSERT_TRUE(server.WaitForConnections(3, 3000));
    host.RunFor(0.1);
    EXPECT_EQ(tcpconnected, 1);
}

TEST_F(PrefPaneTest, AServerTypedInThePaneIsLookedUpUsedAndStoredAndABadOneIsSaidSo) {
    // A port of this process's own on 127.0.0.1, which "localhost" names.
    const int port = 20000 + (int)(getpid() % 20000);
    testsupport::FixtureServer server("127.0.0.1", port);
    ASSERT_TRUE(server.Ok());
    unsetenv("SKORVALE_SERVER_ADDRESS");
    Start(kStored);
    OpenPane();
    EXPECT_EQ(Field(ServerF), SKORVALE_SERVER_ADDRESS);

    // A bad entry is said so at Apply and at Connect, and no other server is tried.
    ASSERT_TRUE(host.ReplaceFieldText(ServerF, "localhost:" + std::to_string(port) + "0000"));
    ASSERT_TRUE(Click("Apply"));
    host.RunFrame();
    EXPECT_EQ(Field(StatusT), "The server entry is not valid: the port");
    ASSERT_TRUE(Click("Connect"));
    host.RunFor(0.5);
    EXPECT_EQ(Field(StatusT).rfind("The server \"localhost:", 0), 0u) << Field(StatusT);
    EXPECT_TRUE(host.IsWidgetShown(ConnectB));

    const std::string typed = "LocalHost:" + std::to_string(port);
    ASSERT_TRUE(host.ReplaceFieldText(ServerF, typed));
    ASSERT_TRUE(Click("Connect"));
    for (int i = 0; i < 300 && tcpconnected == 0; i++) {
        host.RunFor(0.03);
        usleep(10000);
    }
    ASSERT_EQ(tcpconnected, 1) << Field(StatusT);
    ASSERT_TRUE(server.WaitForStreamLines(1, 3000));
    EXPECT_NE(server.StreamBytes().find("|Opening Connection|1234|"), std::string::npos);
    EXPECT_EQ(Field(StatusT).rfind("Logged in to localhost:" + std::to_string(port), 0), 0u) << Field(StatusT);
    EXPECT_NE(SavedSettings().find(";server=" + typed + ";"), std::string::npos) << SavedSettings();
    testsupport::PointPluginAt(testsupport::UniqueLoopbackAddress());
}

TEST_F(PrefPaneTest, MenuIgnoresUnknownItems) {
    Start();
    SkorvaleMenuCallback(nullptr, nullptr);
    SkorvaleMenuCallback(nullptr, (void *)"3");
    SkorvaleMenuCallback(nullptr, (void *)"");
    EXPECT_EQ(PrefPane, 0);
    EXPECT_TRUE(host.Widgets().empty());
    EXPECT_FALSE(Geometry(gWindow).visible);
}

}  // namespace
}  // namespace uitest
