// Which aircraft a receiver shows when more are in view than it has slots, and how far apart aircraft are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace server {

// One aircraft a receiver could show.
struct ViewCandidate {
    double distance = 0;      // metres from the receiver; 0 when either position is unknown
    bool forced = false;      // must be shown whatever its distance (the receiver's crew pilot)
    bool holder = false;      // holds a slot now
    std::uint64_t order = 0;  // login order, to break ties the same way every time
};

// Returns the indices of the candidates to show, at most `capacity` of them: the forced ones, then the
// nearest. A holder counts as 20% plus 200 m nearer than it is, so two aircraft at about the same
// distance do not swap slots back and forth at every re-evaluation.
std::vector<std::size_t> ChooseVisible(const std::vector<ViewCandidate> &candidates, std::size_t capacity);

// Earth-centred coordinates (metres, WGS 84) of a latitude, longitude (degrees) and elevation (metres).
struct EarthPoint {
    double x = 0, y = 0, z = 0;
};
EarthPoint ToEarthPoint(double latitude, double longitude, double elevation);
double Distance(const EarthPoint &a, const EarthPoint &b);

}  // namespace server
