// Placing a received aircraft in the user's local frame: the sender's local position when both frames agree.
#include "traffic/WorldOrLocal.h"

#include <cmath>

#include "core/HostInterface.h"
#include "net/FieldDecode.h"

void SVWorldOrLocal(std::string_view lat, std::string_view lon, std::string_view el, std::string_view x,
                    std::string_view y, std::string_view z, double *outX, double *outY, double *outZ) {
    // X-Plane puts the origin of its local frame near the aircraft when it loads scenery, and moves it
    // when the aircraft flies far, so two simulators in the same whole-degree band can have origins a
    // degree apart. The world position always means the same place; the local one only in the same frame.
    double worldX = 0, worldY = 0, worldZ = 0;
    XPLMWorldToLocal(DecodeDoubleField(lat), DecodeDoubleField(lon), DecodeDoubleField(el), &worldX, &worldY, &worldZ);
    double localX = DecodeFloatField(x), localY = DecodeFloatField(y), localZ = DecodeFloatField(z);
    double apart = std::sqrt((localX - worldX) * (localX - worldX) + (localY - worldY) * (localY - worldY) +
                             (localZ - worldZ) * (localZ - worldZ));
    bool sameFrame = apart <= kSameFrameMetres;  // false for a NaN too
    *outX = sameFrame ? localX : worldX;
    *outY = sameFrame ? localY : worldY;
    *outZ = sameFrame ? localZ : worldZ;
}
