// A tiny plug-in module for the host's own tests: counts its starts, frames, menu picks, clicks and keys.
#include <cstdio>
#include <cstring>

#include "XPLMDisplay.h"
#include "XPLMGraphics.h"
#include "XPLMMenus.h"
#include "XPLMProcessing.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

namespace {

int starts = 0;  // a fresh load must start from zero again
int loops = 0;
int menuPicks = 0;
int presses = 0;
char typed[64] = "";
XPLMWindowID window = nullptr;
XPLMMenuID menu = nullptr;
XPWidgetID pane = nullptr;

float Loop(float, float, int, void *) {
    ++loops;
    return -1;
}

void Draw(XPLMWindowID id, void *) {
    float white[3] = {1, 1, 1};
    char line[128];
    std::snprintf(line, sizeof line, "loops %d menu %d presses %d typed %s", loops, menuPicks, presses, typed);
    int left, top;
    XPLMGetWindowGeometry(id, &left, &top, nullptr, nullptr);
    XPLMDrawString(white, left + 5, top - 20, line, nullptr, xplmFont_Basic);
}

void Key(XPLMWindowID, char, XPLMKeyFlags, char, void *, int) {}
int Mouse(XPLMWindowID, int, int, XPLMMouseStatus, void *) { return 1; }

int Sniffer(char key, XPLMKeyFlags flags, char, void *) {
    size_t n = std::strlen(typed);
    if ((flags & xplm_DownFlag) && key >= 32 && key < 127 && n + 1 < sizeof typed) {
        typed[n] = key;
        typed[n + 1] = '\0';
    }
    return 1;
}

void MenuHandler(void *, void *) { ++menuPicks; }

int PaneHandler(XPWidgetMessage message, XPWidgetID, intptr_t, intptr_t) {
    if (message != xpMsg_PushButtonPressed) return 0;
    ++presses;
    return 1;
}

}  // namespace

PLUGIN_API int XPluginStart(char *outName, char *outSig, char *outDesc) {
    ++starts;
    std::strcpy(outName, "Tiny");
    std::strcpy(outSig, "skorvale.test.tiny");
    std::snprintf(outDesc, 256, "starts %d", starts);
    window = XPLMCreateWindow(10, 200, 300, 100, 1, Draw, Key, Mouse, nullptr);
    XPLMRegisterFlightLoopCallback(Loop, 0.5f, nullptr);
    XPLMRegisterKeySniffer(Sniffer, 0, nullptr);
    int item = XPLMAppendMenuItem(XPLMFindPluginsMenu(), "Tiny", nullptr, 1);
    menu = XPLMCreateMenu("Tiny", XPLMFindPluginsMenu(), item, MenuHandler, nullptr);
    XPLMAppendMenuItem(menu, "Count", nullptr, 1);
    pane = XPCreateWidget(400, 400, 600, 300, 1, "Tiny pane", 1, nullptr, xpWidgetClass_MainWindow);
    XPCreateWidget(410, 380, 500, 360, 1, "Press me", 0, pane, xpWidgetClass_Button);
    XPCreateWidget(410, 350, 500, 330, 0, "Ghost", 0, pane, xpWidgetClass_Button);
    XPAddWidgetCallback(pane, PaneHandler);
    return 1;
}

PLUGIN_API void XPluginStop(void) {
    XPDestroyWidget(pane, 1);
    XPLMDestroyMenu(menu);
    XPLMUnregisterKeySniffer(Sniffer, 0, nullptr);
    XPLMUnregisterFlightLoopCallback(Loop, nullptr);
    XPLMDestroyWindow(window);
}

PLUGIN_API int XPluginEnable(void) { return 1; }
PLUGIN_API void XPluginDisable(void) {}

#ifndef TINY_WITHOUT_RECEIVE_MESSAGE
PLUGIN_API void XPluginReceiveMessage(XPLMPluginID, int, void *) {}
#endif
