// Flight loops: registration, scheduling on the simulated clock, and the XPLMProcessing functions.
#include <algorithm>
#include <cmath>

#include "HostState.h"
#include "XPLMProcessing.h"

namespace simhost {

namespace {

// A deadline counts as passed when the clock is within this of it: frame times are sums of float
// intervals and would otherwise slip a whole frame on rounding alone.
constexpr double kTimeSlack = 1e-6;

void Schedule(HostState &s, FlightLoopInfo &info, float interval) {
    if (!std::isfinite(interval) || interval == 0) {
        info.scheduled = false;
        return;
    }
    info.scheduled = true;
    if (interval > 0) {
        info.frameBased = false;
        info.nextDeadline = s.now + interval;
    } else {
        info.frameBased = true;
        info.nextFrame = s.frameCount + std::max(1L, std::lround(-interval));
    }
}

bool Due(const HostState &s, const FlightLoopInfo &info) {
    if (!info.scheduled) return false;
    return info.frameBased ? s.frameCount >= info.nextFrame : s.now + kTimeSlack >= info.nextDeadline;
}

}  // namespace

void RunFlightLoops(HostState &s, bool afterFlightModel) {
    s.flightLoops.erase(
        std::remove_if(s.flightLoops.begin(), s.flightLoops.end(), [](const FlightLoopEntry &e) { return e.removed; }),
        s.flightLoops.end());
    // Indices, not iterators: a callback may register more loops (which wait for a later frame anyway).
    const size_t count = s.flightLoops.size();
    for (size_t i = 0; i < count; ++i) {
        if (s.flightLoops[i].removed || s.flightLoops[i].info.afterFlightModel != afterFlightModel ||
            !Due(s, s.flightLoops[i].info))
            continue;
        // A disabled plug-in's loop stays due and runs in the first frame after it is enabled again.
        const int owner = s.flightLoops[i].owner;
        if (!Active(s, owner)) continue;
        const FlightLoopInfo info = s.flightLoops[i].info;
        const float sinceLastCall = static_cast<float>(s.now - s.flightLoops[i].lastCallTime);
        PluginScope scope(s, owner);
        float next = info.callback(sinceLastCall, static_cast<float>(s.lastFrameDuration),
                                   static_cast<int>(s.frameCount), info.refcon);
        FlightLoopEntry &entry = s.flightLoops[i];
        if (entry.removed) continue;  // it unregistered itself
        entry.lastCallTime = s.now;
        Schedule(s, entry.info, next);
    }
}

}  // namespace simhost

extern "C" {

void XPLMRegisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, float inInterval, void *inRefcon) {
    if (!inFlightLoop) return;
    simhost::HostState &s = simhost::State();
    simhost::FlightLoopEntry entry;
    entry.owner = s.currentPlugin;
    entry.info.callback = inFlightLoop;
    entry.info.refcon = inRefcon;
    entry.lastCallTime = s.now;
    simhost::Schedule(s, entry.info, inInterval);
    s.flightLoops.push_back(entry);
}

int XPLMGetCycleNumber(void) { return static_cast<int>(simhost::State().frameCount); }

XPLMFlightLoopID XPLMCreateFlightLoop(XPLMCreateFlightLoop_t *inParams) {
    // X-Plane reads only the fields the caller's structSize covers; a smaller one is an older SDK's.
    if (!inParams || !inParams->callbackFunc || inParams->structSize < static_cast<int>(sizeof(XPLMCreateFlightLoop_t)))
        return nullptr;
    simhost::HostState &s = simhost::State();
    simhost::FlightLoopEntry entry;
    entry.owner = s.currentPlugin;
    entry.id = s.NewHandle();
    entry.info.callback = inParams->callbackFunc;
    entry.info.refcon = inParams->refcon;
    entry.info.afterFlightModel = inParams->phase == xplm_FlightLoop_Phase_AfterFlightModel;
    entry.lastCallTime = s.now;
    s.flightLoops.push_back(entry);
    return entry.id;
}

void XPLMDestroyFlightLoop(XPLMFlightLoopID inFlightLoopID) {
    for (simhost::FlightLoopEntry &e : simhost::State().flightLoops) {
        if (!e.removed && e.id != nullptr && e.id == inFlightLoopID) e.removed = true;
    }
}

void XPLMScheduleFlightLoop(XPLMFlightLoopID inFlightLoopID, float inInterval, int inRelativeToNow) {
    simhost::HostState &s = simhost::State();
    for (simhost::FlightLoopEntry &e : s.flightLoops) {
        if (e.removed || e.id == nullptr || e.id != inFlightLoopID) continue;
        simhost::Schedule(s, e.info, inInterval);
        // Relative to the last call: the deadline counts from then rather than from now.
        if (!inRelativeToNow && inInterval > 0) e.info.nextDeadline = e.lastCallTime + inInterval;
    }
}

void XPLMUnregisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, void *inRefcon) {
    for (simhost::FlightLoopEntry &e : simhost::State().flightLoops) {
        if (!e.removed && e.id == nullptr && e.info.callback == inFlightLoop && e.info.refcon == inRefcon) {
            e.removed = true;
            return;
        }
    }
}

}  // extern "C"
