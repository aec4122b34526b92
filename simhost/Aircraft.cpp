// The user's aircraft: placing it, its scripted motion, and the plane-path override that stops it.
#include <algorithm>
#include <cmath>

#include "Geo.h"
#include "HostState.h"

namespace simhost {

namespace {

const char *const kOverride = "sim/operation/override/override_planepath";
const char *const kPsi = "sim/flightmodel/position/psi";
const char *const kTheta = "sim/flightmodel/position/theta";
const char *const kPhi = "sim/flightmodel/position/phi";
const char *const kQ = "sim/flightmodel/position/q";
const char *const kVelocity[3] = {"sim/flightmodel/position/local_vx", "sim/flightmodel/position/local_vy",
                                  "sim/flightmodel/position/local_vz"};
constexpr double kDegrees = 180.0 / M_PI;

double NormaliseHeading(double degrees) {
    double h = std::fmod(degrees, 360.0);
    return h < 0 ? h + 360.0 : h;
}

double World(const HostState &s, int axis) { return s.dataRefs[s.worldIndex[0][axis]].values[0]; }

void SetWorld(HostState &s, double latitude, double longitude, double elevation) {
    s.dataRefs[s.worldIndex[0][0]].values[0] = latitude;
    s.dataRefs[s.worldIndex[0][1]].values[0] = longitude;
    s.dataRefs[s.worldIndex[0][2]].values[0] = elevation;
    SyncLocalFromWorld(s, 0);
}

void SetOrigin(HostState &s, double latRef, double lonRef) {
    s.latRef = latRef;
    s.lonRef = lonRef;
    Value(s, "sim/flightmodel/position/lat_ref") = static_cast<float>(latRef);
    Value(s, "sim/flightmodel/position/lon_ref") = static_cast<float>(lonRef);
}

// X-Plane reloads scenery, and moves the origin of its local frame to the aircraft's tile, once the
// aircraft is about a degree from the origin. Everything keeps its place on the earth: every local
// position changes, and plug-ins that cached one must read it again.
void RecentreIfFar(HostState &s) {
    double lat = World(s, 0), lon = World(s, 1);
    if (std::fabs(lat - s.latRef) <= 1.0 && std::fabs(LongitudeDelta(s.lonRef, lon)) <= 1.0) return;
    SetOrigin(s, TileCentre(lat), TileCentre(lon));
    for (int n = 0; n <= 19; ++n) SyncLocalFromWorld(s, n);
}

// The flight model's state follows the motion it flies: the attitude quaternion from the three angles
// (X-Plane's convention: psi about the vertical, then theta, then phi), the velocity from the heading.
void WriteFlightModelState(HostState &s) {
    double psi = Value(s, kPsi) / kDegrees / 2, theta = Value(s, kTheta) / kDegrees / 2,
           phi = Value(s, kPhi) / kDegrees / 2;
    double q[4] = {std::cos(psi) * std::cos(theta) * std::cos(phi) + std::sin(psi) * std::sin(theta) * std::sin(phi),
                   std::cos(psi) * std::cos(theta) * std::sin(phi) - std::sin(psi) * std::sin(theta) * std::cos(phi),
                   std::cos(psi) * std::sin(theta) * std::cos(phi) + std::sin(psi) * std::cos(theta) * std::sin(phi),
                   -std::cos(psi) * std::sin(theta) * std::sin(phi) + std::sin(psi) * std::cos(theta) * std::cos(phi)};
    for (int i = 0; i < 4; ++i) Value(s, kQ, i) = static_cast<float>(q[i]);
    double heading = Value(s, kPsi) / kDegrees;
    Value(s, kVelocity[0]) = static_cast<float>(s.motion.groundSpeed * std::sin(heading));
    Value(s, kVelocity[1]) = static_cast<float>(s.motion.verticalSpeed);
    Value(s, kVelocity[2]) = static_cast<float>(-s.motion.groundSpeed * std::cos(heading));
}

// When a plug-in stops flying the aircraft, X-Plane's flight model goes on from its own state: the
// quaternion and the local velocities, whatever the plug-in last wrote to the angles. A plug-in that
// wrote only the angles gets the attitude and speed of before its override back.
void ResumeFromFlightModelState(HostState &s) {
    double q[4];
    for (int i = 0; i < 4; ++i) q[i] = Value(s, kQ, i);
    double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (!(norm > 1e-6) || !std::isfinite(norm)) return;
    for (double &v : q) v /= norm;
    double phi = std::atan2(2 * (q[0] * q[1] + q[2] * q[3]), 1 - 2 * (q[1] * q[1] + q[2] * q[2]));
    double theta = std::asin(std::clamp(2 * (q[0] * q[2] - q[3] * q[1]), -1.0, 1.0));
    double psi = std::atan2(2 * (q[0] * q[3] + q[1] * q[2]), 1 - 2 * (q[2] * q[2] + q[3] * q[3]));
    Value(s, kPhi) = static_cast<float>(phi * kDegrees);
    Value(s, kTheta) = static_cast<float>(theta * kDegrees);
    Value(s, kPsi) = static_cast<float>(NormaliseHeading(psi * kDegrees));
    double vx = Value(s, kVelocity[0]), vy = Value(s, kVelocity[1]), vz = Value(s, kVelocity[2]);
    s.motion = AircraftMotion{};
    // The host flies along its heading: the speed over the ground carries on that way.
    s.motion.groundSpeed = std::hypot(vx, vz);
    s.motion.verticalSpeed = vy;
}

// The scripted motion: along the route or the heading, at the ground and vertical speed.
void MoveAlongMotion(HostState &s) {
    double dt = s.lastFrameDuration;
    double step = s.motion.groundSpeed * dt;
    double climb = s.motion.verticalSpeed * dt;
    double lat = World(s, 0), lon = World(s, 1), elevation = World(s, 2) + climb;
    if (!s.motion.route.empty() && step > 0) {
        // Over the ground along great circles: the aircraft keeps its altitude above the curved earth.
        const Waypoint next = s.motion.route.front();
        double distance = GreatCircleDistance(lat, lon, next.latitude, next.longitude);
        if (distance > 1e-9)
            Value(s, kPsi) =
                static_cast<float>(NormaliseHeading(InitialBearing(lat, lon, next.latitude, next.longitude)));
        if (distance <= step) {
            s.motion.route.erase(s.motion.route.begin());
            lat = next.latitude;
            lon = next.longitude;
            if (s.motion.route.empty()) {
                // The end of the route: hold there, at the point's elevation.
                s.motion.groundSpeed = 0;
                s.motion.verticalSpeed = 0;
                elevation = next.elevationM;
            }
        } else {
            Destination(lat, lon, Value(s, kPsi), step, lat, lon);
        }
    } else if (step != 0) {
        Destination(lat, lon, Value(s, kPsi), step, lat, lon);
    } else if (climb == 0) {
        return;
    }
    SetWorld(s, lat, lon, elevation);
    RecentreIfFar(s);
}

}  // namespace

void MoveUserAircraft(HostState &s) {
    if (Value(s, kOverride, 0) == 1) {  // a plug-in flies the aircraft now
        s.wasOverridden = true;
        return;
    }
    if (s.wasOverridden) {
        s.wasOverridden = false;
        ResumeFromFlightModelState(s);
    }
    MoveAlongMotion(s);
    WriteFlightModelState(s);
}

void Host::PlaceAircraft(double latitude, double longitude, double elevationM, double headingDeg,
                         std::optional<Origin> origin) {
    HostState &s = *state_;
    if (origin) {
        SetOrigin(s, origin->latitude, origin->longitude);
    } else {
        SetOrigin(s, TileCentre(latitude), TileCentre(longitude));
    }
    MoveAircraftTo(latitude, longitude, elevationM);
    SetHeading(headingDeg);
    // Traffic positions are relative to the origin too: keep their world positions in step.
    for (int n = 1; n <= 19; ++n) SyncWorldFromLocal(s, n);
}

void Host::MoveAircraftTo(double latitude, double longitude, double elevationM) {
    SetWorld(*state_, latitude, LongitudeDelta(0, longitude), elevationM);
}

double Host::OriginLatitude() const { return state_->latRef; }
double Host::OriginLongitude() const { return state_->lonRef; }

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
