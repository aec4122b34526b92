// Traffic model loads: nearest shown peer within sight first, never a path an aircraft already has, a stall budget.
#include "traffic/ModelLoader.h"

#include <climits>
#include <cmath>

#include "core/SimulatorPath.h"
#include "core/SkorvaleSE.h"
#include "net/ModelPath.h"
#include "platform/File.h"
#include "traffic/AircraftUtils.h"
#include "traffic/PlaneAccess.h"
#include "traffic/TrafficSlots.h"

namespace {

// A peer alternating two models would otherwise make the simulator load one per message.
constexpr double kSecondsBetweenLoads = 1.0;

// X-Plane builds the whole aircraft before XPLMSetAircraftModel returns, so a load stalls the frame it
// is made in by however long the model takes (a tenth of a second to seconds). Loads may take at most
// this share of the simulator's time, measured from the frame after each load, with at most this much
// saved up; and never two frames running, so the pilot always gets a normal frame between two stalls.
constexpr double kStallShare = 0.25;
constexpr double kStallSavings = 0.25;       // seconds
constexpr double kLongestNormalFrame = 0.1;  // seconds: 10 frames a second

std::string wanted[kSlotCount];      // per relay slot: the full path its peer's model loads from, "" for none
std::string loaded[kAircraftCount];  // per simulator aircraft: the path last loaded into it
double lastLoad[kAircraftCount];     // per simulator aircraft: simulator seconds of its last load
bool everLoaded[kAircraftCount];

int lastLoadCycle = INT_MIN;
int lastCycle = INT_MIN;
double allowance = kStallSavings;
double typicalFrame = 0;  // seconds; a frame without a load before it

double SimulatorSeconds() {
    static XPLMDataRef clock = XPLMFindDataRef("sim/time/total_running_time_sec");
    return clock ? XPLMGetDataf(clock) : 0.0;
}

// What the frame after a load took beyond a normal frame is what the load cost; other frames teach
// what normal is, and every frame earns its share of time for loads.
void Account(int cycle, double elapsed) {
    if (!std::isfinite(elapsed) || elapsed < 0 || elapsed > 10) elapsed = 0;
    if (cycle == lastLoadCycle + 1) {
        allowance -= elapsed > typicalFrame ? elapsed - typicalFrame : 0;
    } else if (elapsed < kLongestNormalFrame) {
        // A pause, a menu or the simulator's own loading teaches nothing about a normal frame.
        typicalFrame = typicalFrame == 0 ? elapsed : typicalFrame + 0.1 * (elapsed - typicalFrame);
    }
    allowance += kStallShare * elapsed;
    if (allowance > kStallSavings) allowance = kStallSavings;
}

bool Due(int aircraft, double now) {
    return !everLoaded[aircraft] || now < lastLoad[aircraft] || now - lastLoad[aircraft] >= kSecondsBetweenLoads;
}

}  // namespace

const char kStockDefaultModel[] = "Aircraft/Laminar Research/Cessna 172 SP/Cessna_172SP.acf";

std::string DefaultModelPath() {
    std::string local;
    // The setting goes through the same check as a peer's path: a model under the aircraft folder.
    if (!LocalModelPath(defaultModel.empty() ? kStockDefaultModel : defaultModel, &local)) return "";
    std::string full = InSimulatorFolder(local);
    return RegularFileOpens(full) ? full : "";
}

void RequestModel(int slot, const std::string &path) {
    if (slot < 1 || slot >= kSlotCount) return;
    wanted[slot] = path;
}

void LoadPendingModels(float elapsedSinceLastFrame) {
    int cycle = XPLMGetCycleNumber();
    if (cycle == lastCycle) return;
    lastCycle = cycle;
    Account(cycle, elapsedSinceLastFrame);
    if (!planesAcquired || cycle == lastLoadCycle + 1 || allowance <= 0) return;

    double now = SimulatorSeconds();
    int nearest = 0;
    double nearestDistance = 0;
    for (int slot = 1; slot < kSlotCount; slot++) {
        int aircraft = AircraftOfSlot(slot);
        if (aircraft == 0 || wanted[slot].empty() || wanted[slot] == loaded[aircraft] || !Due(aircraft, now)) continue;
        double distance = SlotDistanceSquared(slot);
        // Beyond the visual range the aircraft keeps whatever model it has: nobody could tell.
        if (distance > kVisualRangeMetres * kVisualRangeMetres) continue;
        if (nearest == 0 || distance < nearestDistance) {
            nearest = slot;
            nearestDistance = distance;
        }
    }
    if (nearest == 0) return;
    int aircraft = AircraftOfSlot(nearest);
    XPLMSetAircraftModel(aircraft, wanted[nearest].c_str());
    loaded[aircraft] = wanted[nearest];
    everLoaded[aircraft] = true;
    lastLoad[aircraft] = now;
    lastLoadCycle = cycle;
}

void ReloadNamedModels() {
    // X-Plane's AI or another plug-in had the aircraft meanwhile: what they hold now is unknown.
    for (int aircraft = 0; aircraft < kAircraftCount; aircraft++) {
        loaded[aircraft].clear();
        everLoaded[aircraft] = false;
    }
}

void ForgetSlotModel(int slot) {
    if (slot >= 1 && slot < kSlotCount) wanted[slot].clear();
}

void ForgetModels() {
    for (std::string &path : wanted) path.clear();
}
