// Placing a received aircraft in the user's local frame: the sender's own local position or its converted world position.
#pragma once

#include <string>

void SVWorldOrLocal(float ownLat, float ownLon, std::string lat, std::string lon, std::string el, std::string x,
                    std::string y, std::string z, double *outX, double *outY, double *outZ);
