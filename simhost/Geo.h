// The local frame: a tangent plane about the local origin, with exact forward and inverse maps.
#pragma once

namespace simhost {

// The sphere of the tangent plane, in metres.
constexpr double kEarthRadius = 6371000.0;

// +X east, +Y up (the altitude itself), +Z south; origin at (latRef, lonRef) at sea level. The
// plane keeps the altitude as it is (no drop-off with distance) so the two maps invert each other
// exactly, which X-Plane's own frame also does near its origin.
void WorldToLocalAbout(double latRef, double lonRef, double latitude, double longitude, double altitude, double &x,
                       double &y, double &z);
void LocalToWorldAbout(double latRef, double lonRef, double x, double y, double z, double &latitude, double &longitude,
                       double &altitude);

// The centre of the 1 x 1 degree tile holding the point: what X-Plane puts the local origin at.
double TileCentre(double degrees);

}  // namespace simhost
