// Traffic model loads: one a frame across all slots, nearest aircraft first, at most one per slot a second.
#include "traffic/ModelLoader.h"

#include <climits>

#include "core/SkorvaleSE.h"
#include "traffic/AircraftUtils.h"
#include "traffic/PlaneAccess.h"

namespace {

// A model load reads and builds a whole aircraft; a peer alternating two models would otherwise make
// the simulator load one per message, a thousand per flight loop.
constexpr double kSecondsBetweenLoads = 1.0;

struct SlotModel {
    std::string path;  // the latest model asked for, loaded or not
    bool pending = false;
    bool loadedOnce = false;
    double lastLoad = 0;  // simulator seconds
};

SlotModel models[kSlotCount];

// The simulator cycle of the last load: X-Plane loads a model before it returns, so two in one frame
// freeze that frame for both.
int lastLoadCycle = INT_MIN;

double SimulatorSeconds() {
    static XPLMDataRef clock = XPLMFindDataRef("sim/time/total_running_time_sec");
    return clock ? XPLMGetDataf(clock) : 0.0;
}

bool Due(int slot, double now) {
    const SlotModel &m = models[slot];
    if (!m.pending) return false;
    // A clock that went backwards (a new flight) does not hold a load back.
    return !m.loadedOnce || now < m.lastLoad || now - m.lastLoad >= kSecondsBetweenLoads;
}

// Squared distance from the user's aircraft to a slot's last reported position, in the local frame.
double DistanceSquared(int slot) {
    double dx = AircraftList[slot].x - (gPlaneX ? XPLMGetDataf(gPlaneX) : 0.0f);
    double dy = AircraftList[slot].y - (gPlaneY ? XPLMGetDataf(gPlaneY) : 0.0f);
    double dz = AircraftList[slot].z - (gPlaneZ ? XPLMGetDataf(gPlaneZ) : 0.0f);
    return dx * dx + dy * dy + dz * dz;
}

}  // namespace

void RequestModel(int slot, const std::string &path) {
    if (slot < 1 || slot >= kSlotCount) return;
    models[slot].path = path;
    models[slot].pending = true;
}

void LoadPendingModels() {
    if (!planesAcquired) return;
    int cycle = XPLMGetCycleNumber();
    if (cycle == lastLoadCycle) return;
    double now = SimulatorSeconds();
    // Slots the simulator does not show (beyond its aircraft count) wait until it does.
    int shown = ShownAircraftCount();
    int nearest = 0;
    double nearestDistance = 0;
    for (int slot = 1; slot < kSlotCount && slot < shown; slot++) {
        if (!Due(slot, now)) continue;
        double distance = DistanceSquared(slot);
        if (nearest == 0 || distance < nearestDistance) {
            nearest = slot;
            nearestDistance = distance;
        }
    }
    if (nearest == 0) return;
    SlotModel &m = models[nearest];
    XPLMSetAircraftModel(nearest, m.path.c_str());
    m.pending = false;
    m.loadedOnce = true;
    m.lastLoad = now;
    lastLoadCycle = cycle;
}

void ReloadNamedModels() {
    for (int slot = 1; slot < kSlotCount; slot++) {
        if (models[slot].path.empty()) continue;
        models[slot].pending = true;
        models[slot].loadedOnce = false;
    }
}

void ForgetModels() {
    for (SlotModel &m : models) {
        m.path.clear();
        m.pending = false;
    }
}
