// Placing a received aircraft in the user's local frame: the sender's own local position or its converted world
// position.
#pragma once

#include <string>
#include <string_view>

// Called on the simulation thread only, once per applied location datagram.
void SVWorldOrLocal(float ownLat, float ownLon, std::string lat, std::string lon, std::string el, std::string x,
                    std::string y, std::string z, double *outX, double *outY, double *outZ);

// The whole-degree part of a number written as text: everything before the first "." that directly
// follows a digit ("47.45" gives "47", "-0.25" gives "-0"); empty when there is no such ".".
// A view into `text`.
std::string_view DegreeText(std::string_view text);
