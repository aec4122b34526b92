// The headless host's C++ face: the simulated X-Plane that tests and the runner drive and inspect.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "XPLMDataAccess.h"
#include "XPLMDisplay.h"
#include "XPLMInstance.h"
#include "XPLMMenus.h"
#include "XPLMPlanes.h"
#include "XPLMProcessing.h"
#include "XPLMUtilities.h"
#include "XPWidgetDefs.h"
#include "simhost/Obj8.h"

namespace simhost {

// Threading rule for everything here: the host has one simulation thread. Tests and the runner call
// these functions on that thread, between frames or from inside plug-in callbacks, never concurrently.

// ---- What was drawn -------------------------------------------------------------------------------

// One XPLMDrawString call. `window` is the window whose draw callback was running, or nullptr when the
// string came from a draw callback (or outside any window).
struct DrawnString {
    XPLMWindowID window = nullptr;
    float rgb[3] = {0, 0, 0};
    int x = 0;
    int y = 0;
    std::string text;
    std::optional<int> wrapWidth;  // empty when the plug-in passed no wrap pointer
    int font = 0;
};

struct DarkBox {
    XPLMWindowID window = nullptr;
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct GraphicsStateCall {
    XPLMWindowID window = nullptr;
    int fog = 0, texUnits = 0, lighting = 0, alphaTesting = 0, alphaBlending = 0, depthTesting = 0, depthWriting = 0;
};

struct GlVertex {
    float x = 0, y = 0;
    float rgba[4] = {1, 1, 1, 1};  // the current colour when the vertex was given
};

// One glBegin .. glEnd block.
struct GlPrimitive {
    XPLMWindowID window = nullptr;
    unsigned mode = 0;  // GL_QUADS, GL_LINES, ...
    std::vector<GlVertex> vertices;
};

// Everything drawn during one frame, in call order per kind.
struct FrameRecord {
    long frame = 0;   // frame number (1 for the first frame after Reset)
    double time = 0;  // simulated time at that frame
    std::vector<DrawnString> strings;
    std::vector<DarkBox> boxes;
    std::vector<GraphicsStateCall> graphicsStates;
    std::vector<GlPrimitive> primitives;
    std::vector<XPLMWindowID> windowsDrawn;  // in drawing order (bottom to top)

    std::vector<DrawnString> StringsIn(XPLMWindowID window) const;
    std::vector<std::string> TextsIn(XPLMWindowID window) const;  // just the texts, in drawing order
    bool HasText(const std::string &text) const;                  // anywhere in the frame
};

// ---- Registered callbacks (for lifecycle checks) ---------------------------------------------------

struct FlightLoopInfo {
    XPLMFlightLoop_f callback = nullptr;
    void *refcon = nullptr;
    bool scheduled = false;         // false once it returned 0 (or was registered with 0)
    bool frameBased = false;        // next call counted in frames (a negative interval)
    bool afterFlightModel = false;  // created with xplm_FlightLoop_Phase_AfterFlightModel
    double nextDeadline = 0;        // simulated seconds, when time based
    long nextFrame = 0;             // frame number, when frame based
};

struct DrawCallbackInfo {
    XPLMDrawCallback_f callback = nullptr;
    XPLMDrawingPhase phase = 0;
    bool before = false;
    void *refcon = nullptr;
};

struct KeySnifferInfo {
    XPLMKeySniffer_f callback = nullptr;
    bool beforeWindows = false;
    void *refcon = nullptr;
};

// ---- Windows, menus, planes, widgets ---------------------------------------------------------------

struct WindowInfo {
    XPLMWindowID id = nullptr;
    int left = 0, top = 0, right = 0, bottom = 0;
    bool visible = false;
    bool hasKeyboardFocus = false;
    int zOrder = 0;  // 0 is the bottom; larger is nearer the user
};

struct MenuItemInfo {
    std::string name;
    void *itemRef = nullptr;
    XPLMMenuID submenu = nullptr;  // set when a menu was created on this item
};

struct MenuInfo {
    XPLMMenuID id = nullptr;
    std::string name;
    XPLMMenuID parent = nullptr;
    int parentItem = -1;
    std::vector<MenuItemInfo> items;
};

// A call that needs the multiplayer aircraft and was refused, e.g. "XPLMSetAircraftModel(3): no access".
struct RefusedCall {
    double time = 0;  // simulated seconds
    std::string call;
};

// Who holds the multiplayer aircraft.
enum class PlanesHolder { Nobody, PlugIn, OtherPlugIn };

struct PlanesInfo {
    int activeCount = 0;    // XPLMSetActiveAircraftCount's, or the AI's (aiCount + 1) while nobody holds them
    int aiCount = 19;       // the pilot's AI aircraft setting: XPLMCountAircraft gives one more
    bool acquired = false;  // held by a plug-in via XPLMAcquirePlanes
    PlanesHolder holder = PlanesHolder::Nobody;
    double heldSince = 0;                 // simulated seconds, when the holder took them
    double heldByOtherUntil = 0;          // another plug-in holds them until this simulated time (0: nobody)
    std::set<int> aiDisabled;             // indices passed to XPLMDisableAIForPlane since the last release
    std::vector<double> releaseRequests;  // when XPLM_MSG_RELEASE_PLANES was sent to the holder
    long mostModelLoadsInFrame = 0;       // of every frame since Reset
    double longestFrame = 0;              // seconds, model loads included
    // X-Plane's own AI flies slot n while the simulator offers it and no plug-in has disabled the AI there.
    bool AIFlies(int n) const { return n >= 1 && n <= aiCount && aiDisabled.count(n) == 0; }
    // X-Plane draws multiplayer aircraft n (on the screen, the map and TCAS) while it is inside both the
    // active count and what the pilot's AI setting offers.
    bool Drawn(int n) const { return n >= 1 && n < activeCount && n <= aiCount; }
    std::string holderName;            // XPLMGetPluginInfo's name of the plug-in holding them, "" for none
    std::vector<double> holderAsked;   // when a plug-in sent the stand-in holder XPLM_MSG_RELEASE_PLANES
    std::vector<std::string> models;   // index 0..19: path last set by XPLMSetAircraftModel ("" if never)
    long modelLoads = 0;               // XPLMSetAircraftModel calls that loaded a model
    std::vector<RefusedCall> refused;  // the first kRefusedCallsKept refused calls
    long refusedCount = 0;             // all of them
};
constexpr size_t kRefusedCallsKept = 64;

// How the stand-in traffic plug-in that holds the multiplayer aircraft answers XPLM_MSG_RELEASE_PLANES.
enum class OtherHolder { Honours, Ignores };

// Which simulator the host behaves as. X-Plane 12 (and 11.50+ on Vulkan or Metal) never calls the legacy
// 3-D drawing phases 0..30; X-Plane 11 with OpenGL calls every phase each frame.
enum class XPlaneVersion { XPlane11 = 11, XPlane12 = 12 };

// An explicit origin for the local frame, as X-Plane keeps when the aircraft arrived from another tile.
struct Origin {
    double latitude = 0;
    double longitude = 0;
};

struct WidgetInfo {
    XPWidgetID id = nullptr;
    XPWidgetClass widgetClass = 0;
    std::string descriptor;
    int left = 0, top = 0, right = 0, bottom = 0;
    bool visible = false;  // the widget's own flag
    bool shown = false;    // own flag and every ancestor's: what a user can see
    bool isRoot = false;
    XPWidgetID parent = nullptr;
    std::vector<XPWidgetID> children;
};

// A point of the user's scripted route.
struct Waypoint {
    double latitude = 0;
    double longitude = 0;
    double elevationM = 0;
};

// ---- Objects, instances, TCAS targets, terrain -----------------------------------------------------

// An instance alive now, as the plug-in last placed it.
struct InstanceInfo {
    XPLMInstanceRef id = nullptr;
    std::string object;  // the object's path as the plug-in loaded it
    std::vector<std::string> datarefs;
    bool positioned = false;  // XPLMInstanceSetPosition was called since it was created
    XPLMDrawInfo_t position = {};
    std::vector<float> data;                            // one value per data ref, as last set
    long setFrame = 0;                                  // the frame it was last positioned in
    double latitude = 0, longitude = 0, elevation = 0;  // its position, from the local frame
};

struct InstancingInfo {
    long objectLoads = 0;                   // XPLMLoadObject and XPLMLoadObjectAsync calls
    long failedLoads = 0;                   // of those, ones that gave NULL
    long objectsAlive = 0;                  // loaded objects not yet freed (unloaded, and no instance uses them)
    std::vector<std::string> loadProblems;  // "PATH: why", the first kRefusedCallsKept
    // Instance calls refused: bad handles or arguments, or made from a draw callback. The first
    // kRefusedCallsKept, and the count of all.
    std::vector<RefusedCall> refused;
    long refusedCount = 0;
};

// A TCAS target slot (1..63) the plug-in wrote in the last ten frames, with the override set.
struct TcasTarget {
    int index = 0;
    int modeS = 0;
    std::string flightId, icaoType;
    int ssrMode = 0;
    float x = 0, y = 0, z = 0;
    double latitude = 0, longitude = 0, elevation = 0;
};

struct TcasInfo {
    bool overridden = false;  // sim/operation/override/override_TCAS
    std::vector<TcasTarget> targets;
};

// The ground XPLMProbeTerrainXYZ finds: flat at sea level, or rolling hills (tens of metres high, a few
// kilometres across), the same for every run.
enum class Terrain { Flat, Hills };

// ---- The host --------------------------------------------------------------------------------------

struct HostState;  // the host's internals (simhost/HostState.h), shared with the SDK functions

class Host {
public:
    Host();
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // Back to a fresh simulator: clock 0, default data refs and aircraft, no callbacks, windows,
    // menus or widgets, default screen, separator and frame rate, X-Plane 12. Data-ref handles stay valid.
    void Reset();

    // -- Which simulator to behave as (default X-Plane 12).
    void SetXPlaneVersion(XPlaneVersion version);
    XPlaneVersion GetXPlaneVersion() const;

    // -- Clock. Nothing here waits on wall-clock time.
    void SetFrameRate(double framesPerSecond);  // default 60
    double FrameRate() const;
    void RunFrame();
    void RunFrames(int count);
    void RunFor(double seconds);      // whole frames covering `seconds`
    double Now() const;               // simulated seconds since Reset
    long FrameCount() const;          // frames run since Reset
    double LongestFrameWall() const;  // wall-clock seconds the slowest frame's callbacks took since Reset

    // -- Data references by name, bypassing writability (tests and scripts play the simulator).
    bool HasDataRef(const std::string &name) const;
    double GetDataRef(const std::string &name, int index = 0) const;  // 0 for unknown names
    std::vector<double> GetDataRefArray(const std::string &name) const;
    bool SetDataRef(const std::string &name, double value, int index = 0);  // false if unknown/out of range
    bool SetDataRefArray(const std::string &name, const std::vector<double> &values);
    std::vector<std::string> DataRefNames() const;

    // -- The user's aircraft.
    // Places it as a fresh flight start does: the local frame origin moves to this tile's centre, or to
    // `origin` when given. Later, the origin follows the aircraft when it flies about a degree away.
    void PlaceAircraft(double latitude, double longitude, double elevationM, double headingDeg,
                       std::optional<Origin> origin = std::nullopt);
    // Moves it within the current local frame (origin unchanged), as a slew would.
    void MoveAircraftTo(double latitude, double longitude, double elevationM);
    void SetHeading(double headingDeg);
    void SetGroundSpeed(double metresPerSecond);
    void SetVerticalSpeed(double metresPerSecond);
    void StopAircraft();                                // speed, climb 0; route cleared
    void FlyRoute(const std::vector<Waypoint> &route);  // heads for each point in turn at the ground speed
    double Latitude() const;
    double Longitude() const;
    double ElevationM() const;
    double Heading() const;
    double GroundSpeed() const;
    double VerticalSpeed() const;
    bool PlanePathOverridden() const;  // element 0 of override_planepath
    double OriginLatitude() const;     // lat_ref and lon_ref of the local frame
    double OriginLongitude() const;
    void SetUserAircraftModel(const std::string &fileName, const std::string &path);

    // -- Screen, paths, view.
    void SetScreenSize(int width, int height);  // default 1024 x 768
    int ScreenWidth() const;
    int ScreenHeight() const;
    // The separator of the legacy paths X-Plane gives a plug-in that has not enabled
    // "XPLM_USE_NATIVE_PATHS" (":" on macOS, "\\" on Windows): XPLMGetSystemPath and the user's model
    // path are then written with it. Native paths always use "/".
    void SetDirectorySeparator(const std::string &separator);  // default "/"
    std::string DirectorySeparator() const;                    // as the plug-in is given it now
    bool FeatureEnabled(const std::string &feature) const;
    void SetViewType(int viewType);             // default 1000 (forward)
    std::vector<std::string> DebugLog() const;  // every XPLMDebugString, in order
    // Data references a plug-in wrote through its handle although they are read-only (each name once, the
    // first 64), and how many such writes there were.
    std::vector<std::string> ReadOnlyWrites() const;
    long ReadOnlyWriteCount() const;

    // -- Registered callbacks.
    std::vector<FlightLoopInfo> FlightLoops() const;
    std::vector<DrawCallbackInfo> DrawCallbacks() const;
    std::vector<KeySnifferInfo> KeySniffers() const;

    // -- Windows (creation order) and keyboard focus.
    std::vector<WindowInfo> Windows() const;
    std::optional<WindowInfo> Window(XPLMWindowID id) const;
    XPLMWindowID WindowWithFocus() const;  // nullptr when the sim (or a widget) holds the focus
    XPWidgetID WidgetWithFocus() const;    // the text field holding the focus, or nullptr

    // -- Keyboard and mouse, as a user types and clicks.
    // A key goes to the focused text field, else the focused window, else the key sniffers (those
    // registered before windows see it first in every case and may swallow it).
    void KeyDown(char key, char virtualKey, XPLMKeyFlags flags = 0);
    void KeyUp(char key, char virtualKey, XPLMKeyFlags flags = 0);
    void PressKey(char key, char virtualKey, XPLMKeyFlags flags = 0);  // down then up
    void TypeText(const std::string &text);                            // PressKey per character
    // Mouse events go to the topmost visible window under the pointer; drags and the release go to
    // the window that took the press. Returns whether a window took the event.
    bool MouseDown(int x, int y);
    bool MouseDrag(int x, int y);
    bool MouseUp(int x, int y);

    // -- Menus. A path of item names from the plug-ins menu, e.g. {"Skorvale", "Control & Settings"}.
    // Calls the handler of the menu holding the last item. False (with a reason) if there is no such item.
    bool ChooseMenuItem(const std::vector<std::string> &path, std::string *error = nullptr);
    std::vector<MenuInfo> Menus() const;
    XPLMMenuID PluginsMenu() const;

    // -- Commands, as a user's key or joystick binding runs them: Begin, then End. False (with a reason)
    // when no plug-in created a command of that name.
    bool RunCommand(const std::string &name, std::string *error = nullptr);
    std::vector<std::string> CommandNames() const;  // in name order

    // -- Multiplayer planes. Another plug-in (a traffic injector, say) may hold them until `seconds` of
    // simulated time: XPLMAcquirePlanes is refused until then, and the planes-available callbacks of
    // those refused are called when it lets go.
    PlanesInfo Planes() const;
    void HoldPlanesUntil(double seconds);
    // The pilot's AI aircraft count (default 19): XPLMCountAircraft offers that many plus the user's,
    // and the active count is capped there.
    void SetAIAircraftCount(int count);
    // At `seconds`, a stand-in plug-in sends XPLM_MSG_RELEASE_PLANES to the plug-in holding the aircraft.
    void RequestPlanesReleaseAt(double seconds);
    // A stand-in traffic plug-in ("Stand-in Traffic", plug-in id 99) holds the aircraft from now on (until
    // HoldPlanesUntil's time, if one is given) and honours or ignores XPLM_MSG_RELEASE_PLANES sent to it:
    // one that honours lets go at the start of the next frame, as from its own flight loop.
    void SetOtherHolder(OtherHolder how);
    // Code linked into the test program (owner 0) receives plug-in messages through this function.
    void SetMessageReceiver(void (*receive)(XPLMPluginID inFrom, int inMessage, void *inParam));
    // Simulated milliseconds each XPLMSetAircraftModel adds to its frame (default 0), as a real load blocks.
    void SetModelLoadMs(double milliseconds);
    // X-Plane's folder as XPLMGetSystemPath gives it, with a trailing "/" (default: the working
    // directory at the time of the call).
    void SetSystemPath(const std::string &path);
    std::string SystemPath() const;

    // -- Objects and instances. An XPLMLoadObjectAsync completes `frames` frames later (default 3), at the
    // start of a frame, and fails for paths named here (as the plug-in gives them) or files X-Plane would
    // refuse; the reason goes to Instancing().loadProblems.
    void SetObjectLoadFrames(int frames);
    void FailObjectLoads(const std::string &path);
    std::vector<InstanceInfo> Instances() const;  // creation order
    InstancingInfo Instancing() const;
    const Obj8Mesh *InstanceMesh(XPLMInstanceRef id) const;  // nullptr for an unknown instance

    // -- TCAS targets and terrain.
    TcasInfo Tcas() const;
    void SetTerrain(Terrain terrain);  // default Flat
    Terrain GetTerrain() const;
    double TerrainElevation(double latitude, double longitude) const;  // metres above the sphere
    long ProbeCalls() const;                                           // XPLMProbeTerrainXYZ since Reset
    long MostProbesInFrame() const;

    // -- Widgets.
    std::vector<XPWidgetID> Widgets() const;  // creation order, live ones only
    std::optional<WidgetInfo> Widget(XPWidgetID id) const;
    XPWidgetID FindWidget(const std::string &descriptor) const;  // first match, nullptr if none
    std::vector<XPWidgetID> FindWidgetsByClass(XPWidgetClass widgetClass) const;
    std::vector<XPWidgetID> Children(XPWidgetID id) const;
    intptr_t WidgetProperty(XPWidgetID id, XPWidgetPropertyID property, bool *exists = nullptr) const;
    bool IsWidgetShown(XPWidgetID id) const;  // own flag and every ancestor's
    // The text field whose vertical extent overlaps the caption's, nearest to its right (a form's row).
    XPWidgetID FieldBesideCaption(const std::string &caption) const;

    // -- Widget actions as a user performs them. Each fails (false, with a reason) when the widget is
    // unknown, not shown, or of a kind the action does not apply to.
    bool ClickWidget(XPWidgetID id, std::string *error = nullptr);  // button, radio, check box, text field
    bool ClickWidget(const std::string &descriptor, std::string *error = nullptr);
    // Clicks the field, selects all its text, types `text` (MaxCharacters applies as for typing).
    bool ReplaceFieldText(XPWidgetID field, const std::string &text, std::string *error = nullptr);
    // Pushes the close box of the shown main window with this title (needs HasCloseBoxes = 1).
    bool PushCloseBox(XPWidgetID mainWindow, std::string *error = nullptr);
    bool PushCloseBox(const std::string &title, std::string *error = nullptr);

    // -- Draw record.
    const FrameRecord &LastFrame() const;  // the most recent complete frame
    // XPLMTakeKeyboardFocus calls since Reset that named a hidden window.
    long FocusToHiddenWindow() const;
    // XPLMSetGraphicsState calls since Reset that asked for fog or lighting in a window or 2-D phase.
    long FogOrLightingIn2D() const;

    HostState &Internal();  // for the SDK function implementations only

private:
    std::unique_ptr<HostState> state_;
};

// The process-wide host the SDK functions act on.
Host &TheHost();

// ---- Loading a plug-in module ----------------------------------------------------------------------

// A fresh copy of a .xpl: each load copies the file to a unique temporary path before dlopen, so every
// load has its own globals even when the same file was loaded before in this process.
class LoadedPlugin {
public:
    // nullptr with a one-line reason in `error` when the file is missing, not a loadable module, or
    // lacks one of the five entry functions.
    static std::unique_ptr<LoadedPlugin> Load(const std::string &path, std::string &error);
    ~LoadedPlugin();  // disables and stops when still enabled/started, then unloads
    LoadedPlugin(const LoadedPlugin &) = delete;
    LoadedPlugin &operator=(const LoadedPlugin &) = delete;

    int Start();  // keeps name, signature and description
    int Enable();
    void Disable();
    void Stop();
    void ReceiveMessage(XPLMPluginID from, int message, void *param);

    bool Started() const;
    bool Enabled() const;
    const std::string &Name() const;
    const std::string &Signature() const;
    const std::string &Description() const;
    const std::string &Path() const;  // the file it was loaded from

private:
    LoadedPlugin();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace simhost
