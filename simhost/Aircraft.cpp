// The user's aircraft: placing it, its scripted motion, and the plane-path override that stops it.
#include <cmath>

#include "Geo.h"
#include "HostState.h"

namespace simhost {

namespace {

constexpr double kDegToRad = M_PI / 180.0;
const char *const kOverride = "sim/operation/override/override_planepath";
const char *const kPsi = "sim/flightmodel/position/psi";

double NormaliseHeading(double degrees) {
    double h = std::fmod(degrees, 360.0);
    return h < 0 ? h + 360.0 : h;
}

void SetLocal(HostState &s, double x, double y, double z) {
    s.dataRefs[s.localIndex[0][0]].values[0] = x;
    s.dataRefs[s.localIndex[0][1]].values[0] = y;
    s.dataRefs[s.localIndex[0][2]].values[0] = z;
    SyncWorldFromLocal(s, 0);
}

double Local(const HostState &s, int axis) { return s.dataRefs[s.localIndex[0][axis]].values[0]; }
double World(const HostState &s, int axis) { return s.dataRefs[s.worldIndex[0][axis]].values[0]; }

// Turns towards the next way-point and reports whether the step reaches it.
bool SteerForWaypoint(HostState &s, double step, double &dx, double &dz) {
    const Waypoint &next = s.motion.route.front();
    double tx, ty, tz;
    WorldToLocalAbout(s.latRef, s.lonRef, next.latitude, next.longitude, next.elevationM, tx, ty, tz);
    double ex = tx - Local(s, 0), ez = tz - Local(s, 2);
    double distance = std::hypot(ex, ez);
    if (distance > 1e-9) Value(s, kPsi) = static_cast<float>(NormaliseHeading(std::atan2(ex, -ez) / kDegToRad));
    if (distance <= step) {
        dx = ex;
        dz = ez;
        return true;
    }
    dx = ex / distance * step;
    dz = ez / distance * step;
    return false;
}

}  // namespace

void MoveUserAircraft(HostState &s) {
    if (Value(s, kOverride, 0) == 1) return;  // a plug-in flies the aircraft now
    double dt = s.lastFrameDuration;
    double step = s.motion.groundSpeed * dt;
    double dx = 0, dz = 0, dy = s.motion.verticalSpeed * dt;
    if (!s.motion.route.empty() && step > 0) {
        if (SteerForWaypoint(s, step, dx, dz)) {
            const Waypoint reached = s.motion.route.front();
            s.motion.route.erase(s.motion.route.begin());
            if (s.motion.route.empty()) {
                // The end of the route: hold there, at the point's elevation.
                s.motion.groundSpeed = 0;
                s.motion.verticalSpeed = 0;
                double x, y, z;
                WorldToLocalAbout(s.latRef, s.lonRef, reached.latitude, reached.longitude, reached.elevationM, x, y, z);
                SetLocal(s, x, y, z);
                return;
            }
        }
    } else if (step != 0) {
        double heading = Value(s, kPsi) * kDegToRad;
        dx = std::sin(heading) * step;
        dz = -std::cos(heading) * step;
    }
    if (dx == 0 && dy == 0 && dz == 0) return;
    SetLocal(s, Local(s, 0) + dx, Local(s, 1) + dy, Local(s, 2) + dz);
}

void Host::PlaceAircraft(double latitude, double longitude, double elevationM, double headingDeg) {
    HostState &s = *state_;
    s.latRef = TileCentre(latitude);
    s.lonRef = TileCentre(longitude);
    Value(s, "sim/flightmodel/position/lat_ref") = static_cast<float>(s.latRef);
    Value(s, "sim/flightmodel/position/lon_ref") = static_cast<float>(s.lonRef);
    MoveAircraftTo(latitude, longitude, elevationM);
    SetHeading(headingDeg);
    // Traffic positions are relative to the origin too: keep their world positions in step.
    for (int n = 1; n <= 19; ++n) SyncWorldFromLocal(s, n);
}

void Host::MoveAircraftTo(double latitude, double longitude, double elevationM) {
    HostState &s = *state_;
    double x, y, z;
    WorldToLocalAbout(s.latRef, s.lonRef, latitude, longitude, elevationM, x, y, z);
    SetLocal(s, x, y, z);
}

void Host::SetHeading(double headingDeg) { Value(*state_, kPsi) = static_cast<float>(NormaliseHeading(headingDeg)); }

void Host::SetGroundSpeed(double metresPerSecond) { state_->motion.groundSpeed = metresPerSecond; }
void Host::SetVerticalSpeed(double metresPerSecond) { state_->motion.verticalSpeed = metresPerSecond; }

void Host::StopAircraft() { state_->motion = AircraftMotion{}; }

void Host::FlyRoute(const std::vector<Waypoint> &route) { state_->motion.route = route; }

double Host::Latitude() const { return World(*state_, 0); }
double Host::Longitude() const { return World(*state_, 1); }
double Host::ElevationM() const { return World(*state_, 2); }
double Host::Heading() const { return Value(*state_, kPsi); }
double Host::GroundSpeed() const { return state_->motion.groundSpeed; }
double Host::VerticalSpeed() const { return state_->motion.verticalSpeed; }
bool Host::PlanePathOverridden() const { return Value(*state_, kOverride, 0) == 1; }

}  // namespace simhost
