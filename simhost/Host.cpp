// The Host object: reset, the frame loop, data refs by name, screen and utility settings, queries.
#include "Host.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "HostState.h"

namespace simhost {

namespace {

// The default start: Seattle-Tacoma, near the threshold of runway 16L, on the ground, heading south.
constexpr double kStartLatitude = 47.4638;
constexpr double kStartLongitude = -122.3079;
constexpr double kStartElevation = 131.0;
constexpr double kStartHeading = 164.0;

}  // namespace

HostState &State() { return TheHost().Internal(); }

Host &TheHost() {
    static Host host;
    return host;
}

Host::Host() : state_(std::make_unique<HostState>()) { Reset(); }

Host::~Host() = default;

HostState &Host::Internal() { return *state_; }

void Host::Reset() {
    state_ = std::make_unique<HostState>();
    HostState &s = *state_;
    BuildDataRefs(s);
    // X-Plane's AI flies as many aircraft as the pilot's setting allows until a plug-in takes them.
    s.planes.activeCount = s.planes.aiCount + 1;
    s.planes.models.assign(20, "");
    PlaceAircraft(kStartLatitude, kStartLongitude, kStartElevation, kStartHeading);
}

void Host::SetXPlaneVersion(XPlaneVersion version) { state_->version = version; }
XPlaneVersion Host::GetXPlaneVersion() const { return state_->version; }

// ---- Clock -------------------------------------------------------------------------------------------

void Host::SetFrameRate(double framesPerSecond) {
    if (std::isfinite(framesPerSecond) && framesPerSecond > 0) state_->frameRate = framesPerSecond;
}

double Host::FrameRate() const { return state_->frameRate; }

// One frame, in X-Plane's order: the clock moves, flight loops run, the flight model moves the user's
// aircraft, the loops created for after the flight model run, then everything is drawn.
void Host::RunFrame() {
    HostState &s = *state_;
    auto wallStart = std::chrono::steady_clock::now();
    s.lastFrameDuration = 1.0 / s.frameRate;
    ++s.frameCount;
    // Time as frames x period rather than a running sum, so long runs do not drift.
    // The last frame's model loads made it longer: this frame comes that much later.
    s.lastFrameDuration += s.frameLoadSeconds;
    EndFrameLoads(s);
    s.now = static_cast<double>(s.frameCount) / s.frameRate + s.loadSeconds;
    Value(s, "sim/time/total_running_time_sec") = static_cast<float>(s.now);
    ExpirePlanesHold(s);
    LetGoIfHonoured(s);
    SendDueReleaseRequest(s);
    CompleteObjectLoads(s);
    RunFlightLoops(s, false);
    MoveUserAircraft(s);
    // Loops created for after the flight model see the aircraft where this frame put it.
    RunFlightLoops(s, true);
    EndFrameTcas(s);
    BeginFrameRecord(s);
    UpdateView(s);
    RunDrawing(s);
    EndFrameRecord(s);
    EndFrameProbes(s);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    s.longestFrameWall = std::max(s.longestFrameWall, wall);
}

void Host::RunFrames(int count) {
    for (int i = 0; i < count; ++i) RunFrame();
}

void Host::RunFor(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) return;
    double frames = std::ceil(seconds * state_->frameRate - 1e-9);
    RunFrames(static_cast<int>(std::min(frames, 1e9)));
}

double Host::Now() const { return state_->now; }

long Host::FrameCount() const { return state_->frameCount; }

double Host::LongestFrameWall() const { return state_->longestFrameWall; }

// ---- Data refs by name -----------------------------------------------------------------------------

bool Host::HasDataRef(const std::string &name) const { return FindEntry(*state_, name) != nullptr; }

double Host::GetDataRef(const std::string &name, int index) const {
    DataRefEntry *e = FindEntry(*state_, name);
    if (!e || index < 0 || static_cast<size_t>(index) >= e->values.size()) return 0;
    return e->values[static_cast<size_t>(index)];
}

std::vector<double> Host::GetDataRefArray(const std::string &name) const {
    DataRefEntry *e = FindEntry(*state_, name);
    return e ? e->values : std::vector<double>{};
}

bool Host::SetDataRef(const std::string &name, double value, int index) {
    DataRefEntry *e = FindEntry(*state_, name);
    if (!e || index < 0 || static_cast<size_t>(index) >= e->values.size()) return false;
    StoreValue(*state_, *e, index, value);
    return true;
}

bool Host::SetDataRefArray(const std::string &name, const std::vector<double> &values) {
    DataRefEntry *e = FindEntry(*state_, name);
    if (!e || values.size() > e->values.size()) return false;
    for (size_t i = 0; i < values.size(); ++i) StoreValue(*state_, *e, static_cast<int>(i), values[i]);
    return true;
}

std::vector<std::string> Host::DataRefNames() const {
    std::vector<std::string> names;
    for (const DataRefEntry &e : state_->dataRefs) names.push_back(e.name);
    return names;
}

// ---- Screen, paths, view ---------------------------------------------------------------------------

void Host::SetScreenSize(int width, int height) {
    if (width > 0 && height > 0) {
        state_->screenWidth = width;
        state_->screenHeight = height;
    }
}

int Host::ScreenWidth() const { return state_->screenWidth; }
int Host::ScreenHeight() const { return state_->screenHeight; }
void Host::SetDirectorySeparator(const std::string &separator) { state_->separator = separator; }
std::string Host::DirectorySeparator() const { return SeparatorOf(*state_); }
bool Host::FeatureEnabled(const std::string &feature) const { return state_->features.count(feature) > 0; }
void Host::SetViewType(int viewType) { Value(*state_, "sim/graphics/view/view_type") = viewType; }
std::vector<std::string> Host::DebugLog() const { return state_->debugLog; }
std::vector<std::string> Host::ReadOnlyWrites() const { return state_->readOnlyWrites; }
long Host::ReadOnlyWriteCount() const { return state_->readOnlyWriteCount; }

// ---- Registered callbacks --------------------------------------------------------------------------

std::vector<FlightLoopInfo> Host::FlightLoops() const {
    std::vector<FlightLoopInfo> out;
    for (const FlightLoopEntry &e : state_->flightLoops)
        if (!e.removed) out.push_back(e.info);
    return out;
}

std::vector<DrawCallbackInfo> Host::DrawCallbacks() const {
    std::vector<DrawCallbackInfo> out;
    for (const DrawCallbackEntry &e : state_->drawCallbacks)
        if (!e.removed) out.push_back(e.info);
    return out;
}

std::vector<KeySnifferInfo> Host::KeySniffers() const {
    std::vector<KeySnifferInfo> out;
    for (const KeySnifferEntry &e : state_->keySniffers)
        if (!e.removed) out.push_back(e.info);
    return out;
}

// ---- Windows -----------------------------------------------------------------------------------------

std::optional<WindowInfo> Host::Window(XPLMWindowID id) const {
    const HostState &s = *state_;
    auto it = s.windows.find(id);
    if (it == s.windows.end()) return std::nullopt;
    WindowInfo info;
    info.id = id;
    info.left = it->second.left;
    info.top = it->second.top;
    info.right = it->second.right;
    info.bottom = it->second.bottom;
    info.visible = it->second.visible;
    info.hasKeyboardFocus = s.focusWindow == id;
    info.zOrder = static_cast<int>(std::find(s.zOrder.begin(), s.zOrder.end(), id) - s.zOrder.begin());
    return info;
}

std::vector<WindowInfo> Host::Windows() const {
    std::vector<WindowInfo> out;
    for (XPLMWindowID id : state_->windowOrder) out.push_back(*Window(id));
    return out;
}

XPLMWindowID Host::WindowWithFocus() const { return state_->focusWindow; }
XPWidgetID Host::WidgetWithFocus() const { return state_->focusWidget; }

// ---- Planes and the draw record ------------------------------------------------------------------------

PlanesInfo Host::Planes() const {
    // The frame just run counts too, though its loads are folded in only when the next one starts.
    const HostState &s = *state_;
    PlanesInfo planes = s.planes;
    if (s.planesHolder == HostState::kOtherPlugin) planes.holderName = "Stand-in Traffic";
    planes.mostModelLoadsInFrame = std::max(planes.mostModelLoadsInFrame, s.frameModelLoads);
    if (s.frameCount > 0) planes.longestFrame = std::max(planes.longestFrame, 1.0 / s.frameRate + s.frameLoadSeconds);
    return planes;
}

void Host::SetUserAircraftModel(const std::string &fileName, const std::string &path) {
    state_->userModelFile = fileName;
    state_->userModelPath = path;
}

const FrameRecord &Host::LastFrame() const { return state_->last; }
long Host::FocusToHiddenWindow() const { return state_->focusToHiddenWindow; }
long Host::FogOrLightingIn2D() const { return state_->fogOrLightingIn2D; }

}  // namespace simhost
