// The host's internal state: one plain structure that the Host methods and the SDK functions share.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Host.h"
#include "XPLMGraphics.h"
#include "XPWidgets.h"

namespace simhost {

enum class RefType { Int, Float, Double, FloatArray, IntArray };

// Which position a ref is part of, so a store keeps the local and world positions in step.
enum class PositionPart { None, Local, World };

struct DataRefEntry {
    std::string name;
    RefType type = RefType::Float;
    bool writable = true;
    std::vector<double> values;  // one value for scalars; rounded to the type on every store
    PositionPart part = PositionPart::None;
    int plane = 0;  // 0 the user's aircraft, 1..19 multiplayer plane N (when part is not None)
};

struct FlightLoopEntry {
    FlightLoopInfo info;
    double lastCallTime = 0;  // registration time until the first call
    bool removed = false;
};

struct DrawCallbackEntry {
    DrawCallbackInfo info;
    bool removed = false;
};

struct KeySnifferEntry {
    KeySnifferInfo info;
    bool removed = false;
};

struct WindowEntry {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool visible = false;
    XPLMDrawWindow_f draw = nullptr;
    XPLMHandleKey_f key = nullptr;
    XPLMHandleMouseClick_f mouse = nullptr;
    void *refcon = nullptr;
};

struct MenuItemEntry {
    std::string name;
    void *itemRef = nullptr;
    XPLMMenuID submenu = nullptr;
};

struct MenuEntry {
    std::string name;
    XPLMMenuID parent = nullptr;
    int parentItem = -1;
    XPLMMenuHandler_f handler = nullptr;
    void *menuRef = nullptr;
    std::vector<MenuItemEntry> items;
};

struct WidgetEntry {
    XPWidgetClass widgetClass = 0;
    std::string descriptor;
    int left = 0, top = 0, right = 0, bottom = 0;
    bool visible = false;
    bool isRoot = false;
    XPWidgetID parent = nullptr;
    std::vector<XPWidgetID> children;
    std::map<XPWidgetPropertyID, intptr_t> properties;
    std::vector<XPWidgetFunc_t> callbacks;  // newest first; the class behaviour is the last
};

struct AircraftMotion {
    double groundSpeed = 0;    // m/s
    double verticalSpeed = 0;  // m/s
    std::vector<Waypoint> route;
};

struct HostState {
    // Clock.
    double frameRate = 60;
    double now = 0;
    long frameCount = 0;
    double lastFrameDuration = 0;

    // Data references: handles are index + 1 and survive Reset (the table is rebuilt in the same order).
    std::vector<DataRefEntry> dataRefs;
    std::map<std::string, size_t> dataRefIndex;
    size_t localIndex[20][3] = {};  // x, y, z of the user's aircraft (0) and planes 1..19
    size_t worldIndex[20][3] = {};  // latitude, longitude, elevation of the same

    // The local frame's origin (tile centre of the start position).
    double latRef = 0, lonRef = 0;
    AircraftMotion motion;
    std::string userModelFile = "Cessna_172SP.acf";
    std::string userModelPath = "Aircraft/Laminar Research/Cessna 172 SP/Cessna_172SP.acf";

    // Callbacks. Vectors with tombstones so (un)registering during a callback is safe.
    std::vector<FlightLoopEntry> flightLoops;
    std::vector<DrawCallbackEntry> drawCallbacks;
    std::vector<KeySnifferEntry> keySniffers;

    // Windows: handles are numbers (never reused), so a stale handle is recognised and ignored.
    uintptr_t nextHandle = 1;
    std::map<XPLMWindowID, WindowEntry> windows;
    std::vector<XPLMWindowID> windowOrder;  // creation order
    std::vector<XPLMWindowID> zOrder;       // bottom to top
    XPLMWindowID focusWindow = nullptr;
    XPWidgetID focusWidget = nullptr;
    XPLMWindowID mouseCapture = nullptr;
    XPWidgetID widgetCapture = nullptr;
    XPLMWindowID drawingWindow = nullptr;  // whose draw callback is running

    // Menus.
    std::map<XPLMMenuID, MenuEntry> menus;
    std::vector<XPLMMenuID> menuOrder;
    XPLMMenuID pluginsMenu = nullptr;

    // Planes.
    PlanesInfo planes;

    // Widgets.
    std::map<XPWidgetID, WidgetEntry> widgets;
    std::vector<XPWidgetID> widgetOrder;

    // Screen and utilities.
    int screenWidth = 1024, screenHeight = 768;
    std::string separator = "/";
    std::vector<std::string> debugLog;

    // Draw record: the frame being drawn and the last complete one.
    FrameRecord current;
    FrameRecord last;
    float glColour[4] = {1, 1, 1, 1};
    bool inGlBlock = false;

    void *NewHandle() { return reinterpret_cast<void *>(nextHandle++); }
};

// The process-wide state behind TheHost().
HostState &State();

// Data references (DataRefs.cpp).
void BuildDataRefs(HostState &s);
DataRefEntry *FindEntry(HostState &s, const std::string &name);
DataRefEntry *EntryFromHandle(XPLMDataRef ref);
void StoreValue(HostState &s, DataRefEntry &e, int index, double value);  // rounds, then applies side effects
// Keeps the world position of the user's aircraft (0) or plane N in step with its local position,
// and the other way round.
void SyncWorldFromLocal(HostState &s, int plane);
void SyncLocalFromWorld(HostState &s, int plane);
double &Value(HostState &s, const std::string &name, int index = 0);  // a known ref's stored value

// Frame parts (Processing.cpp, Display.cpp, Graphics.cpp).
void RunFlightLoops(HostState &s);
void MoveUserAircraft(HostState &s);
void RunDrawing(HostState &s);
void BeginFrameRecord(HostState &s);
void EndFrameRecord(HostState &s);

// Widgets (Widgets.cpp, StandardWidgets.cpp, WidgetActions.cpp).
XPWidgetFunc_t ClassBehaviour(XPWidgetClass widgetClass);
bool IsShown(const HostState &s, XPWidgetID id);  // own flag and every ancestor's
void DeliverKeyToWidget(HostState &s, XPWidgetID widget, char key, XPLMKeyFlags flags, char vkey);
void SetKeyboardFocus(HostState &s, XPLMWindowID window, XPWidgetID widget);
// Mouse events that no plug-in window took go to the widget under the pointer (or the one pressed).
bool WidgetMouse(HostState &s, int x, int y, XPLMMouseStatus status);

}  // namespace simhost
