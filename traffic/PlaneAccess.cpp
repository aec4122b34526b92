// Taking the simulator's multiplayer aircraft while online, asking another plug-in that holds them to let go, and
// giving them back as they were.
#include "traffic/PlaneAccess.h"

#include "core/ConnectionStatus.h"
#include "core/SkorvaleSE.h"
#include "traffic/AircraftUtils.h"
#include "traffic/ModelLoader.h"
#include "traffic/TcasTargets.h"
#include "traffic/TrafficSlots.h"

#ifdef XPLM_MSG_RELEASE_PLANES
constexpr int kReleasePlanesMessage = XPLM_MSG_RELEASE_PLANES;
#else
// SDK headers before 3.0.3 (or without XPLM303) lack the name; X-Plane 11.41 and later send it.
constexpr int kReleasePlanesMessage = 111;
#endif

int planesAcquired = 0;
std::string planesHolderName;

namespace {

// Set from the request to the release, so a late availability notice cannot take the aircraft for a
// plug-in that no longer wants them.
bool wantPlanes = false;
// The holder was asked to let go during this connection: once is enough, and more would be nagging.
bool askedHolder = false;
// The pilot's own active aircraft count when the plug-in took the aircraft, given back at release.
int pilotsActiveCount = -1;

void TakePlanes() {
    int total = 0, active = 0;
    XPLMPluginID controller = 0;
    XPLMCountAircraft(&total, &active, &controller);
    pilotsActiveCount = active;
    planesAcquired = 1;
    if (!planesHolderName.empty()) {
        LogForPilot("\"" + planesHolderName + "\" gave the multiplayer aircraft up: traffic is shown now");
        planesHolderName.clear();
        SetStatusNote("");
    }
    // The multiplayer aircraft are 1..19; 0 is the user's own.
    for (int i = 1; i < kAircraftCount; i++) XPLMDisableAIForPlane(i);
    // The traffic went on while another plug-in held the aircraft: give each its latest model, and only as
    // many active as peers fill.
    ReloadNamedModels();
    RewriteTrafficSlots();
}

// Another plug-in holds the aircraft: it is asked once per connection to let go, as Laminar asks traffic
// plug-ins to do for networks, and the pilot is told which plug-in it is.
void AskHolder() {
    int total = 0, active = 0;
    XPLMPluginID controller = XPLM_NO_PLUGIN_ID;
    XPLMCountAircraft(&total, &active, &controller);
    if (controller == XPLM_NO_PLUGIN_ID) return;
    char name[256] = {};
    XPLMGetPluginInfo(controller, name, nullptr, nullptr, nullptr);
    name[sizeof name - 1] = '\0';
    planesHolderName = name[0] ? name : "another plug-in";
    SetStatusNote("No traffic: \"" + planesHolderName + "\" holds the aircraft");
    if (askedHolder) return;
    askedHolder = true;
    XPLMSendMessageToPlugin(controller, kReleasePlanesMessage, nullptr);
    LogForPilot("the multiplayer aircraft are held by \"" + planesHolderName +
                "\": asked it to give them up; no traffic is shown until it does");
}

}  // namespace

void AcquirePlanes() {
    wantPlanes = true;
    if (planesAcquired) return;
    if (XPLMAcquirePlanes(nullptr, SkorvalePlanesAvailable, nullptr)) {
        TakePlanes();
    } else if (tcpconnected) {
        AskHolder();
    }
}

void ReleasePlanes() {
    // Only the holder may clear the TCAS override, so it goes first.
    EndTcasOverride();
    wantPlanes = false;
    askedHolder = false;
    planesHolderName.clear();
    SetStatusNote("");
    // Only what is held is given back, with the pilot's own active count.
    if (!planesAcquired) return;
    if (pilotsActiveCount >= 0) XPLMSetActiveAircraftCount(pilotsActiveCount);
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

bool IsReleasePlanesMessage(int message) { return message == kReleasePlanesMessage; }
