// The local frame's tangent-frame maps and the few great-circle formulas the aircraft's motion needs.
#include "Geo.h"

#include <algorithm>
#include <cmath>

namespace simhost {

namespace {

constexpr double kDegToRad = M_PI / 180.0;

struct Vec {
    double x, y, z;
};

Vec EarthCentred(double latitude, double longitude, double radius) {
    double lat = latitude * kDegToRad, lon = longitude * kDegToRad;
    return {radius * std::cos(lat) * std::cos(lon), radius * std::cos(lat) * std::sin(lon), radius * std::sin(lat)};
}

// East, north and up unit vectors of the tangent frame at the origin.
struct Basis {
    Vec east, north, up;
};

Basis TangentBasis(double latRef, double lonRef) {
    double lat = latRef * kDegToRad, lon = lonRef * kDegToRad;
    double sLat = std::sin(lat), cLat = std::cos(lat), sLon = std::sin(lon), cLon = std::cos(lon);
    return {{-sLon, cLon, 0}, {-sLat * cLon, -sLat * sLon, cLat}, {cLat * cLon, cLat * sLon, sLat}};
}

double Dot(const Vec &a, const Vec &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

}  // namespace

void WorldToLocalAbout(double latRef, double lonRef, double latitude, double longitude, double altitude, double &x,
                       double &y, double &z) {
    Vec p = EarthCentred(latitude, longitude, kEarthRadius + altitude);
    Vec o = EarthCentred(latRef, lonRef, kEarthRadius);
    Vec d{p.x - o.x, p.y - o.y, p.z - o.z};
    Basis b = TangentBasis(latRef, lonRef);
    x = Dot(d, b.east);
    y = Dot(d, b.up);
    z = -Dot(d, b.north);
}

void LocalToWorldAbout(double latRef, double lonRef, double x, double y, double z, double &latitude, double &longitude,
                       double &altitude) {
    Vec o = EarthCentred(latRef, lonRef, kEarthRadius);
    Basis b = TangentBasis(latRef, lonRef);
    Vec p{o.x + x * b.east.x + y * b.up.x - z * b.north.x, o.y + x * b.east.y + y * b.up.y - z * b.north.y,
          o.z + x * b.east.z + y * b.up.z - z * b.north.z};
    double horizontal = std::hypot(p.x, p.y);
    latitude = std::atan2(p.z, horizontal) / kDegToRad;
    longitude = std::atan2(p.y, p.x) / kDegToRad;
    altitude = std::hypot(horizontal, p.z) - kEarthRadius;
}

double TileCentre(double degrees) { return std::floor(degrees) + 0.5; }

double LongitudeDelta(double a, double b) {
    double d = std::fmod(b - a + 180.0, 360.0);
    if (d < 0) d += 360.0;
    return d - 180.0;
}

double GreatCircleDistance(double lat1, double lon1, double lat2, double lon2) {
    double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad;
    double dp = p2 - p1, dl = LongitudeDelta(lon1, lon2) * kDegToRad;
    double h = std::sin(dp / 2) * std::sin(dp / 2) + std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
    return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

double InitialBearing(double lat1, double lon1, double lat2, double lon2) {
    double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad, dl = LongitudeDelta(lon1, lon2) * kDegToRad;
    double bearing = std::atan2(std::sin(dl) * std::cos(p2),
                                std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl));
    return bearing / kDegToRad;
}

void Destination(double lat, double lon, double bearingDeg, double metres, double &outLat, double &outLon) {
    double p1 = lat * kDegToRad, theta = bearingDeg * kDegToRad, delta = metres / kEarthRadius;
    double p2 = std::asin(std::sin(p1) * std::cos(delta) + std::cos(p1) * std::sin(delta) * std::cos(theta));
    double l2 =
        std::atan2(std::sin(theta) * std::sin(delta) * std::cos(p1), std::cos(delta) - std::sin(p1) * std::sin(p2));
    outLat = p2 / kDegToRad;
    outLon = lon + LongitudeDelta(0, l2 / kDegToRad);
    outLon = LongitudeDelta(0, outLon);
}

}  // namespace simhost
