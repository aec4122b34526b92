// Taking the simulator's multiplayer aircraft while online, waiting for them while another plug-in holds them, and
// giving them back.
#include "traffic/PlaneAccess.h"

#include "core/ConnectionStatus.h"
#include "core/SkorvaleSE.h"
#include "traffic/ModelLoader.h"
#include "traffic/TcasTargets.h"

int planesAcquired = 0;

namespace {

// Set from the request to the release, so a late availability notice cannot take the aircraft for a
// plug-in that no longer wants them.
bool wantPlanes = false;
// Set while another plug-in holds them and the pilot has been told so.
bool heldElsewhere = false;

void TakePlanes() {
    planesAcquired = 1;
    if (heldElsewhere) LogForPilot("the other plug-in gave the multiplayer aircraft up: traffic is shown now");
    heldElsewhere = false;
    XPLMSetActiveAircraftCount(20);
    // Index 20 lies beyond the highest multiplayer aircraft; X-Plane accepts it and it costs nothing.
    for (int i = 1; i <= 20; i++) XPLMDisableAIForPlane(i);
    // The traffic went on while another plug-in held the aircraft: give each slot its latest model.
    ReloadNamedModels();
}

}  // namespace

void AcquirePlanes() {
    wantPlanes = true;
    if (planesAcquired) return;
    if (XPLMAcquirePlanes(nullptr, SkorvalePlanesAvailable, nullptr)) {
        TakePlanes();
    } else if (!heldElsewhere) {
        heldElsewhere = true;
        LogForPilot("another plug-in holds the multiplayer aircraft: no traffic is shown until it gives them up");
    }
}

void ReleasePlanes() {
    // Only the holder may clear the TCAS override, so it goes first.
    EndTcasOverride();
    heldElsewhere = false;
    wantPlanes = false;
    if (planesAcquired) XPLMSetActiveAircraftCount(0);
    planesAcquired = 0;
    XPLMReleasePlanes();
}

int ShownAircraftCount() {
    int total = 0, active = 0;
    XPLMPluginID controller = 0;
    XPLMCountAircraft(&total, &active, &controller);
    return total;
}

void ReleasePlanesRequested() {
    // An online network keeps them: Laminar asks traffic generators to yield to networks, not the
    // other way round. Offline the plug-in shows nobody, so it has no reason to hold them.
    if (!tcpconnected) ReleasePlanes();
}

void SkorvalePlanesAvailable(void *) {
    // Available is not granted: they must still be acquired, and another plug-in may be quicker.
    if (!wantPlanes || planesAcquired) return;
    if (XPLMAcquirePlanes(nullptr, SkorvalePlanesAvailable, nullptr)) TakePlanes();
}
