// Drawing phases, windows, keyboard focus, key and mouse routing, and the XPLMDisplay functions.
#include <algorithm>
#include <set>

#include "HostState.h"
#include "XPLMDisplay.h"

namespace simhost {

namespace {

// Plug-in windows are drawn in the window phase, between its before- and after-callbacks.
constexpr XPLMDrawingPhase kWindowPhase = xplm_Phase_Window;
constexpr XPLMDrawingPhase kLastLegacyPhase = 30;  // xplm_Phase_LastScene

void RunPhase(HostState &s, XPLMDrawingPhase phase, bool before) {
    const size_t count = s.drawCallbacks.size();
    for (size_t i = 0; i < count; ++i) {
        if (s.drawCallbacks[i].removed) continue;
        const DrawCallbackInfo info = s.drawCallbacks[i].info;
        const int owner = s.drawCallbacks[i].owner;
        if (info.phase != phase || info.before != before || !Active(s, owner)) continue;
        PluginScope scope(s, owner);
        s.drawingPhase = phase;
        info.callback(phase, before ? 1 : 0, info.refcon);
        s.drawingPhase = -1;
    }
}

void DrawWindows(HostState &s) {
    const std::vector<XPLMWindowID> order = s.zOrder;  // a draw callback may create or destroy windows
    for (XPLMWindowID id : order) {
        auto it = s.windows.find(id);
        if (it == s.windows.end() || !it->second.visible || !it->second.draw || !Active(s, it->second.owner)) continue;
        s.current.windowsDrawn.push_back(id);
        s.drawingWindow = id;
        s.drawingPhase = kWindowPhase;
        PluginScope scope(s, it->second.owner);
        it->second.draw(id, it->second.refcon);
        s.drawingWindow = nullptr;
        s.drawingPhase = -1;
    }
    PaintWidgets(s);
}

// Calls the sniffers of one group; false when one of them swallowed the key.
bool RunSniffers(HostState &s, bool beforeWindows, char key, XPLMKeyFlags flags, char vkey) {
    const size_t count = s.keySniffers.size();
    for (size_t i = 0; i < count; ++i) {
        const KeySnifferEntry &e = s.keySniffers[i];
        if (e.removed || e.info.beforeWindows != beforeWindows || !Active(s, e.owner)) continue;
        const KeySnifferInfo info = e.info;
        PluginScope scope(s, e.owner);
        if (info.callback(key, flags, vkey, info.refcon) == 0) return false;
    }
    return true;
}

void RouteKey(HostState &s, char key, XPLMKeyFlags flags, char vkey) {
    if (!RunSniffers(s, true, key, flags, vkey)) return;
    if (s.focusWidget) {
        if (flags & xplm_DownFlag) DeliverKeyToWidget(s, s.focusWidget, key, flags, vkey);
        return;
    }
    if (s.focusWindow) {
        auto it = s.windows.find(s.focusWindow);
        if (it != s.windows.end() && Active(s, it->second.owner)) {
            PluginScope scope(s, it->second.owner);
            if (it->second.key) it->second.key(s.focusWindow, key, flags, vkey, it->second.refcon, 0);
            return;
        }
    }
    RunSniffers(s, false, key, flags, vkey);
}

bool Contains(const WindowEntry &w, int x, int y) { return x >= w.left && x <= w.right && y <= w.top && y >= w.bottom; }

void BringToFront(HostState &s, XPLMWindowID id) {
    auto it = std::find(s.zOrder.begin(), s.zOrder.end(), id);
    if (it == s.zOrder.end()) return;
    s.zOrder.erase(it);
    s.zOrder.push_back(id);
}

int CallMouse(HostState &s, XPLMWindowID id, int x, int y, XPLMMouseStatus status) {
    auto it = s.windows.find(id);
    if (it == s.windows.end() || !it->second.mouse || !Active(s, it->second.owner)) return 0;
    PluginScope scope(s, it->second.owner);
    return it->second.mouse(id, x, y, status, it->second.refcon);
}

}  // namespace

void RunDrawing(HostState &s) {
    std::set<XPLMDrawingPhase> phases{kWindowPhase};
    // Vulkan and Metal, and so every X-Plane 12, never run the legacy 3-D phases: callbacks registered
    // for them are accepted and never called.
    const bool legacyPhases = s.version == XPlaneVersion::XPlane11;
    for (const DrawCallbackEntry &e : s.drawCallbacks)
        if (!e.removed && (legacyPhases || e.info.phase > kLastLegacyPhase)) phases.insert(e.info.phase);
    for (XPLMDrawingPhase phase : phases) {
        RunPhase(s, phase, true);
        if (phase == kWindowPhase) DrawWindows(s);
        RunPhase(s, phase, false);
    }
    s.drawCallbacks.erase(std::remove_if(s.drawCallbacks.begin(), s.drawCallbacks.end(),
                                         [](const DrawCallbackEntry &e) { return e.removed; }),
                          s.drawCallbacks.end());
}

void SetKeyboardFocus(HostState &s, XPLMWindowID window, XPWidgetID widget) {
    XPLMWindowID oldWindow = s.focusWindow;
    XPWidgetID oldWidget = s.focusWidget;
    if (oldWindow == window && oldWidget == widget) return;
    // The new holder is set first, so a losing window that asks for the focus again does not loop.
    s.focusWindow = window;
    s.focusWidget = widget;
    if (oldWindow) {
        auto it = s.windows.find(oldWindow);
        if (it != s.windows.end() && it->second.key && Active(s, it->second.owner)) {
            PluginScope scope(s, it->second.owner);
            it->second.key(oldWindow, 0, 0, 0, it->second.refcon, 1);
        }
    }
    if (oldWidget && s.widgets.count(oldWidget))
        XPSendMessageToWidget(oldWidget, xpMsg_KeyLoseFocus, xpMode_UpChain, 0, 0);
    if (widget && s.widgets.count(widget)) XPSendMessageToWidget(widget, xpMsg_KeyTakeFocus, xpMode_UpChain, 0, 0);
}

void Host::KeyDown(char key, char virtualKey, XPLMKeyFlags flags) {
    RouteKey(*state_, key, (flags & ~xplm_UpFlag) | xplm_DownFlag, virtualKey);
}

void Host::KeyUp(char key, char virtualKey, XPLMKeyFlags flags) {
    RouteKey(*state_, key, (flags & ~xplm_DownFlag) | xplm_UpFlag, virtualKey);
}

void Host::PressKey(char key, char virtualKey, XPLMKeyFlags flags) {
    KeyDown(key, virtualKey, flags);
    KeyUp(key, virtualKey, flags);
}

void Host::TypeText(const std::string &text) {
    for (char c : text) {
        // X-Plane's virtual key codes for letters and digits are their upper-case ASCII codes.
        char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        XPLMKeyFlags flags = (c >= 'A' && c <= 'Z') ? xplm_ShiftFlag : 0;
        PressKey(c, upper, flags);
    }
}

bool Host::MouseDown(int x, int y) {
    HostState &s = *state_;
    s.mouseCapture = nullptr;
    for (auto it = s.zOrder.rbegin(); it != s.zOrder.rend(); ++it) {
        const WindowEntry &w = s.windows.at(*it);
        if (!w.visible || !Contains(w, x, y)) continue;
        XPLMWindowID id = *it;
        BringToFront(s, id);
        if (CallMouse(s, id, x, y, xplm_MouseDown) == 0) return false;
        s.mouseCapture = id;
        return true;
    }
    if (WidgetMouse(s, x, y, xplm_MouseDown)) return true;
    // A click on the simulator's own view takes the keyboard back from plug-in windows and fields.
    SetKeyboardFocus(s, nullptr, nullptr);
    return false;
}

bool Host::MouseDrag(int x, int y) {
    HostState &s = *state_;
    if (s.mouseCapture && s.windows.count(s.mouseCapture)) {
        CallMouse(s, s.mouseCapture, x, y, xplm_MouseDrag);
        return true;
    }
    return WidgetMouse(s, x, y, xplm_MouseDrag);
}

bool Host::MouseUp(int x, int y) {
    HostState &s = *state_;
    XPLMWindowID id = s.mouseCapture;
    s.mouseCapture = nullptr;
    if (id && s.windows.count(id)) {
        CallMouse(s, id, x, y, xplm_MouseUp);
        return true;
    }
    return WidgetMouse(s, x, y, xplm_MouseUp);
}

}  // namespace simhost

using simhost::HostState;
using simhost::State;

extern "C" {

int XPLMRegisterDrawCallback(XPLMDrawCallback_f inCallback, XPLMDrawingPhase inPhase, int inWantsBefore,
                             void *inRefcon) {
    if (!inCallback) return 0;
    simhost::DrawCallbackEntry entry;
    entry.owner = State().currentPlugin;
    entry.info = {inCallback, inPhase, inWantsBefore != 0, inRefcon};
    State().drawCallbacks.push_back(entry);
    return 1;
}

int XPLMUnregisterDrawCallback(XPLMDrawCallback_f inCallback, XPLMDrawingPhase inPhase, int inWantsBefore,
                               void *inRefcon) {
    for (simhost::DrawCallbackEntry &e : State().drawCallbacks) {
        if (!e.removed && e.info.callback == inCallback && e.info.phase == inPhase &&
            e.info.before == (inWantsBefore != 0) && e.info.refcon == inRefcon) {
            e.removed = true;
            return 1;
        }
    }
    return 0;
}

int XPLMRegisterKeySniffer(XPLMKeySniffer_f inCallback, int inBeforeWindows, void *inRefcon) {
    if (!inCallback) return 0;
    simhost::KeySnifferEntry entry;
    entry.owner = State().currentPlugin;
    entry.info = {inCallback, inBeforeWindows != 0, inRefcon};
    State().keySniffers.push_back(entry);
    return 1;
}

int XPLMUnregisterKeySniffer(XPLMKeySniffer_f inCallback, int inBeforeWindows, void *inRefcon) {
    for (simhost::KeySnifferEntry &e : State().keySniffers) {
        if (!e.removed && e.info.callback == inCallback && e.info.beforeWindows == (inBeforeWindows != 0) &&
            e.info.refcon == inRefcon) {
            e.removed = true;
            return 1;
        }
    }
    return 0;
}

XPLMWindowID XPLMCreateWindow(int inLeft, int inTop, int inRight, int inBottom, int inIsVisible,
                              XPLMDrawWindow_f inDrawCallback, XPLMHandleKey_f inKeyCallback,
                              XPLMHandleMouseClick_f inMouseCallback, void *inRefcon) {
    HostState &s = State();
    XPLMWindowID id = s.NewHandle();
    simhost::WindowEntry w;
    w.owner = s.currentPlugin;
    w.left = inLeft;
    w.top = inTop;
    w.right = inRight;
    w.bottom = inBottom;
    w.visible = inIsVisible != 0;
    w.draw = inDrawCallback;
    w.key = inKeyCallback;
    w.mouse = inMouseCallback;
    w.refcon = inRefcon;
    s.windows[id] = w;
    s.windowOrder.push_back(id);
    s.zOrder.push_back(id);
    return id;
}

void XPLMDestroyWindow(XPLMWindowID inWindowID) {
    HostState &s = State();
    if (!s.windows.erase(inWindowID)) return;
    s.windowOrder.erase(std::remove(s.windowOrder.begin(), s.windowOrder.end(), inWindowID), s.windowOrder.end());
    s.zOrder.erase(std::remove(s.zOrder.begin(), s.zOrder.end(), inWindowID), s.zOrder.end());
    if (s.focusWindow == inWindowID) s.focusWindow = nullptr;
    if (s.mouseCapture == inWindowID) s.mouseCapture = nullptr;
}

void XPLMGetScreenSize(int *outWidth, int *outHeight) {
    if (outWidth) *outWidth = State().screenWidth;
    if (outHeight) *outHeight = State().screenHeight;
}

void XPLMGetWindowGeometry(XPLMWindowID inWindowID, int *outLeft, int *outTop, int *outRight, int *outBottom) {
    auto &windows = State().windows;
    auto it = windows.find(inWindowID);
    if (it == windows.end()) return;
    if (outLeft) *outLeft = it->second.left;
    if (outTop) *outTop = it->second.top;
    if (outRight) *outRight = it->second.right;
    if (outBottom) *outBottom = it->second.bottom;
}

void XPLMSetWindowGeometry(XPLMWindowID inWindowID, int inLeft, int inTop, int inRight, int inBottom) {
    auto &windows = State().windows;
    auto it = windows.find(inWindowID);
    if (it == windows.end()) return;
    it->second.left = inLeft;
    it->second.top = inTop;
    it->second.right = inRight;
    it->second.bottom = inBottom;
}

int XPLMGetWindowIsVisible(XPLMWindowID inWindowID) {
    auto &windows = State().windows;
    auto it = windows.find(inWindowID);
    return it != windows.end() && it->second.visible ? 1 : 0;
}

void XPLMSetWindowIsVisible(XPLMWindowID inWindowID, int inIsVisible) {
    auto &windows = State().windows;
    auto it = windows.find(inWindowID);
    if (it != windows.end()) it->second.visible = inIsVisible != 0;
}

void XPLMTakeKeyboardFocus(XPLMWindowID inWindow) {
    HostState &s = State();
    if (inWindow && !s.windows.count(inWindow)) return;
    // Granted, as X-Plane does, but keys typed now would go to a window the user cannot see.
    if (inWindow && !s.windows[inWindow].visible) ++s.focusToHiddenWindow;
    simhost::SetKeyboardFocus(s, inWindow, nullptr);
}

}  // extern "C"
