// The host's internal state: one plain structure that the Host methods and the SDK functions share.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Host.h"
#include "XPLMGraphics.h"
#include "XPLMScenery.h"
#include "XPLMUtilities.h"
#include "XPWidgets.h"

namespace simhost {

enum class RefType { Int, Float, Double, FloatArray, IntArray, Data };

// Who may write a ref through the SDK: anyone (when writable), only the plug-in holding the multiplayer
// aircraft, or only that plug-in while it has the TCAS override set.
enum class WriteGuard { None, PlanesHolder, TcasOverride };

// The accessors of a ref a plug-in published with XPLMRegisterDataAccessor.
struct PublishedAccessors {
    XPLMDataTypeID types = 0;
    XPLMGetDatai_f readInt = nullptr;
    XPLMSetDatai_f writeInt = nullptr;
    XPLMGetDataf_f readFloat = nullptr;
    XPLMSetDataf_f writeFloat = nullptr;
    XPLMGetDatad_f readDouble = nullptr;
    XPLMSetDatad_f writeDouble = nullptr;
    XPLMGetDatavi_f readIntArray = nullptr;
    XPLMSetDatavi_f writeIntArray = nullptr;
    XPLMGetDatavf_f readFloatArray = nullptr;
    XPLMSetDatavf_f writeFloatArray = nullptr;
    XPLMGetDatab_f readData = nullptr;
    XPLMSetDatab_f writeData = nullptr;
    void *readRefcon = nullptr;
    void *writeRefcon = nullptr;
};

// Which position a ref is part of, so a store keeps the local and world positions in step.
enum class PositionPart { None, Local, World };

struct DataRefEntry {
    std::string name;
    RefType type = RefType::Float;
    bool writable = true;
    std::vector<double> values;  // one value for scalars; rounded to the type on every store
    PositionPart part = PositionPart::None;
    int plane = 0;           // 0 the user's aircraft, 1..19 multiplayer plane N (when part is not None)
    int since = 0;           // the first simulator version that has it (0: every one)
    std::string replacedBy;  // X-Plane 12 logs that this name has been replaced by that one, when it is looked up
    WriteGuard guard = WriteGuard::None;
    int tcasStride = 0;  // a TCAS target array: values per target slot (1, or 8 for the text arrays)
    // Published by a plug-in (owner), read and written through its accessors; `values` stays empty.
    bool published = false;
    int owner = 0;
    PublishedAccessors accessors;
};

// Every registration and object belongs to the plug-in whose code made it (0: code linked into the
// test program itself, which is always enabled). A disabled plug-in keeps its registrations but gets
// no calls, as in X-Plane.
struct FlightLoopEntry {
    int owner = 0;
    FlightLoopInfo info;
    double lastCallTime = 0;  // registration time until the first call
    bool removed = false;
    void *id = nullptr;  // XPLMCreateFlightLoop's handle; nullptr for a registered one
};

struct DrawCallbackEntry {
    int owner = 0;
    DrawCallbackInfo info;
    bool removed = false;
};

struct KeySnifferEntry {
    int owner = 0;
    KeySnifferInfo info;
    bool removed = false;
};

struct WindowEntry {
    int owner = 0;
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
    int owner = 0;
    std::string name;
    XPLMMenuID parent = nullptr;
    int parentItem = -1;
    XPLMMenuHandler_f handler = nullptr;
    void *menuRef = nullptr;
    std::vector<MenuItemEntry> items;
};

struct WidgetEntry {
    int owner = 0;
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

// A command and the handlers registered for it (tombstoned, so a handler may unregister itself).
struct CommandHandlerEntry {
    int owner = 0;
    XPLMCommandCallback_f callback = nullptr;
    bool before = false;
    void *refcon = nullptr;
    bool removed = false;
};

struct CommandEntry {
    std::string name;
    std::string description;
    std::vector<CommandHandlerEntry> handlers;
};

// A planes-available callback waiting for the multiplayer aircraft to be let go.
struct PlanesWaiter {
    int owner = 0;
    XPLMPlanesAvailable_f callback = nullptr;
    void *refcon = nullptr;
};

// An object loaded from an OBJ8 file; freed when no load and no instance holds it.
struct ObjectEntry {
    int owner = 0;
    std::string path;  // as the plug-in gave it
    int references = 0;
    Obj8Mesh mesh;
};

struct PendingObjectLoad {
    int owner = 0;
    std::string path;
    XPLMObjectLoaded_f callback = nullptr;
    void *refcon = nullptr;
    long dueFrame = 0;
};

struct InstanceEntry {
    int owner = 0;
    XPLMObjectRef object = nullptr;
    std::vector<std::string> datarefs;
    bool positioned = false;
    XPLMDrawInfo_t position = {};
    std::vector<float> data;
    long setFrame = 0;
};

constexpr int kTcasSlots = 64;  // slot 0 is the user's aircraft

struct HostState {
    XPlaneVersion version = XPlaneVersion::XPlane12;

    // Plug-ins: whose code is running now, and which loaded ones are not enabled.
    int currentPlugin = 0;
    std::set<int> disabledPlugins;

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
    bool wasOverridden = false;  // the plane path was overridden last frame
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
    XPLMDrawingPhase drawingPhase = -1;    // the phase being drawn, -1 outside drawing
    long fogOrLightingIn2D = 0;            // XPLMSetGraphicsState calls with either during 2-D drawing
    long focusToHiddenWindow = 0;          // XPLMTakeKeyboardFocus calls naming a hidden window

    // Menus.
    std::map<XPLMMenuID, MenuEntry> menus;
    std::vector<XPLMMenuID> menuOrder;
    XPLMMenuID pluginsMenu = nullptr;

    // Planes: who holds them (kNobody, kOtherPlugin or a plug-in's owner number) and who waits.
    static constexpr int kNobody = -1;
    static constexpr int kOtherPlugin = -2;
    PlanesInfo planes;
    int planesHolder = kNobody;
    std::vector<PlanesWaiter> planesWaiters;
    double releaseRequestAt = 0;                                          // 0: none
    std::map<int, void (*)(XPLMPluginID, int, void *)> messageReceivers;  // by owner
    bool otherHolderSet = false;
    OtherHolder otherHolder = OtherHolder::Honours;
    bool otherLetsGo = false;  // the stand-in honoured a request: it lets go at the next frame

    // Model loads: what one costs, and this frame's count and cost so far.
    double modelLoadSeconds = 0;
    long frameModelLoads = 0;
    double frameLoadSeconds = 0;
    double loadSeconds = 0;  // all frames' load time: the clock runs ahead of frames x period by this

    // Objects, instances (handles from NewHandle, so the map keeps creation order), terrain probes.
    std::map<XPLMObjectRef, ObjectEntry> objects;
    std::vector<PendingObjectLoad> pendingObjectLoads;
    std::set<std::string> failingObjectPaths;
    int objectLoadFrames = 3;
    InstancingInfo instancing;
    std::map<XPLMInstanceRef, InstanceEntry> instances;
    Terrain terrain = Terrain::Flat;
    std::set<XPLMProbeRef> probes;
    long probeCalls = 0, frameProbeCalls = 0, mostProbesInFrame = 0;

    // TCAS: the frame each target slot was last written in by the plug-in (far in the past: never).
    std::vector<long> tcasWrittenFrame;

    // Commands: handles are numbers from NewHandle, never reused.
    std::map<XPLMCommandRef, CommandEntry> commands;
    std::map<std::string, XPLMCommandRef> commandByName;

    // Widgets.
    std::map<XPWidgetID, WidgetEntry> widgets;
    std::vector<XPWidgetID> widgetOrder;

    // Screen and utilities.
    int screenWidth = 1024, screenHeight = 768;
    std::string separator = "/";     // what a plug-in without native paths is given
    std::set<std::string> features;  // XPLMEnableFeature's, as enabled
    std::string systemPath;          // empty: the working directory
    std::vector<std::string> debugLog;
    std::vector<std::string> readOnlyWrites;  // names, each once, the first kReadOnlyWritesKept
    long readOnlyWriteCount = 0;
    bool logFileStarted = false;  // Log.txt emptied for this run (at the first line, as X-Plane does at start)

    // Wall-clock seconds of the slowest frame's callbacks since Reset.
    double longestFrameWall = 0;

    // Draw record: the frame being drawn and the last complete one.
    FrameRecord current;
    FrameRecord last;
    float glColour[4] = {1, 1, 1, 1};
    bool inGlBlock = false;

    void *NewHandle() { return reinterpret_cast<void *>(nextHandle++); }
};

// The process-wide state behind TheHost().
HostState &State();

// Whether a plug-in's callbacks may run (it is enabled, or it is code linked into the program).
inline bool Active(const HostState &s, int owner) { return s.disabledPlugins.count(owner) == 0; }

// Runs plug-in code as `owner` for the scope's lifetime: what it registers or creates meanwhile is its own.
class PluginScope {
public:
    PluginScope(HostState &s, int owner) : s_(s), saved_(s.currentPlugin) { s.currentPlugin = owner; }
    ~PluginScope() { s_.currentPlugin = saved_; }
    PluginScope(const PluginScope &) = delete;
    PluginScope &operator=(const PluginScope &) = delete;

private:
    HostState &s_;
    int saved_;
};

// Multiplayer planes (Planes.cpp): lets go of them for `owner` (a disabled plug-in loses them), then
// calls those waiting; and the hold of another plug-in running out on the clock.
void ReleasePlanesOf(HostState &s, int owner);
void ExpirePlanesHold(HostState &s);
void SendDueReleaseRequest(HostState &s);
// The stand-in holder letting go in the frame after it honoured a request.
void LetGoIfHonoured(HostState &s);
// The end of a frame's model loads: the frame takes their time, and the record keeps the worst frame.
void EndFrameLoads(HostState &s);
std::string SystemPathOf(const HostState &s);
// A line of Log.txt: the plug-ins' XPLMDebugString and the simulator's own.
void WriteLog(HostState &s, const std::string &line);
// The directory separator the plug-in is given, and a "/" path written with it.
std::string SeparatorOf(const HostState &s);
std::string InPluginPathStyle(const HostState &s, std::string path);

// Data references (DataRefs.cpp).
void BuildDataRefs(HostState &s);
size_t AddDataRef(HostState &s, const std::string &name, RefType type, bool writable, size_t count = 1,
                  double initial = 0);
// Whether the plug-in running now may write the ref through the SDK; a refused write is recorded.
bool WriteAllowed(HostState &s, const DataRefEntry &e, const char *call);
// Objects, instances, TCAS (Objects.cpp, Instances.cpp, Tcas.cpp): async loads that are due, the TCAS
// targets X-Plane keeps or drops after the flight loops, the override ending with the aircraft.
void CompleteObjectLoads(HostState &s);
void ReleaseObject(HostState &s, XPLMObjectRef object);  // one load or instance fewer holds it
void AddTcasDataRefs(HostState &s);
void NoteTcasWrite(HostState &s, const DataRefEntry &e, int index);
void EndFrameTcas(HostState &s);
void EndTcasOverride(HostState &s);
void RecordInstanceRefusal(HostState &s, const std::string &call);
// An unloaded module's data accessors and object-loaded callbacks, never to be called again.
void ForgetPluginCode(HostState &s, int owner);
void EndFrameProbes(HostState &s);
// The camera (View.cpp): its matrices and the viewport, set before each frame's drawing.
void AddViewDataRefs(HostState &s);
void UpdateView(HostState &s);
DataRefEntry *FindEntry(HostState &s, const std::string &name);
DataRefEntry *EntryFromHandle(XPLMDataRef ref);
void StoreValue(HostState &s, DataRefEntry &e, int index, double value);  // rounds, then applies side effects
// Keeps the world position of the user's aircraft (0) or plane N in step with its local position,
// and the other way round.
void SyncWorldFromLocal(HostState &s, int plane);
void SyncLocalFromWorld(HostState &s, int plane);
double &Value(HostState &s, const std::string &name, int index = 0);  // a known ref's stored value
constexpr size_t kReadOnlyWritesKept = 64;
// A plug-in wrote through a handle of a read-only ref: X-Plane ignores it, the host keeps count.
void RecordReadOnlyWrite(HostState &s, const DataRefEntry &e);

// Frame parts (Processing.cpp, Display.cpp, Graphics.cpp).
void RunFlightLoops(HostState &s, bool afterFlightModel);
void MoveUserAircraft(HostState &s);
void RunDrawing(HostState &s);
void BeginFrameRecord(HostState &s);
void EndFrameRecord(HostState &s);

// Widgets (Widgets.cpp, StandardWidgets.cpp, WidgetActions.cpp).
XPWidgetFunc_t ClassBehaviour(XPWidgetClass widgetClass);
bool IsShown(const HostState &s, XPWidgetID id);  // own flag and every ancestor's
// Each frame, as the real library draws them: xpMsg_Paint to every shown widget, parents first.
void PaintWidgets(HostState &s);
void DeliverKeyToWidget(HostState &s, XPWidgetID widget, char key, XPLMKeyFlags flags, char vkey);
void SetKeyboardFocus(HostState &s, XPLMWindowID window, XPWidgetID widget);
// Mouse events that no plug-in window took go to the widget under the pointer (or the one pressed).
bool WidgetMouse(HostState &s, int x, int y, XPLMMouseStatus status);

}  // namespace simhost
