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

void RunFlightLoops(HostState &s) {
    s.flightLoops.erase(
        std::remove_if(s.flightLoops.begin(), s.flightLoops.end(), [](const FlightLoopEntry &e) { return e.removed; }),
        s.flightLoops.end());
    // Indices, not iterators: a callback may register more loops (which wait for a later frame anyway).
    const size_t count = s.flightLoops.size();
    for (size_t i = 0; i < count; ++i) {
        if (s.flightLoops[i].removed || !Due(s, s.flightLoops[i].info)) continue;
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

void XPLMUnregisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, void *inRefcon) {
    for (simhost::FlightLoopEntry &e : simhost::State().flightLoops) {
        if (!e.removed && e.info.callback == inFlightLoop && e.info.refcon == inRefcon) {
            e.removed = true;
            return;
        }
    }
}

}  // extern "C"
