// The local frame: a tangent frame on the curved earth about the local origin, with exact forward and inverse maps.
#pragma once

namespace simhost {

// The sphere of the frame, in metres.
constexpr double kEarthRadius = 6371000.0;

// +X east, +Y up, +Z south, in the tangent frame at (latRef, lonRef) at sea level, as X-Plane's
// OpenGL frame is. Points go through earth-centred coordinates, so the two maps invert each other
// exactly, Y drops with distance as the earth curves away, and longitudes wrap at the 180th meridian.
void WorldToLocalAbout(double latRef, double lonRef, double latitude, double longitude, double altitude, double &x,
                       double &y, double &z);
void LocalToWorldAbout(double latRef, double lonRef, double x, double y, double z, double &latitude, double &longitude,
                       double &altitude);

// The centre of the 1 x 1 degree tile holding the point: where X-Plane puts the local origin when it
// loads scenery around the aircraft.
double TileCentre(double degrees);

// Longitude difference b - a folded into [-180, 180).
double LongitudeDelta(double a, double b);

// On the sphere: the great-circle distance in metres, the initial bearing in degrees (0 north, 90
// east), and the point reached from (lat, lon) by going `metres` along `bearing`.
double GreatCircleDistance(double lat1, double lon1, double lat2, double lon2);
double InitialBearing(double lat1, double lon1, double lat2, double lon2);
void Destination(double lat, double lon, double bearingDeg, double metres, double &outLat, double &outLon);

}  // namespace simhost
