// Multiplayer planes and utilities: the XPLMPlanes and XPLMUtilities functions.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "HostState.h"
#include "XPLMPlanes.h"
#include "XPLMPlugin.h"
#include "XPLMUtilities.h"

namespace {

// Copies with a terminator inside `size` bytes, as X-Plane fills its fixed buffers.
void CopyOut(char *out, size_t size, const std::string &text) {
    if (!out || size == 0) return;
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// X-Plane has 20 aircraft: index 0 the user's, 1..19 the multiplayer ones.
bool ValidIndex(int index) { return index >= 0 && index < 20; }

// The multiplayer aircraft belong to one plug-in at a time; the calls that change them need that access.
bool HasAccess(const simhost::HostState &s) { return s.planesHolder == s.currentPlugin; }

void Refuse(simhost::HostState &s, const std::string &call, const char *why) {
    ++s.planes.refusedCount;
    // Bounded: a plug-in that keeps trying every frame must not grow the host without end.
    if (s.planes.refused.size() < simhost::kRefusedCallsKept) s.planes.refused.push_back({s.now, call + ": " + why});
}

void Grant(simhost::HostState &s, int owner) {
    if (s.planesHolder != owner) s.planes.heldSince = s.now;
    s.planesHolder = owner;
    s.planes.acquired = owner != simhost::HostState::kOtherPlugin;
    s.planes.holder = s.planes.acquired ? simhost::PlanesHolder::PlugIn : simhost::PlanesHolder::OtherPlugIn;
}

// The plug-in id the stand-in plug-in sends its messages as, and the stand-in holder's id and name.
constexpr XPLMPluginID kStandInPluginId = 99;
const char kStandInName[] = "Stand-in Traffic";
const char kStandInSignature[] = "org.skorvale.standin-traffic";

}  // namespace

namespace simhost {

void ReleasePlanesOf(HostState &s, int owner) {
    if (s.planesHolder != owner) return;
    EndTcasOverride(s);
    s.planesHolder = HostState::kNobody;
    s.planes.acquired = false;
    s.planes.holder = PlanesHolder::Nobody;
    s.planes.heldSince = s.now;
    // X-Plane's AI takes the aircraft back, as many as the pilot's setting allows.
    s.planes.aiDisabled.clear();
    s.planes.activeCount = s.planes.aiCount + 1;
    // Those refused earlier hear that the aircraft are free; each must still acquire them itself.
    std::vector<PlanesWaiter> waiters;
    waiters.swap(s.planesWaiters);
    for (const PlanesWaiter &w : waiters) {
        if (w.owner == owner || !Active(s, w.owner)) continue;
        PluginScope scope(s, w.owner);
        w.callback(w.refcon);
    }
}

void ExpirePlanesHold(HostState &s) {
    // A hold without an end (the stand-in holder's) lasts until the holder lets go.
    if (s.planesHolder != HostState::kOtherPlugin || s.planes.heldByOtherUntil <= 0 ||
        s.now + 1e-9 < s.planes.heldByOtherUntil)
        return;
    s.planes.heldByOtherUntil = 0;
    ReleasePlanesOf(s, HostState::kOtherPlugin);
}

void SendDueReleaseRequest(HostState &s) {
    if (s.releaseRequestAt <= 0 || s.now + 1e-9 < s.releaseRequestAt) return;
    s.releaseRequestAt = 0;
    s.planes.releaseRequests.push_back(s.now);
    auto it = s.messageReceivers.find(s.planesHolder);
    if (it == s.messageReceivers.end() || !Active(s, it->first)) return;
    PluginScope scope(s, it->first);
    it->second(kStandInPluginId, XPLM_MSG_RELEASE_PLANES, nullptr);
}

void LetGoIfHonoured(HostState &s) {
    if (!s.otherLetsGo) return;
    s.otherLetsGo = false;
    s.planes.heldByOtherUntil = 0;
    ReleasePlanesOf(s, HostState::kOtherPlugin);
}

void EndFrameLoads(HostState &s) {
    s.planes.mostModelLoadsInFrame = std::max(s.planes.mostModelLoadsInFrame, s.frameModelLoads);
    s.planes.longestFrame = std::max(s.planes.longestFrame, 1.0 / s.frameRate + s.frameLoadSeconds);
    s.loadSeconds += s.frameLoadSeconds;
    s.frameModelLoads = 0;
    s.frameLoadSeconds = 0;
}

std::string SystemPathOf(const HostState &s) {
    std::string path = s.systemPath;
    if (path.empty()) {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) path = cwd;
    }
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

std::string SeparatorOf(const HostState &s) { return s.features.count("XPLM_USE_NATIVE_PATHS") ? "/" : s.separator; }

std::string InPluginPathStyle(const HostState &s, std::string path) {
    const std::string separator = SeparatorOf(s);
    if (separator == "/") return path;
    std::string out;
    for (char c : path) {
        if (c == '/') {
            out += separator;
        } else {
            out += c;
        }
    }
    return out;
}

// Kept in memory for tests, and written to Log.txt in the simulator's folder as X-Plane writes its own.
void WriteLog(HostState &s, const std::string &line) {
    s.debugLog.push_back(line);
    std::string path = SystemPathOf(s) + "Log.txt";
    if (FILE *log = std::fopen(path.c_str(), s.logFileStarted ? "ab" : "wb")) {
        std::fputs(line.c_str(), log);
        std::fclose(log);
    }
    s.logFileStarted = true;
}

void Host::SetAIAircraftCount(int count) {
    HostState &s = *state_;
    s.planes.aiCount = std::clamp(count, 0, 19);
    if (s.planesHolder == HostState::kNobody) {
        s.planes.activeCount = s.planes.aiCount + 1;
    } else {
        s.planes.activeCount = std::min(s.planes.activeCount, s.planes.aiCount + 1);
    }
}

void Host::RequestPlanesReleaseAt(double seconds) { state_->releaseRequestAt = seconds > 0 ? seconds : 0; }

void Host::SetMessageReceiver(void (*receive)(XPLMPluginID, int, void *)) {
    if (receive) {
        state_->messageReceivers[0] = receive;
    } else {
        state_->messageReceivers.erase(0);
    }
}

void Host::SetModelLoadMs(double milliseconds) {
    state_->modelLoadSeconds = milliseconds > 0 && milliseconds < 60000 ? milliseconds / 1000.0 : 0;
}

void Host::SetOtherHolder(OtherHolder how) {
    HostState &s = *state_;
    s.otherHolderSet = true;
    s.otherHolder = how;
    Grant(s, HostState::kOtherPlugin);
}

void Host::SetSystemPath(const std::string &path) { state_->systemPath = path; }
std::string Host::SystemPath() const { return SystemPathOf(*state_); }

void Host::HoldPlanesUntil(double seconds) {
    HostState &s = *state_;
    if (!(seconds > s.now)) return;
    s.planes.heldByOtherUntil = seconds;
    Grant(s, HostState::kOtherPlugin);
}

}  // namespace simhost

extern "C" {

void XPLMSetActiveAircraftCount(int inCount) {
    simhost::HostState &s = simhost::State();
    if (!HasAccess(s)) return Refuse(s, "XPLMSetActiveAircraftCount(" + std::to_string(inCount) + ")", "no access");
    // "Only the total number of planes available": the pilot's AI count and the user's own.
    s.planes.activeCount = std::clamp(inCount, 0, s.planes.aiCount + 1);
}

void XPLMCountAircraft(int *outTotalAircraft, int *outActiveAircraft, XPLMPluginID *outController) {
    simhost::HostState &s = simhost::State();
    if (outTotalAircraft) *outTotalAircraft = s.planes.aiCount + 1;
    if (outActiveAircraft) *outActiveAircraft = s.planes.activeCount;
    // XPLM_NO_PLUGIN_ID while nobody holds them; the other plug-in is the stand-in.
    if (outController) {
        *outController = s.planesHolder == simhost::HostState::kNobody        ? -1
                         : s.planesHolder == simhost::HostState::kOtherPlugin ? kStandInPluginId
                                                                              : s.planesHolder;
    }
}

void XPLMGetPluginInfo(XPLMPluginID inPlugin, char *outName, char *outFilePath, char *outSignature,
                       char *outDescription) {
    // Only the stand-in is described; any other id gets empty texts.
    bool standIn = inPlugin == kStandInPluginId;
    CopyOut(outName, 256, standIn ? kStandInName : "");
    CopyOut(outFilePath, 256, "");
    CopyOut(outSignature, 256, standIn ? kStandInSignature : "");
    CopyOut(outDescription, 256, standIn ? "Holds the multiplayer aircraft, as a traffic plug-in does" : "");
}

void XPLMSendMessageToPlugin(XPLMPluginID inPlugin, int inMessage, void *inParam) {
    simhost::HostState &s = simhost::State();
    if (inPlugin == kStandInPluginId) {
        if (inMessage != XPLM_MSG_RELEASE_PLANES) return;
        s.planes.holderAsked.push_back(s.now);
        if (s.otherHolderSet && s.otherHolder == simhost::OtherHolder::Honours &&
            s.planesHolder == simhost::HostState::kOtherPlugin)
            s.otherLetsGo = true;
        return;
    }
    auto it = s.messageReceivers.find(inPlugin);
    if (it == s.messageReceivers.end() || !simhost::Active(s, it->first)) return;
    const XPLMPluginID from = s.currentPlugin;
    simhost::PluginScope scope(s, it->first);
    it->second(from, inMessage, inParam);
}

int XPLMAcquirePlanes(char ** /*inAircraft*/, XPLMPlanesAvailable_f inCallback, void *inRefcon) {
    simhost::HostState &s = simhost::State();
    if (s.planesHolder == simhost::HostState::kNobody || HasAccess(s)) {
        Grant(s, s.currentPlugin);
        return 1;
    }
    if (inCallback) s.planesWaiters.push_back({s.currentPlugin, inCallback, inRefcon});
    return 0;
}

void XPLMReleasePlanes(void) {
    simhost::HostState &s = simhost::State();
    // X-Plane ignores a release by a plug-in that holds nothing; the host records it, as such a call
    // would give away another plug-in's aircraft if the simulator were less careful.
    if (!HasAccess(s)) return Refuse(s, "XPLMReleasePlanes", "not held");
    simhost::ReleasePlanesOf(s, s.currentPlugin);
}

void XPLMDisableAIForPlane(int inPlaneIndex) {
    simhost::HostState &s = simhost::State();
    if (!HasAccess(s)) return Refuse(s, "XPLMDisableAIForPlane(" + std::to_string(inPlaneIndex) + ")", "no access");
    // Every index the plug-in names is recorded, also those beyond the highest multiplayer aircraft:
    // X-Plane accepts them, and tests check exactly which indices a plug-in asked for.
    if (inPlaneIndex > 0) s.planes.aiDisabled.insert(inPlaneIndex);
}

void XPLMSetAircraftModel(int inIndex, const char *inAircraftPath) {
    simhost::HostState &s = simhost::State();
    const std::string call = "XPLMSetAircraftModel(" + std::to_string(inIndex) + ")";
    if (inIndex == 0) return Refuse(s, call, "index 0 is the user's aircraft");
    if (!HasAccess(s)) return Refuse(s, call, "no access");
    if (!ValidIndex(inIndex) || !inAircraftPath) return;
    // X-Plane wants full paths: a relative one resolves against whatever the working directory is.
    if (inAircraftPath[0] != '/')
        return Refuse(s, call, ("relative path \"" + std::string(inAircraftPath) + "\"").c_str());
    s.planes.models[static_cast<size_t>(inIndex)] = inAircraftPath;
    ++s.planes.modelLoads;
    // The load blocks the simulator: its frame lasts that much longer.
    ++s.frameModelLoads;
    s.frameLoadSeconds += s.modelLoadSeconds;
}

void XPLMGetNthAircraftModel(int inIndex, char *outFileName, char *outPath) {
    simhost::HostState &s = simhost::State();
    if (!ValidIndex(inIndex)) return;
    std::string path, file;
    if (inIndex == 0) {
        // A full path, as X-Plane gives it.
        path = s.userModelPath.empty() || s.userModelPath[0] == '/' ? s.userModelPath
                                                                    : simhost::SystemPathOf(s) + s.userModelPath;
        file = s.userModelFile;
    } else {
        path = s.planes.models[static_cast<size_t>(inIndex)];
        size_t slash = path.find_last_of("/:\\");
        file = slash == std::string::npos ? path : path.substr(slash + 1);
    }
    CopyOut(outFileName, 256, file);
    CopyOut(outPath, 512, inIndex == 0 ? simhost::InPluginPathStyle(s, path) : path);
}

void XPLMGetSystemPath(char *outSystemPath) {
    const simhost::HostState &s = simhost::State();
    CopyOut(outSystemPath, 512, simhost::InPluginPathStyle(s, simhost::SystemPathOf(s)));
}

const char *XPLMGetDirectorySeparator(void) {
    simhost::HostState &s = simhost::State();
    return s.features.count("XPLM_USE_NATIVE_PATHS") ? "/" : s.separator.c_str();
}

void XPLMEnableFeature(const char *inFeature, int inEnable) {
    if (!inFeature) return;
    if (inEnable) {
        simhost::State().features.insert(inFeature);
    } else {
        simhost::State().features.erase(inFeature);
    }
}

void XPLMDebugString(const char *inString) {
    if (inString) simhost::WriteLog(simhost::State(), inString);
}

}  // extern "C"
