// Instanced traffic: model matching per peer, asynchronous model loads, one instance per peer, terrain under wheels.
#include "traffic/InstancedTraffic.h"

#include <cmath>
#include <cstdint>

#include "core/ConnectionStatus.h"
#include "core/SimulatorPath.h"
#include "core/SkorvaleSE.h"
#include "net/ModelPath.h"
#include "traffic/AircraftUtils.h"
#include "traffic/ModelMatch.h"
#include "traffic/PlaneAccess.h"
#include "traffic/TrafficModels.h"
#include "traffic/TrafficSlots.h"

#if __has_include(<XPLMInstance.h>)
#include <XPLMInstance.h>
#define SKORVALE_INSTANCING 1
#else
// SDK headers before 3.0 have no instancing: such a build shows traffic the multiplayer way only.
#define SKORVALE_INSTANCING 0
typedef void *XPLMInstanceRef;
#endif
#include <XPLMScenery.h>

namespace {

// A peer whose locations stop this long is gone (its pilot's connection died without a word).
constexpr double kPresenceSeconds = 10;
// A peer changing its model path is matched again at most this often; the same match loads nothing.
constexpr double kRematchSeconds = 1;
// Reading an .acf touches the disk: at most this many a frame.
constexpr int kAcfReadsPerFrame = 2;
// Each aircraft's ground is probed once every this many frames (X-Plane asks for probes to be few).
constexpr int kProbeEveryFrames = 4;
// On the ground: gear down and slower than this (a landing roll, a take-off run, taxiing)...
constexpr float kGroundSpeedLimit = 45;
// ...and within this height of our own ground, since another pilot's scenery may differ by that much.
constexpr float kGroundGapLimit = 30;
// Where the zip puts the models, from X-Plane's folder.
const char *const kModelFolder = "Resources/plugins/Skorvale/models/";

enum class ObjectState { None, Loading, Loaded, Failed };
struct ModelObject {
    XPLMObjectRef object = nullptr;
    ObjectState state = ObjectState::None;
};

struct PeerState {
    std::string path;         // as last sent
    std::string matchedPath;  // the path the choice was made for
    bool matched = false;
    double lastMatch = -1e9;
    ModelChoice choice;
    bool located = false;
    double lastLocation = 0;
    XPLMInstanceRef instance = nullptr;
    int instanceModel = -1;
    // Motion from successive positions, and our ground under the aircraft.
    bool haveLast = false;
    float lastX = 0, lastY = 0, lastZ = 0;
    double lastMove = 0;
    float groundY = 0;
    bool haveGround = false;
    float propDeg = 0;
    DrawnTraffic drawn;
};

bool started = false;
ModelObject objects[kTrafficModelCount];
PeerState slots[kSlotCount];
XPLMDataRef ownRefs[kTrafficDataRefCount] = {};
XPLMProbeRef probe = nullptr;
long frameNumber = 0;
bool defaultFailureLogged = false;
std::string lastUnshownNote;

double Clock() {
    static XPLMDataRef clock = XPLMFindDataRef("sim/time/total_running_time_sec");
    return clock ? XPLMGetDataf(clock) : 0.0;
}

// Our data refs carry no value of their own: each instance is fed its values with its position.
float ReadNothing(void *) { return 0; }

void DestroyInstance(PeerState &s) {
#if SKORVALE_INSTANCING
    if (s.instance) XPLMDestroyInstance(s.instance);
#endif
    s.instance = nullptr;
    s.instanceModel = -1;
}

void ObjectLoaded(XPLMObjectRef object, void *refcon) {
    const int model = static_cast<int>(reinterpret_cast<intptr_t>(refcon));
    if (model < 0 || model >= kTrafficModelCount) return;
    ModelObject &m = objects[model];
    // No load can be cancelled: one that ends after the plug-in stopped wanting it is let go here.
    if (!started || m.state != ObjectState::Loading) {
        if (object) XPLMUnloadObject(object);
        return;
    }
    if (!object) {
        m.state = ObjectState::Failed;
        const std::string name = TrafficModelInfo(model).name;
        if (model != kDefaultTrafficModel) {
            LogForPilot("the traffic model " + name + " did not load; the default model stands in for it");
        } else if (!defaultFailureLogged) {
            defaultFailureLogged = true;
            LogForPilot(
                "the default traffic model did not load: instanced traffic cannot be shown (is the "
                "models folder of the plug-in installed?)");
        }
        return;
    }
    m.object = object;
    m.state = ObjectState::Loaded;
}

// The model to draw for a choice: itself once loaded, the default if it failed (once, never retried),
// -1 while a load runs. Asks for the load the first time.
int UsableModel(int model) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        ModelObject &m = objects[model];
        switch (m.state) {
            case ObjectState::None:
                m.state = ObjectState::Loading;
                XPLMLoadObjectAsync((std::string(kModelFolder) + TrafficModelInfo(model).name + ".obj").c_str(),
                                    ObjectLoaded, reinterpret_cast<void *>(static_cast<intptr_t>(model)));
                return -1;
            case ObjectState::Loading:
                return -1;
            case ObjectState::Loaded:
                return model;
            case ObjectState::Failed:
                if (model == kDefaultTrafficModel) return -1;
                model = kDefaultTrafficModel;
                break;
        }
    }
    return -1;
}

ModelChoice Choose(const std::string &path) {
    std::string local;
    std::string icao;
    if (LocalModelPath(path, &local)) icao = ReadAcfIcao(InSimulatorFolder(local));
    return MatchModel(path, icao);
}

// The peer's velocity from its moves, and whether it is on the ground: gear down and slow. Then where
// it is drawn: on our ground while on the ground there (if ours is near its own), else where it says.
void UpdateMotion(int slot, PeerState &s, double now) {
    const Aircraft &r = AircraftList[slot];
    if (!s.haveLast) {
        s.haveLast = true;
        s.lastMove = now;
    } else if (r.x != s.lastX || r.y != s.lastY || r.z != s.lastZ) {
        const double dt = now - s.lastMove;
        if (dt > 1e-3 && dt < 3) {
            s.drawn.vx = static_cast<float>((r.x - s.lastX) / dt);
            s.drawn.vy = static_cast<float>((r.y - s.lastY) / dt);
            s.drawn.vz = static_cast<float>((r.z - s.lastZ) / dt);
        }
        s.lastMove = now;
    } else if (now - s.lastMove > 3) {
        s.drawn.vx = s.drawn.vy = s.drawn.vz = 0;
    }
    s.lastX = r.x;
    s.lastY = r.y;
    s.lastZ = r.z;

    const float speed = std::hypot(s.drawn.vx, s.drawn.vz);
    s.drawn.onGround = r.gear[0] >= 0.9f && speed < kGroundSpeedLimit && std::fabs(s.drawn.vy) < 5;
    s.drawn.x = r.x;
    s.drawn.y = r.y;
    s.drawn.z = r.z;
    s.drawn.psi = r.psi;
    s.drawn.theta = r.theta;
    s.drawn.phi = r.phi;
    if (!s.drawn.onGround) return;
    // Staggered by slot, so the probes of many aircraft spread over the frames.
    if (probe && (!s.haveGround || (frameNumber + slot) % kProbeEveryFrames == 0)) {
        XPLMProbeInfo_t info{};
        info.structSize = sizeof info;
        if (XPLMProbeTerrainXYZ(probe, r.x, r.y, r.z, &info) == xplm_ProbeHitTerrain) {
            s.groundY = info.locationY;
            s.haveGround = true;
        }
    }
    const float wheels = TrafficModelInfo(s.instanceModel >= 0 ? s.instanceModel : s.choice.model).wheelHeight;
    if (s.haveGround && std::fabs(r.y - wheels - s.groundY) < kGroundGapLimit) s.drawn.y = s.groundY + wheels;
}

void PlaceInstance(int slot, PeerState &s, float elapsed, double now) {
#if SKORVALE_INSTANCING
    const Aircraft &r = AircraftList[slot];
    // Two to six turns a second with the throttle, in whole degrees a frame: enough to look alive.
    s.propDeg = std::fmod(s.propDeg + elapsed * 360.0f * (2.0f + 4.0f * std::fmax(0.0f, r.throttle[0])), 360.0f);
    // The beacon flashes once a second and a bit, the strobes once a second, each aircraft in its own phase.
    const double phase = slot * 0.137;
    float data[kTrafficDataRefCount];
    data[kRefGear] = r.gear[0];
    data[kRefPropDeg] = s.propDeg;
    data[kRefNav] = r.nav != 0 ? 1.0f : 0.0f;
    data[kRefBeacon] = r.beacon != 0 && std::fmod(now + phase, 1.2) < 0.15 ? 1.0f : 0.0f;
    data[kRefStrobe] = r.strobe != 0 && std::fmod(now + phase, 1.0) < 0.06 ? 1.0f : 0.0f;
    data[kRefLanding] = r.landing != 0 ? 1.0f : 0.0f;
    data[kRefTaxi] = r.taxi != 0 ? 1.0f : 0.0f;
    for (float &v : data)
        if (!std::isfinite(v)) v = 0;
    XPLMDrawInfo_t at{};
    at.structSize = sizeof at;
    at.x = s.drawn.x;
    at.y = s.drawn.y;
    at.z = s.drawn.z;
    at.pitch = s.drawn.theta;
    at.heading = s.drawn.psi;
    at.roll = s.drawn.phi;
    XPLMInstanceSetPosition(s.instance, &at, data);
#else
    (void)slot, (void)s, (void)elapsed, (void)now;
#endif
}

// With instanced traffic the multiplayer aircraft are held for the TCAS override only, and none of them is
// drawn: the active count stays at the user's aircraft alone. Switched off, the slots are written again.
bool hidingMultiplayerAircraft = false;
void KeepMultiplayerAircraftHidden() {
    if (!planesAcquired) {
        hidingMultiplayerAircraft = false;
        return;
    }
    if (trafficModels != 0) {
        int total = 0, active = 0;
        XPLMPluginID controller = 0;
        XPLMCountAircraft(&total, &active, &controller);
        if (active != 1) XPLMSetActiveAircraftCount(1);
        hidingMultiplayerAircraft = true;
    } else if (hidingMultiplayerAircraft) {
        hidingMultiplayerAircraft = false;
        RewriteTrafficSlots();
    }
}

// In the default mode, peers the simulator's AI aircraft count leaves undrawn are named in the status line,
// with the way to see them all. Only while the aircraft are held: otherwise the line names their holder.
void NoteUnshownPeers() {
    if (!planesAcquired) return;
    int unshown = 0;
    if (trafficModels == 0)
        for (int slot = 1; slot < kSlotCount; ++slot)
            if (SlotState(slot) == SlotShown::BeyondAircraft) ++unshown;
    std::string note;
    if (unshown > 0) {
        note = std::to_string(unshown) + (unshown == 1 ? " pilot" : " pilots") +
               " not shown (AI aircraft count): tick \"Our models\" to see all";
    }
    if (note != lastUnshownNote) {
        lastUnshownNote = note;
        SetStatusNote(note);
        if (!note.empty()) LogForPilot(note);
    }
}

}  // namespace

void StartInstancedTraffic() {
    if (started) return;
    started = true;
    for (int i = 0; i < kTrafficDataRefCount; ++i)
        ownRefs[i] = XPLMRegisterDataAccessor(kTrafficDataRefs[i], xplmType_Float, 0, nullptr, nullptr, ReadNothing,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr);
    probe = XPLMCreateProbe(xplm_ProbeY);
}

void StopInstancedTraffic() {
    ClearInstancedTraffic();
    for (ModelObject &m : objects) {
        if (m.state == ObjectState::Loaded) XPLMUnloadObject(m.object);
        m = ModelObject{};
    }
    for (XPLMDataRef &ref : ownRefs) {
        if (ref) XPLMUnregisterDataAccessor(ref);
        ref = nullptr;
    }
    if (probe) XPLMDestroyProbe(probe);
    probe = nullptr;
    for (PeerState &s : slots) s = PeerState{};
    defaultFailureLogged = false;
    started = false;
}

void NoteTrafficModelPath(int slot, const std::string &path) {
    if (slot < 1 || slot >= kSlotCount) return;
    slots[slot].path = path.size() <= kModelPathLimit ? path : std::string();
}

void NoteTrafficLocation(int slot) {
    if (slot < 1 || slot >= kSlotCount) return;
    slots[slot].located = true;
    slots[slot].lastLocation = Clock();
}

void ForgetTrafficSlot(int slot) {
    if (slot < 1 || slot >= kSlotCount) return;
    DestroyInstance(slots[slot]);
    slots[slot] = PeerState{};
}

void ClearInstancedTraffic() {
    for (PeerState &s : slots) DestroyInstance(s);
}

bool TrafficSlotPresent(int slot) {
    if (slot < 1 || slot >= kSlotCount) return false;
    const PeerState &s = slots[slot];
    const double now = Clock();
    // A clock that went back (a new flight) does not make a peer vanish.
    return s.located && (now < s.lastLocation || now - s.lastLocation < kPresenceSeconds);
}

void InstancedTrafficFrame(float elapsedSeconds) {
    ++frameNumber;
    const double now = Clock();
    KeepMultiplayerAircraftHidden();
    NoteUnshownPeers();
    const bool drawInstances = trafficModels != 0 && tcpconnected != 0 && started && SKORVALE_INSTANCING;
    int acfReads = 0;
    for (int slot = 1; slot < kSlotCount; ++slot) {
        PeerState &s = slots[slot];
        if (!TrafficSlotPresent(slot)) {
            DestroyInstance(s);
            continue;
        }
        const bool due = !s.matched || (s.path != s.matchedPath && now - s.lastMatch >= kRematchSeconds);
        if (due && acfReads < kAcfReadsPerFrame) {
            ++acfReads;
            s.choice = Choose(s.path);
            s.matchedPath = s.path;
            s.lastMatch = now;
            s.matched = true;
        }
        UpdateMotion(slot, s, now);
        if (!drawInstances) {
            DestroyInstance(s);
            continue;
        }
        const int model = UsableModel(s.choice.model);
        if (model != s.instanceModel) DestroyInstance(s);
        if (model < 0) continue;
#if SKORVALE_INSTANCING
        if (!s.instance) {
            s.instance = XPLMCreateInstance(objects[model].object, const_cast<const char **>(kTrafficDataRefs));
            s.instanceModel = s.instance ? model : -1;
        }
#endif
        if (s.instance) PlaceInstance(slot, s, elapsedSeconds, now);
    }
}

DrawnTraffic DrawnTrafficOf(int slot) { return slot >= 1 && slot < kSlotCount ? slots[slot].drawn : DrawnTraffic{}; }

int TrafficModelOf(int slot) {
    if (slot < 1 || slot >= kSlotCount) return kDefaultTrafficModel;
    return slots[slot].instanceModel >= 0 ? slots[slot].instanceModel : slots[slot].choice.model;
}

std::string TrafficIcaoOf(int slot) { return slot >= 1 && slot < kSlotCount ? slots[slot].choice.icao : ""; }

std::string TrafficChoiceText(int slot) {
    if (slot < 1 || slot >= kSlotCount || !slots[slot].matched) return "";
    return DescribeChoice(slots[slot].choice);
}

int InstanceCount() {
    int n = 0;
    for (const PeerState &s : slots)
        if (s.instance) ++n;
    return n;
}
