// Where the map puts things: its centre, its range and the metres-to-pixels scale.
#pragma once

#include <string>

#include "simhost/render/Scene.h"

namespace simhost {

struct MapView {
    double centreX = 0, centreY = 0;  // cairo pixels (y down) of the user's aircraft
    double radiusPixels = 1;          // the outer range ring
    double rangeMetres = 1000;        // the distance the outer ring stands for
    double pixelsPerMetre = 0.001;
    double userX = 0, userZ = 0;

    // Local frame (+X east, +Z south) to cairo pixels: north is up, east is right.
    void ToPixels(double x, double z, double &px, double &py) const {
        px = centreX + (x - userX) * pixelsPerMetre;
        py = centreY + (z - userZ) * pixelsPerMetre;
    }
};

// The view that shows every placed aircraft inside the outer ring, with a round range of at least 1 km.
MapView ChooseMapView(const Scene &scene);

// The smallest round distance (1, 1.5, 2, 3, 5 or 7.5 times a power of ten) that is at least `metres` (at least 1 m).
double NiceDistanceAtLeast(double metres);
// The largest such number that is at most `metres` (at least 1 m).
double NiceDistanceAtMost(double metres);

// "500 m", "2 km", "1.5 km": whole metres below a kilometre, else kilometres. Locale-free.
std::string DistanceLabel(double metres);
// "12.5 s": seconds with one decimal. Locale-free.
std::string TimeLabel(double seconds);

}  // namespace simhost
