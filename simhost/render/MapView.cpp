// Chooses the map's range so every placed aircraft fits, and labels distances and times.
#include "simhost/render/MapView.h"

#include <algorithm>
#include <cmath>

namespace simhost {

namespace {

constexpr double kMinimumRange = 1000;
constexpr double kLargestNice = 1e15;  // beyond this the map is meaningless anyway; stop counting
constexpr double kMargin = 36;         // pixels between the outer ring and the nearer screen edge
// Round steps within each power of ten, close enough that the traffic fills most of the map.
constexpr double kSteps[] = {1.0, 1.5, 2.0, 3.0, 5.0, 7.5};

// Fixed-point text with `decimals` (0 or 1) digits after the point, without printf and its locale.
std::string Fixed(double value, int decimals) {
    if (!std::isfinite(value) || std::fabs(value) > 1e15) return "?";
    long long scaled = std::llround(value * (decimals ? 10 : 1));
    std::string sign = scaled < 0 ? "-" : "";
    scaled = scaled < 0 ? -scaled : scaled;
    if (decimals == 0) return sign + std::to_string(scaled);
    return sign + std::to_string(scaled / 10) + "." + std::to_string(scaled % 10);
}

}  // namespace

double NiceDistanceAtLeast(double metres) {
    if (!(metres > 1)) return 1;
    for (double power = 1; power <= kLargestNice; power *= 10)
        for (double step : kSteps)
            if (step * power >= metres) return step * power;
    return metres;
}

double NiceDistanceAtMost(double metres) {
    if (!(metres > 1)) return 1;
    double best = 1;
    for (double power = 1; power <= kLargestNice; power *= 10)
        for (double step : kSteps)
            if (step * power <= metres) best = step * power;
    return best;
}

MapView ChooseMapView(const Scene &scene) {
    MapView view;
    view.userX = std::isfinite(scene.userX) ? scene.userX : 0;
    view.userZ = std::isfinite(scene.userZ) ? scene.userZ : 0;
    double farthest = 0;
    for (const TrafficMark &mark : scene.traffic) {
        double d = std::hypot(mark.x - view.userX, mark.z - view.userZ);
        if (std::isfinite(d)) farthest = std::max(farthest, d);
    }
    // A little room beyond the farthest aircraft, so its symbol is not cut by the ring.
    view.rangeMetres = NiceDistanceAtLeast(std::max(farthest * 1.08, kMinimumRange));
    view.centreX = scene.width / 2.0;
    view.centreY = scene.height / 2.0;
    view.radiusPixels = std::max(10.0, std::min(scene.width, scene.height) / 2.0 - kMargin);
    view.pixelsPerMetre = view.radiusPixels / view.rangeMetres;
    return view;
}

std::string DistanceLabel(double metres) {
    if (metres < 1000) return Fixed(metres, 0) + " m";
    double km = metres / 1000;
    bool whole = std::fabs(km - std::round(km)) < 1e-9;
    return Fixed(km, whole ? 0 : 1) + " km";
}

std::string TimeLabel(double seconds) { return Fixed(seconds, 1) + " s"; }

}  // namespace simhost
