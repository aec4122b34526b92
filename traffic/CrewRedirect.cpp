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
    }
    return 0;
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
