// Placing a received aircraft: the sender's local position when its frame is ours, else its converted world position.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>

#include "core/HostInterface.h"
#include "simhost/Host.h"
#include "traffic/WorldOrLocal.h"

namespace {

struct Point {
    double x = -1, y = -1, z = -1;
};

std::string G9(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", (double)(float)value);
    return text;
}

// What a peer at (lat, lon, el) sends when its simulator's local frame has the given origin: its local
// position there and its world position, each through single precision as on the wire.
struct Peer {
    std::string lat, lon, el, x, y, z;
};

Peer PeerAt(double lat, double lon, double el, simhost::Origin origin) {
    simhost::Host &host = simhost::TheHost();
    host.PlaceAircraft(lat, lon, el, 0, origin);
    Point local;
    XPLMWorldToLocal(lat, lon, el, &local.x, &local.y, &local.z);
    return {G9(lat), G9(lon), G9(el), G9(local.x), G9(local.y), G9(local.z)};
}

Point Place(const Peer &p) {
    Point r;
    SVWorldOrLocal(p.lat, p.lon, p.el, p.x, p.y, p.z, &r.x, &r.y, &r.z);
    return r;
}

// Where the peer really is, in our own frame.
Point Truth(double lat, double lon, double el) {
    Point r;
    XPLMWorldToLocal(lat, lon, el, &r.x, &r.y, &r.z);
    return r;
}

double Apart(const Point &a, const Point &b) {
    return std::sqrt(std::pow(a.x - b.x, 2) + std::pow(a.y - b.y, 2) + std::pow(a.z - b.z, 2));
}

}  // namespace

TEST(WorldOrLocal, PeersLandWhereTheyAreWhateverTheirOrigin) {
    simhost::Host &host = simhost::TheHost();
    host.Reset();

    // Same origin: the sender's local position, to the millimetre its single-precision text carries.
    Peer same = PeerAt(47.91, -122.2, 800, {47.5, -122.5});
    host.PlaceAircraft(47.45, -122.31, 100, 0, simhost::Origin{47.5, -122.5});
    Point r = Place(same);
    EXPECT_EQ(r.x, std::stof(same.x));
    EXPECT_EQ(r.y, std::stof(same.y));
    EXPECT_EQ(r.z, std::stof(same.z));

    // Same whole-degree band, but the peer arrived from the tile to the south and its origin stayed
    // there: its local position means a place about a degree away from it in our frame.
    Peer south = PeerAt(47.95, -122.2, 800, {46.5, -122.5});
    host.PlaceAircraft(47.45, -122.31, 100, 0, simhost::Origin{47.5, -122.5});
    EXPECT_LT(Apart(Place(south), Truth(47.95, -122.2, 800)), 1.0);

    // Across the 180th meridian: a peer about 1.9 km east of us, its origin on the other side.
    Peer east = PeerAt(64.9, -179.97, 300, {64.5, -179.5});
    host.PlaceAircraft(64.9, 179.99, 300, 90);
    Point placed = Place(east);
    EXPECT_LT(Apart(placed, Truth(64.9, -179.97, 300)), 1.0);
    EXPECT_NEAR(placed.x - host.GetDataRef("sim/flightmodel/position/local_x"), 1887, 5);

    // Texts that are no numbers count as 0: a local position of 0 far from the world one is not taken.
    Point garbage = Place({"47.45", "abc", "100", "12.5", "", "7"});
    EXPECT_LT(Apart(garbage, Truth(47.45, 0, 100)), 1e-6);
}

TEST(WorldOrLocal, ChoiceDoesNotDependOnTheProcessLocale) {
    simhost::Host &host = simhost::TheHost();
    host.Reset();
    Peer same = PeerAt(47.91, -122.2, 800, {47.5, -122.5});
    host.PlaceAircraft(47.45, -122.31, 100, 0, simhost::Origin{47.5, -122.5});
    // Another plug-in in the simulator may switch the locale to one with a decimal comma.
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    Point r = Place(same);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(r.x, std::stof(same.x));
    EXPECT_EQ(r.z, std::stof(same.z));
}
