// The crewed redirect: the crew's pilot flying the user's own aircraft, and the plane-path override it needs.
#include "traffic/CrewRedirect.h"

#include <cmath>

#include "core/SkorvaleSE.h"
#include "traffic/AircraftUtils.h"

namespace {

const char kPlanePathOverride[] = "sim/operation/override/override_planepath";

// Seconds of packet processing since load, and when the crew's pilot was last heard.
double redirectClock = 0;
double lastCrewDatagram = 0;

// The pilot's positions: the latest, and the last one of an earlier packet-processor call.
struct Sample {
    bool valid = false;
    double time = 0;
    float x = 0, y = 0, z = 0;
};
Sample latest, base;

void WritePlanePathOverride(int value) { XPLMSetDatavi(XPLMFindDataRef(kPlanePathOverride), &value, 0, 1); }

// An empty crew ID names no crew: without it every slot whose crew is unknown would fly the user.
bool RedirectApplies() { return flightMode == 1 && cockpitPosition > 0 && !crewID.empty(); }

}  // namespace

int RedirectSlot(int slot) {
    if (!RedirectApplies() || slot < 0 || slot >= kSlotCount || CrewIDs[slot] != crewID) return slot;
    lastCrewDatagram = redirectClock;
    if (overridden == 0) {
        WritePlanePathOverride(1);
        overridden = 1;
        // A new flight of the pilot's: no velocity from positions of an earlier one.
        latest = Sample{};
        base = Sample{};
    }
    return 0;
}

void TrackPilotMotion(Aircraft &record) {
    if (latest.valid && latest.time != redirectClock) base = latest;
    latest = {true, redirectClock, record.x, record.y, record.z};
    if (!base.valid) {
        record.vx = record.vy = record.vz = 0;
        return;
    }
    if (!(redirectClock > base.time)) return;
    double dt = redirectClock - base.time;
    float v[3] = {(float)((record.x - base.x) / dt), (float)((record.y - base.y) / dt),
                  (float)((record.z - base.z) / dt)};
    for (float value : v)
        if (!std::isfinite(value)) return;
    record.vx = v[0];
    record.vy = v[1];
    record.vz = v[2];
}

void AdvanceRedirectClock(float elapsedSeconds) {
    if (std::isfinite(elapsedSeconds) && elapsedSeconds > 0) redirectClock += elapsedSeconds;
}

void ReleaseIdleRedirect() {
    if (overridden == 0) return;
    if (!RedirectApplies() || redirectClock - lastCrewDatagram > kCrewSilenceLimit) ReleasePlanePath();
}

void ReleasePlanePath() {
    if (overridden == 0) return;
    WritePlanePathOverride(0);
    overridden = 0;
}
