// Multiplayer planes and utilities: the XPLMPlanes and XPLMUtilities functions.
#include <algorithm>
#include <cstring>

#include "HostState.h"
#include "XPLMPlanes.h"
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

}  // namespace

extern "C" {

void XPLMSetActiveAircraftCount(int inCount) {
    inCount = std::clamp(inCount, 0, 20);
    simhost::State().planes.activeCount = inCount;
}

int XPLMAcquirePlanes(char ** /*inAircraft*/, XPLMPlanesAvailable_f /*inCallback*/, void * /*inRefcon*/) {
    // No other plug-in competes for the planes here, so the request is always granted at once.
    simhost::State().planes.acquired = true;
    return 1;
}

void XPLMReleasePlanes(void) { simhost::State().planes.acquired = false; }

void XPLMDisableAIForPlane(int inPlaneIndex) {
    // Every index the plug-in names is recorded, also those beyond the highest multiplayer aircraft:
    // X-Plane accepts them, and tests check exactly which indices a plug-in asked for.
    if (inPlaneIndex > 0) simhost::State().planes.aiDisabled.insert(inPlaneIndex);
}

void XPLMSetAircraftModel(int inIndex, const char *inAircraftPath) {
    if (!ValidIndex(inIndex) || !inAircraftPath) return;
    simhost::State().planes.models[static_cast<size_t>(inIndex)] = inAircraftPath;
}

void XPLMGetNthAircraftModel(int inIndex, char *outFileName, char *outPath) {
    simhost::HostState &s = simhost::State();
    if (!ValidIndex(inIndex)) return;
    std::string path, file;
    if (inIndex == 0) {
        path = s.userModelPath;
        file = s.userModelFile;
    } else {
        path = s.planes.models[static_cast<size_t>(inIndex)];
        size_t slash = path.find_last_of("/:\\");
        file = slash == std::string::npos ? path : path.substr(slash + 1);
    }
    CopyOut(outFileName, 256, file);
    CopyOut(outPath, 512, path);
}

const char *XPLMGetDirectorySeparator(void) { return simhost::State().separator.c_str(); }

void XPLMDebugString(const char *inString) {
    if (inString) simhost::State().debugLog.push_back(inString);
}

}  // extern "C"
