// The local frame's tangent-plane maps.
#include "Geo.h"

#include <cmath>

namespace simhost {

namespace {
constexpr double kDegToRad = M_PI / 180.0;
}

void WorldToLocalAbout(double latRef, double lonRef, double latitude, double longitude, double altitude, double &x,
                       double &y, double &z) {
    x = kEarthRadius * std::cos(latRef * kDegToRad) * (longitude - lonRef) * kDegToRad;
    y = altitude;
    z = -kEarthRadius * (latitude - latRef) * kDegToRad;
}

void LocalToWorldAbout(double latRef, double lonRef, double x, double y, double z, double &latitude, double &longitude,
                       double &altitude) {
    latitude = latRef - z / kEarthRadius / kDegToRad;
    longitude = lonRef + x / (kEarthRadius * std::cos(latRef * kDegToRad)) / kDegToRad;
    altitude = y;
}

double TileCentre(double degrees) { return std::floor(degrees) + 0.5; }

}  // namespace simhost
