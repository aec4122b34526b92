// Terrain: XPLMCreateProbe, XPLMProbeTerrainXYZ and XPLMDestroyProbe over flat ground or hills.
#include <algorithm>
#include <cmath>

#include "Geo.h"
#include "HostState.h"
#include "XPLMScenery.h"

namespace simhost {

namespace {

// X-Plane has scenery loaded only around the aircraft; farther from the local origin a probe misses.
constexpr double kLoadedRadius = 200000.0;

double Elevation(Terrain terrain, double latitude, double longitude) {
    if (terrain == Terrain::Flat) return 0;
    // Rolling hills: two crossing swells and a shorter ripple, 20 to 140 m above the sphere, slopes of
    // a few degrees: enough that an aircraft put at a peer's elevation would float or sink.
    constexpr double kPi = 3.14159265358979323846;
    const double north = latitude * kPi / 180.0 * kEarthRadius;
    const double east = longitude * kPi / 180.0 * kEarthRadius * std::cos(latitude * kPi / 180.0);
    return 80.0 + 40.0 * std::sin(2 * kPi * north / 2500.0) * std::cos(2 * kPi * east / 3100.0) +
           15.0 * std::sin(2 * kPi * (north + east) / 900.0);
}

// The local Y of the ground at local (x, z): the world elevation there is the terrain's. The vertical
// and the local Y axis part a little away from the origin, so a few steps settle it.
double GroundY(const HostState &s, double x, double z) {
    double y = 0;
    for (int i = 0; i < 4; ++i) {
        double lat, lon, alt;
        LocalToWorldAbout(s.latRef, s.lonRef, x, y, z, lat, lon, alt);
        y += Elevation(s.terrain, lat, lon) - alt;
    }
    return y;
}

}  // namespace

void EndFrameProbes(HostState &s) {
    s.mostProbesInFrame = std::max(s.mostProbesInFrame, s.frameProbeCalls);
    s.frameProbeCalls = 0;
}

void Host::SetTerrain(Terrain terrain) { state_->terrain = terrain; }
Terrain Host::GetTerrain() const { return state_->terrain; }
double Host::TerrainElevation(double latitude, double longitude) const {
    return Elevation(state_->terrain, latitude, longitude);
}
long Host::ProbeCalls() const { return state_->probeCalls; }
long Host::MostProbesInFrame() const { return std::max(state_->mostProbesInFrame, state_->frameProbeCalls); }

}  // namespace simhost

extern "C" {

XPLMProbeRef XPLMCreateProbe(XPLMProbeType inProbeType) {
    simhost::HostState &s = simhost::State();
    if (inProbeType != xplm_ProbeY) return nullptr;
    XPLMProbeRef probe = s.NewHandle();
    s.probes.insert(probe);
    return probe;
}

void XPLMDestroyProbe(XPLMProbeRef inProbe) { simhost::State().probes.erase(inProbe); }

// The ground straight below (or above) the point: its local position and normal.
XPLMProbeResult XPLMProbeTerrainXYZ(XPLMProbeRef inProbe, float inX, float inY, float inZ, XPLMProbeInfo_t *outInfo) {
    simhost::HostState &s = simhost::State();
    ++s.probeCalls;
    ++s.frameProbeCalls;
    if (!outInfo || outInfo->structSize != static_cast<int>(sizeof(XPLMProbeInfo_t)) || !s.probes.count(inProbe) ||
        !std::isfinite(inX) || !std::isfinite(inY) || !std::isfinite(inZ))
        return xplm_ProbeError;
    if (std::hypot(static_cast<double>(inX), static_cast<double>(inZ)) > simhost::kLoadedRadius)
        return xplm_ProbeMissed;
    // X-Plane's Y probe looks straight down the local Y axis through the point.
    const double y = simhost::GroundY(s, inX, inZ);
    const double dEast = simhost::GroundY(s, inX + 1.0, inZ) - y;   // along the ground a metre east
    const double dSouth = simhost::GroundY(s, inX, inZ + 1.0) - y;  // and a metre south
    // (0, dSouth, 1) x (1, dEast, 0) points up.
    const double nx = -dEast, ny = 1.0, nz = -dSouth;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    outInfo->locationX = inX;
    outInfo->locationY = static_cast<float>(y);
    outInfo->locationZ = inZ;
    outInfo->normalX = static_cast<float>(nx / length);
    outInfo->normalY = static_cast<float>(ny / length);
    outInfo->normalZ = static_cast<float>(nz / length);
    outInfo->velocityX = outInfo->velocityY = outInfo->velocityZ = 0;
    outInfo->is_wet = 0;
    return xplm_ProbeHitTerrain;
}

}  // extern "C"
