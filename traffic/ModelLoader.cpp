// Traffic model loads: one per slot a second at most, so a peer switching models cannot stall the simulator.
#include "traffic/ModelLoader.h"

#include "core/HostInterface.h"
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

double SimulatorSeconds() {
    static XPLMDataRef clock = XPLMFindDataRef("sim/time/total_running_time_sec");
    return clock ? XPLMGetDataf(clock) : 0.0;
}

void LoadIfDue(int slot, double now) {
    SlotModel &m = models[slot];
    if (!m.pending || !planesAcquired) return;
    // A clock that went backwards (a new flight) does not hold a load back.
    if (m.loadedOnce && now >= m.lastLoad && now - m.lastLoad < kSecondsBetweenLoads) return;
    XPLMSetAircraftModel(slot, m.path.c_str());
    m.pending = false;
    m.loadedOnce = true;
    m.lastLoad = now;
}

}  // namespace

void RequestModel(int slot, const std::string &path) {
    if (slot < 1 || slot >= kSlotCount) return;
    models[slot].path = path;
    models[slot].pending = true;
    LoadIfDue(slot, SimulatorSeconds());
}

void LoadPendingModels() {
    double now = SimulatorSeconds();
    for (int slot = 1; slot < kSlotCount; slot++) LoadIfDue(slot, now);
}

void ReloadNamedModels() {
    for (int slot = 1; slot < kSlotCount; slot++) {
        if (models[slot].path.empty()) continue;
        models[slot].pending = true;
        models[slot].loadedOnce = false;
    }
    LoadPendingModels();
}
