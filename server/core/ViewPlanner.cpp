// Nearest-first slot planning with hysteresis, and distances on the WGS 84 ellipsoid.
#include "server/core/ViewPlanner.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace server {

std::vector<std::size_t> ChooseVisible(const std::vector<ViewCandidate> &candidates, std::size_t capacity) {
    std::vector<std::size_t> order(candidates.size());
    std::iota(order.begin(), order.end(), 0);
    if (candidates.size() > capacity) {
        auto effective = [&](const ViewCandidate &c) { return c.holder ? c.distance * 0.8 - 200.0 : c.distance; };
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const ViewCandidate &ca = candidates[a];
            const ViewCandidate &cb = candidates[b];
            if (ca.forced != cb.forced) return ca.forced;
            double da = effective(ca), db = effective(cb);
            if (da != db) return da < db;
            return ca.order < cb.order;
        });
        order.resize(capacity);
    }
    return order;
}

EarthPoint ToEarthPoint(double latitude, double longitude, double elevation) {
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kSemiMajor = 6378137.0;
    constexpr double kFlattening = 1.0 / 298.257223563;
    constexpr double kEccentricity2 = kFlattening * (2.0 - kFlattening);
    double lat = latitude * kPi / 180.0, lon = longitude * kPi / 180.0;
    double sinLat = std::sin(lat), cosLat = std::cos(lat);
    double primeVertical = kSemiMajor / std::sqrt(1.0 - kEccentricity2 * sinLat * sinLat);
    EarthPoint p;
    p.x = (primeVertical + elevation) * cosLat * std::cos(lon);
    p.y = (primeVertical + elevation) * cosLat * std::sin(lon);
    p.z = (primeVertical * (1.0 - kEccentricity2) + elevation) * sinLat;
    return p;
}

double Distance(const EarthPoint &a, const EarthPoint &b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

}  // namespace server
