// Placing a received aircraft in the user's local frame: the sender's own local position or its converted world
// position.
#pragma once

#include <string_view>

// A sender's local position is taken only when it lies within this distance of its world position
// converted into our frame: then both frames share their origin, and the local position keeps the
// millimetres that the single-precision latitude and longitude lose (about half a metre).
constexpr double kSameFrameMetres = 100.0;

// Called on the simulation thread only, once per applied location datagram. The texts are the
// datagram's fields as received; a text that is no number counts as 0.
void SVWorldOrLocal(std::string_view lat, std::string_view lon, std::string_view el, std::string_view x,
                    std::string_view y, std::string_view z, double *outX, double *outY, double *outZ);
