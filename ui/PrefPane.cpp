// The plug-in's menu and its settings pane: building the widgets, refilling them and handling their messages.
#include "ui/PrefPane.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/ConnectionStatus.h"
#include "core/Preferences.h"
#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/Protocol.h"
#include "net/ServerAddress.h"

namespace {

// The seven controls that only matter in crewed mode, in the order they are hidden and shown.
XPWidgetID *const kCrewWidgets[] = {&PositionT, &PositionB1, &PositionB2, &PositionB3, &PositionB4, &CrewIDT, &CrewIDF};
XPWidgetID *const kPositionButtons[] = {&PositionB1, &PositionB2, &PositionB3, &PositionB4};

// What each field keeps, in bytes: the field takes no more, so what the pilot sees is what is stored.
constexpr int kUserIdLimit = 64;
constexpr int kPasswordLimit = 64;
constexpr int kCallsignLimit = 32;
constexpr int kCrewIdLimit = 32;
constexpr int kServerLimit = (int)kServerEntryLimit;

// The status line: up to three caption rows of this many characters, broken between words.
constexpr size_t kStatusColumns = 40;
constexpr int kStatusRows = 3;
XPWidgetID statusRows[kStatusRows];
std::string shownStatus;
// A server entry the pilot applied that cannot be used: said in the status line until a good one is applied.
std::string serverEntryError;

void ShowCrewWidgets(bool shown) {
    for (XPWidgetID *widget : kCrewWidgets) {
        if (shown) {
            XPShowWidget(*widget);
        } else {
            XPHideWidget(*widget);
        }
    }
}

void SetState(XPWidgetID button, int state) { XPSetWidgetProperty(button, xpProperty_ButtonState, state); }
int GetState(XPWidgetID button) { return (int)XPGetWidgetProperty(button, xpProperty_ButtonState, nullptr); }

void SelectFlightMode(int mode) {
    SetState(FlightModeB1, mode == 0);
    SetState(FlightModeB2, mode == 1);
}

void SelectPosition(int position) {
    for (int i = 0; i < 4; i++) SetState(*kPositionButtons[i], i == position);
}

void ShowConnected(bool connected) {
    if (connected) {
        XPHideWidget(ConnectB);
        XPShowWidget(DisconnectB);
    } else {
        XPShowWidget(ConnectB);
        XPHideWidget(DisconnectB);
    }
}

// "Disconnect" while the plug-in is online or trying to be (so the pilot can stop it trying), "Connect"
// otherwise.
bool Engaged() {
    ConnectionState state = CurrentConnectionState();
    return state == ConnectionState::Connecting || state == ConnectionState::LoggedIn ||
           state == ConnectionState::Waiting;
}

// The status line broken into the caption rows, at blanks where it can be.
void ShowStatus(const std::string &status) {
    if (status == shownStatus) return;
    shownStatus = status;
    size_t at = 0;
    for (int row = 0; row < kStatusRows; row++) {
        while (at < status.size() && status[at] == ' ') at++;
        size_t length = status.size() - at;
        if (length > kStatusColumns) {
            size_t blank = status.rfind(' ', at + kStatusColumns);
            length = blank != std::string::npos && blank > at ? blank - at : kStatusColumns;
        }
        XPSetWidgetDescriptor(statusRows[row], status.substr(at, length).c_str());
        at += length;
    }
}

// The connection also changes without the pane (a server that drops it, a reconnect, connect at start):
// the buttons and the status line are matched to it at every draw and every click, and touched only
// when they differ, so a steady state sends the widgets nothing.
void FollowConnection() {
    bool connected = Engaged();
    if ((XPIsWidgetVisible(DisconnectB) != 0) != connected || (XPIsWidgetVisible(ConnectB) != 0) == connected) {
        ShowConnected(connected);
    }
    ShowStatus(serverEntryError.empty() ? StatusLine() : serverEntryError);
}

// A field's text, at most `limit` characters. The widget library copies like strncpy, so a cut copy
// carries no terminator: the buffer has one byte more than the limit and is terminated here.
// The settings file ends every value at a ";", so one kept here would cut this value short and make the
// entries after it unreadable at the next start (a callsign "A;B" loses the user ID): it is dropped.
std::string ReadField(XPWidgetID field, int limit) {
    std::string buffer((size_t)limit + 1, '\0');
    XPGetWidgetDescriptor(field, &buffer[0], limit);
    std::string text(buffer.c_str(), strnlen(buffer.c_str(), (size_t)limit));
    text.erase(std::remove(text.begin(), text.end(), ';'), text.end());
    return text;
}

void ReadBackAndSave() {
    userID = ReadField(UserIDF, kUserIdLimit);
    password = ReadField(PasswordF, kPasswordLimit);
    myCallsign = ReadField(CallsignF, kCallsignLimit);
    crewID = ReadField(CrewIDF, kCrewIdLimit);
    // The built-in server is not stored, so a later release's default reaches the pilots who never chose.
    std::string server = ReadField(ServerF, kServerLimit);
    serverSetting = server == BuiltInServer() ? std::string() : server;
    ServerName parsed;
    std::string error;
    if (!server.empty() && !ParseServerName(server, &parsed, &error)) {
        serverEntryError = "The server entry is not valid: " + error;
        LogForPilot(serverEntryError);
    } else {
        serverEntryError.clear();
    }

    if (GetState(FlightModeB1) == 1) {
        flightMode = 0;
        cockpitPosition = 0;
    } else if (GetState(FlightModeB2) == 1) {
        flightMode = 1;
        for (int i = 0; i < 4; i++) {
            if (GetState(*kPositionButtons[i]) == 1) {
                cockpitPosition = i;
                break;
            }
        }
    }
    connectAtStartup = GetState(ConnectStartB);
    smoothTraffic = GetState(SmoothTrafficB);
    trafficModels = GetState(TrafficModelsB) != 0 ? 1 : 0;
    trafficLabels = GetState(TrafficLabelsB) != 0 ? 1 : 0;
    // 1 to 100 km; what is no number keeps the range as it was.
    const std::string range = ReadField(LabelRangeF, 3);
    const int km = stringtoi(range);
    if (km > 0) labelRangeKm = km > 100 ? 100 : km;
    SavePreferences();
}

void HidePane() {
    if (PrefPane == 1) XPHideWidget(PrefPaneWidget);
}

int HandleStateChanged(XPWidgetID button, intptr_t newState) {
    // A button being switched off is ignored; the groups are kept exclusive when one is switched on.
    if (newState != 1) return 0;
    if (button == FlightModeB1) {
        ShowCrewWidgets(false);
        SelectFlightMode(0);
        return 1;
    }
    if (button == FlightModeB2) {
        ShowCrewWidgets(true);
        SelectFlightMode(1);
        return 1;
    }
    for (int i = 0; i < 4; i++) {
        if (button == *kPositionButtons[i]) {
            SelectPosition(i);
            return 1;
        }
    }
    return 0;
}

int HandlePushed(XPWidgetID button) {
    if (button == ConnectB || button == DisconnectB) {
        // Each button acts only in the state it stands for; either way the buttons then show the
        // connection as it is. Connect uses what the fields show, stored as Apply stores it.
        if (button == ConnectB && !Engaged()) {
            ReadBackAndSave();
            // From here the connection's own status says what became of the entry.
            serverEntryError.clear();
            ConnectToServer();
        }
        if (button == DisconnectB && Engaged()) DisconnectFromServer();
        FollowConnection();
        return 0;
    }
    if (button == CancelB) {
        // Edits stay in the controls; the next opening refills them from the settings.
        HidePane();
        return 1;
    }
    if (button == ApplyB) {
        ReadBackAndSave();
        return 1;
    }
    if (button == SaveB) {
        ReadBackAndSave();
        HidePane();
        return 1;
    }
    return 0;
}

XPWidgetID CreateChild(int left, int top, int right, int bottom, int visible, const char *text, int widgetClass) {
    return XPCreateWidget(left, top, right, bottom, visible, text, 0, PrefPaneWidget, widgetClass);
}

XPWidgetID CreateButton(int left, int top, int right, int bottom, int visible, const char *text, int type,
                        int behaviour) {
    XPWidgetID button = CreateChild(left, top, right, bottom, visible, text, xpWidgetClass_Button);
    XPSetWidgetProperty(button, xpProperty_ButtonType, type);
    XPSetWidgetProperty(button, xpProperty_ButtonBehavior, behaviour);
    return button;
}

XPWidgetID CreateField(int left, int top, int right, int bottom, int visible, const std::string &text, int limit) {
    XPWidgetID field = CreateChild(left, top, right, bottom, visible, text.c_str(), xpWidgetClass_TextField);
    XPSetWidgetProperty(field, xpProperty_TextFieldType, xpTextEntryField);
    XPSetWidgetProperty(field, xpProperty_MaxCharacters, limit);
    return field;
}

std::string ServerShown() { return serverSetting.empty() ? BuiltInServer() : serverSetting; }

}  // namespace

void SkorvaleMenuCallback(void *, void *inItemRef) {
    // The item references are the texts "1" and "2"; anything else, a null one included, is ignored.
    const char *item = (const char *)inItemRef;
    if (item == nullptr) return;

    if (std::strcmp(item, "1") == 0) {
        if (PrefPane == 0) {
            CreatePrefPane(300, 400);
            PrefPane = 1;
        } else if (!XPIsWidgetVisible(PrefPaneWidget)) {
            InitializePrefPane();
            XPShowWidget(PrefPaneWidget);
        }
        FollowConnection();
    } else if (std::strcmp(item, "2") == 0) {
        showPlaneWindow = 1 - showPlaneWindow;
        XPLMSetWindowIsVisible(gWindow, showPlaneWindow);
    }
}

void CreatePrefPane(int width, int height) {
    int screenWidth = 0, screenHeight = 0;
    XPLMGetScreenSize(&screenWidth, &screenHeight);

    const int b = winbuff;
    const int R = screenWidth - pwinw - 2 * b;
    const int L = R - width;
    const int T = screenHeight - twinh - 2 * b;
    const int B = T - height;

    const int labelLeft = L + 2 * b, labelRight = L + 2 * b + 100;
    const int fieldLeft = L + 2 * b + 105, fieldRight = L + 2 * b + 215;
    const int radio1Left = L + 2 * b + 105, radio1Right = L + 2 * b + 115;
    const int radio2Left = L + 2 * b + 150, radio2Right = L + 2 * b + 160;
    // Rows sit half a row below their index; computed in double and cut toward zero like the layout's rule.
    auto rowTop = [&](int k) { return T - (int)((k + 0.5) * b); };
    auto rowBottom = [&](int k) { return rowTop(k) - 12; };
    const int rowATop = T - 14 * b, rowABottom = T - 14 * b - 12;
    const int rowBTop = T - 15 * b, rowBBottom = T - 15 * b - 12;

    PrefPaneWidget = XPCreateWidget(L, T, R, B, 1, "Control & Settings", 1, nullptr, xpWidgetClass_MainWindow);
    XPSetWidgetProperty(PrefPaneWidget, xpProperty_MainWindowHasCloseBoxes, 0);

    PrefPaneWindow = CreateChild(L + b, T - 2 * b, R - b, B + b, 1, "", xpWidgetClass_SubWindow);
    XPSetWidgetProperty(PrefPaneWindow, xpProperty_SubWindowType, xpSubWindowStyle_SubWindow);

    UserIDT = CreateChild(labelLeft, rowTop(2), labelRight, rowBottom(2), 1, "User ID:", xpWidgetClass_Caption);
    UserIDF = CreateField(fieldLeft, rowTop(2), fieldRight, rowBottom(2), 1, userID, kUserIdLimit);

    PasswordT = CreateChild(labelLeft, rowTop(3), labelRight, rowBottom(3), 1, "Password:", xpWidgetClass_Caption);
    PasswordF = CreateField(fieldLeft, rowTop(3), fieldRight, rowBottom(3), 1, password, kPasswordLimit);
    XPSetWidgetProperty(PasswordF, xpProperty_PasswordMode, 1);

    CallsignT = CreateChild(labelLeft, rowTop(4), labelRight, rowBottom(4), 1, "Call/Nickname:", xpWidgetClass_Caption);
    CallsignF = CreateField(fieldLeft, rowTop(4), fieldRight, rowBottom(4), 1, myCallsign, kCallsignLimit);

    FlightModeT = CreateChild(labelLeft, rowTop(5), labelRight, rowBottom(5), 1, "Flight Mode:", xpWidgetClass_Caption);
    FlightModeB1 = CreateButton(radio1Left, rowTop(5), radio1Right, rowBottom(5), 1, "Solo", xpRadioButton,
                                xpButtonBehaviorRadioButton);
    FlightModeB2 = CreateButton(radio2Left, rowTop(5), radio2Right, rowBottom(5), 1, "Crewed", xpRadioButton,
                                xpButtonBehaviorRadioButton);

    CrewIDT = CreateChild(labelLeft, rowTop(6), labelRight, rowBottom(6), 0, "Crew ID:", xpWidgetClass_Caption);
    CrewIDF = CreateField(fieldLeft, rowTop(6), fieldRight, rowBottom(6), 0, crewID, kCrewIdLimit);

    PositionT = CreateChild(labelLeft, rowTop(7), labelRight, rowBottom(7), 0, "Position:", xpWidgetClass_Caption);
    const char *positionNames[] = {"Pilot", "Co-Pilot", "Navigator", "Flight Engineer"};
    for (int i = 0; i < 4; i++) {
        *kPositionButtons[i] = CreateButton(radio1Left, rowTop(7 + i), radio1Right, rowBottom(7 + i), 0,
                                            positionNames[i], xpRadioButton, xpButtonBehaviorRadioButton);
    }

    // Connect and Disconnect share one place; only one of them is ever shown.
    ConnectB = CreateButton(L + 2 * b, rowATop, L + 2 * b + 70, rowABottom, !Engaged(), "Connect", xpPushButton,
                            xpButtonBehaviorPushButton);
    DisconnectB = CreateButton(L + 2 * b, rowATop, L + 2 * b + 70, rowABottom, Engaged(), "Disconnect", xpPushButton,
                               xpButtonBehaviorPushButton);
    ConnectStartB = CreateButton(radio1Left, rowATop, radio1Right, rowABottom, 1, "Connect at startup", xpRadioButton,
                                 xpButtonBehaviorCheckBox);
    SetState(ConnectStartB, connectAtStartup);
    SmoothTrafficB = CreateButton(radio1Left, rowTop(11), radio1Right, rowBottom(11), 1, "Smooth traffic",
                                  xpRadioButton, xpButtonBehaviorCheckBox);
    // In the caption column, whose rows 10 and 11 hold no caption in either flight mode.
    TrafficModelsB = CreateButton(labelLeft, rowTop(11), labelLeft + 10, rowBottom(11), 1, "Our models", xpRadioButton,
                                  xpButtonBehaviorCheckBox);
    TrafficLabelsB = CreateButton(labelLeft, rowTop(10), labelLeft + 10, rowBottom(10), 1, "Labels", xpRadioButton,
                                  xpButtonBehaviorCheckBox);
    // How far the labels reach, in whole kilometres, beside the check box.
    LabelRangeF =
        CreateField(labelLeft + 58, rowTop(10), labelLeft + 84, rowBottom(10), 1, std::to_string(labelRangeKm), 3);
    CreateChild(labelLeft + 86, rowTop(10), labelRight, rowBottom(10), 1, "km", xpWidgetClass_Caption);

    ServerT = CreateChild(labelLeft, rowTop(12), labelRight, rowBottom(12), 1, "Server:", xpWidgetClass_Caption);
    ServerF = CreateField(fieldLeft, rowTop(12), fieldRight, rowBottom(12), 1, ServerShown(), kServerLimit);

    CancelB = CreateButton(L + 2 * b + 25, rowBTop, L + 2 * b + 80, rowBBottom, 1, "Cancel", xpPushButton,
                           xpButtonBehaviorPushButton);
    ApplyB = CreateButton(L + 2 * b + 85, rowBTop, L + 2 * b + 130, rowBBottom, 1, "Apply", xpPushButton,
                          xpButtonBehaviorPushButton);
    SaveB = CreateButton(L + 2 * b + 135, rowBTop, L + 2 * b + 215, rowBBottom, 1, "Save & Close", xpPushButton,
                         xpButtonBehaviorPushButton);

    // The status line, under the buttons, across the pane.
    StatusT = nullptr;
    for (int row = 0; row < kStatusRows; row++) {
        statusRows[row] = CreateChild(labelLeft, T - (16 + row) * b + 4, R - 2 * b, T - (16 + row) * b - 8, 1, "",
                                      xpWidgetClass_Caption);
    }
    StatusT = statusRows[0];
    shownStatus = std::string(1, '\0');  // nothing shown yet: the first follow fills the rows

    InitializePrefPane();
    XPAddWidgetCallback(PrefPaneWidget, PrefPaneHandler);
    FollowConnection();
}

void InitializePrefPane() {
    // A mode or position outside the known codes (a hand-edited settings file) leaves the controls alone.
    if (flightMode == 1) {
        SelectFlightMode(1);
        ShowCrewWidgets(true);
    } else if (flightMode == 0) {
        SelectFlightMode(0);
        ShowCrewWidgets(false);
    }
    ShowConnected(Engaged());
    SetState(ConnectStartB, connectAtStartup);
    SetState(SmoothTrafficB, smoothTraffic != 0);
    SetState(TrafficModelsB, trafficModels != 0);
    SetState(TrafficLabelsB, trafficLabels != 0);
    XPSetWidgetDescriptor(LabelRangeF, std::to_string(labelRangeKm).c_str());
    if (cockpitPosition >= 0 && cockpitPosition <= 3) SelectPosition(cockpitPosition);

    XPSetWidgetDescriptor(UserIDF, userID.c_str());
    XPSetWidgetDescriptor(PasswordF, password.c_str());
    XPSetWidgetDescriptor(CallsignF, myCallsign.c_str());
    XPSetWidgetDescriptor(CrewIDF, crewID.c_str());
    XPSetWidgetDescriptor(ServerF, ServerShown().c_str());
    serverEntryError.clear();
}

int PrefPaneHandler(XPWidgetMessage inMessage, XPWidgetID, intptr_t inParam1, intptr_t inParam2) {
    switch (inMessage) {
        case xpMsg_ButtonStateChanged:
            return HandleStateChanged((XPWidgetID)inParam1, inParam2);
        case xpMsg_PushButtonPressed:
            return HandlePushed((XPWidgetID)inParam1);
        case xpMessage_CloseButtonPushed:
            HidePane();
            return 1;
        case xpMsg_Paint:
            // Sent each frame the pane is shown; the library still draws it (not handled here).
            FollowConnection();
            return 0;
        default:
            return 0;
    }
}
