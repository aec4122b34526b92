// The plug-in's menu and its settings pane: building the widgets, refilling them and handling their messages.
#include "ui/PrefPane.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/Preferences.h"
#include "core/SkorvaleSE.h"
#include "net/Connection.h"

namespace {

// The seven controls that only matter in crewed mode, in the order they are hidden and shown.
XPWidgetID *const kCrewWidgets[] = {&PositionT, &PositionB1, &PositionB2, &PositionB3, &PositionB4, &CrewIDT, &CrewIDF};
XPWidgetID *const kPositionButtons[] = {&PositionB1, &PositionB2, &PositionB3, &PositionB4};

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

// The connection also ends without the pane (a server that drops it, a failed send) and opens without
// it (connect at start): the buttons are matched to it at every draw and every click, and touched only
// when they differ, so a steady state sends the widgets nothing.
void FollowConnection() {
    bool connected = tcpconnected != 0;
    if ((XPIsWidgetVisible(DisconnectB) != 0) != connected || (XPIsWidgetVisible(ConnectB) != 0) == connected) {
        ShowConnected(connected);
    }
}

// A field's text, at most `limit` characters. The widget library copies like strncpy, so a cut copy
// carries no terminator: the buffer has one byte more than the limit and is terminated here.
// The settings file ends every value at a ";", so one kept here would cut this value short and make the
// entries after it unreadable at the next start (a callsign "A;B" loses the user ID): it is dropped.
std::string ReadField(XPWidgetID field, int limit) {
    char buffer[32] = {};
    XPGetWidgetDescriptor(field, buffer, limit);
    buffer[limit] = '\0';
    std::string text(buffer, strnlen(buffer, (size_t)limit));
    text.erase(std::remove(text.begin(), text.end(), ';'), text.end());
    return text;
}

void ReadBackAndSave() {
    userID = ReadField(UserIDF, 15);
    password = ReadField(PasswordF, 25);
    myCallsign = ReadField(CallsignF, 15);
    crewID = ReadField(CrewIDF, 15);

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
        // connection as it is (a failed connect leaves "Connect", so the user can simply try again).
        if (button == ConnectB && tcpconnected == 0) ConnectToServer();
        if (button == DisconnectB && tcpconnected != 0) DisconnectFromServer();
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

XPWidgetID CreateField(int left, int top, int right, int bottom, int visible, const std::string &text) {
    XPWidgetID field = CreateChild(left, top, right, bottom, visible, text.c_str(), xpWidgetClass_TextField);
    XPSetWidgetProperty(field, xpProperty_TextFieldType, xpTextEntryField);
    return field;
}

}  // namespace

void SkorvaleMenuCallback(void *, void *inItemRef) {
    // The item references are the texts "1" and "2"; anything else, a null one included, is ignored.
    const char *item = (const char *)inItemRef;
    if (item == nullptr) return;

    if (std::strcmp(item, "1") == 0) {
        if (PrefPane == 0) {
            CreatePrefPane(300, 300);
            PrefPane = 1;
        } else if (!XPIsWidgetVisible(PrefPaneWidget)) {
            InitializePrefPane();
            XPShowWidget(PrefPaneWidget);
        }
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
    const int rowATop = T - 12 * b, rowABottom = T - 12 * b - 12;
    const int rowBTop = T - 13 * b, rowBBottom = T - 13 * b - 12;

    PrefPaneWidget = XPCreateWidget(L, T, R, B, 1, "Control & Settings", 1, nullptr, xpWidgetClass_MainWindow);
    XPSetWidgetProperty(PrefPaneWidget, xpProperty_MainWindowHasCloseBoxes, 0);

    PrefPaneWindow = CreateChild(L + b, T - 2 * b, R - b, B + b, 1, "", xpWidgetClass_SubWindow);
    XPSetWidgetProperty(PrefPaneWindow, xpProperty_SubWindowType, xpSubWindowStyle_SubWindow);

    UserIDT = CreateChild(labelLeft, rowTop(2), labelRight, rowBottom(2), 1, "User ID:", xpWidgetClass_Caption);
    UserIDF = CreateField(fieldLeft, rowTop(2), fieldRight, rowBottom(2), 1, userID);

    PasswordT = CreateChild(labelLeft, rowTop(3), labelRight, rowBottom(3), 1, "Password:", xpWidgetClass_Caption);
    PasswordF = CreateField(fieldLeft, rowTop(3), fieldRight, rowBottom(3), 1, password);
    XPSetWidgetProperty(PasswordF, xpProperty_PasswordMode, 1);

    CallsignT = CreateChild(labelLeft, rowTop(4), labelRight, rowBottom(4), 1, "Call/Nickname:", xpWidgetClass_Caption);
    CallsignF = CreateField(fieldLeft, rowTop(4), fieldRight, rowBottom(4), 1, myCallsign);

    FlightModeT = CreateChild(labelLeft, rowTop(5), labelRight, rowBottom(5), 1, "Flight Mode:", xpWidgetClass_Caption);
    FlightModeB1 = CreateButton(radio1Left, rowTop(5), radio1Right, rowBottom(5), 1, "Solo", xpRadioButton,
                                xpButtonBehaviorRadioButton);
    FlightModeB2 = CreateButton(radio2Left, rowTop(5), radio2Right, rowBottom(5), 1, "Crewed", xpRadioButton,
                                xpButtonBehaviorRadioButton);

    CrewIDT = CreateChild(labelLeft, rowTop(6), labelRight, rowBottom(6), 0, "Crew ID:", xpWidgetClass_Caption);
    CrewIDF = CreateField(fieldLeft, rowTop(6), fieldRight, rowBottom(6), 0, crewID);

    PositionT = CreateChild(labelLeft, rowTop(7), labelRight, rowBottom(7), 0, "Position:", xpWidgetClass_Caption);
    const char *positionNames[] = {"Pilot", "Co-Pilot", "Navigator", "Flight Engineer"};
    for (int i = 0; i < 4; i++) {
        *kPositionButtons[i] = CreateButton(radio1Left, rowTop(7 + i), radio1Right, rowBottom(7 + i), 0,
                                            positionNames[i], xpRadioButton, xpButtonBehaviorRadioButton);
    }

    // Connect and Disconnect share one place; only one of them is ever shown.
    ConnectB = CreateButton(L + 2 * b, rowATop, L + 2 * b + 70, rowABottom, tcpconnected == 0, "Connect", xpPushButton,
                            xpButtonBehaviorPushButton);
    DisconnectB = CreateButton(L + 2 * b, rowATop, L + 2 * b + 70, rowABottom, tcpconnected != 0, "Disconnect",
                               xpPushButton, xpButtonBehaviorPushButton);
    ConnectStartB = CreateButton(radio1Left, rowATop, radio1Right, rowABottom, 1, "Connect at startup", xpRadioButton,
                                 xpButtonBehaviorCheckBox);
    SetState(ConnectStartB, connectAtStartup);
    SmoothTrafficB = CreateButton(radio1Left, rowTop(11), radio1Right, rowBottom(11), 1, "Smooth traffic",
                                  xpRadioButton, xpButtonBehaviorCheckBox);

    CancelB = CreateButton(L + 2 * b + 25, rowBTop, L + 2 * b + 80, rowBBottom, 1, "Cancel", xpPushButton,
                           xpButtonBehaviorPushButton);
    ApplyB = CreateButton(L + 2 * b + 85, rowBTop, L + 2 * b + 130, rowBBottom, 1, "Apply", xpPushButton,
                          xpButtonBehaviorPushButton);
    SaveB = CreateButton(L + 2 * b + 135, rowBTop, L + 2 * b + 215, rowBBottom, 1, "Save & Close", xpPushButton,
                         xpButtonBehaviorPushButton);

    InitializePrefPane();
    XPAddWidgetCallback(PrefPaneWidget, PrefPaneHandler);
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
    ShowConnected(tcpconnected != 0);
    SetState(ConnectStartB, connectAtStartup);
    SetState(SmoothTrafficB, smoothTraffic != 0);
    if (cockpitPosition >= 0 && cockpitPosition <= 3) SelectPosition(cockpitPosition);

    XPSetWidgetDescriptor(UserIDF, userID.c_str());
    XPSetWidgetDescriptor(PasswordF, password.c_str());
    XPSetWidgetDescriptor(CallsignF, myCallsign.c_str());
    XPSetWidgetDescriptor(CrewIDF, crewID.c_str());
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
