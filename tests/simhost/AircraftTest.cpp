// The user's aircraft: the local frame of its tile, world/local consistency, scripted motion, the override.
#include <cmath>

#include "HostFixture.h"
#include "XPLMDataAccess.h"
#include "XPLMGraphics.h"

namespace {

using simhosttest::HostTest;

double Ref(const char *name) { return XPLMGetDatad(XPLMFindDataRef(name)); }
float RefF(const char *name) { return XPLMGetDataf(XPLMFindDataRef(name)); }

TEST_F(HostTest, LocalFrameIsTheStartTilesCentreAndTheMapsInvertEachOther) {
    host.PlaceAircraft(47.9, -122.1, 100, 0);
    EXPECT_EQ(RefF("sim/flightmodel/position/lat_ref"), 47.5f);
    EXPECT_EQ(RefF("sim/flightmodel/position/lon_ref"), -122.5f) << "floor, not truncation, for west longitudes";

    // Round trips, far apart in the tile and beyond it.
    const double points[][3] = {
        {47.9, -122.1, 100}, {47.0001, -122.9999, 0}, {48.7, -121.2, 11000}, {47.5, -122.5, -20}};
    for (const auto &p : points) {
        double x, y, z, lat, lon, alt;
        XPLMWorldToLocal(p[0], p[1], p[2], &x, &y, &z);
        XPLMLocalToWorld(x, y, z, &lat, &lon, &alt);
        EXPECT_NEAR(lat, p[0], 1e-10);
        EXPECT_NEAR(lon, p[1], 1e-10);
        EXPECT_NEAR(alt, p[2], 1e-7);
    }
    // Axes: east is +X, north is -Z, up is +Y; the origin is on the surface at the tile centre.
    double x, y, z;
    XPLMWorldToLocal(47.5, -122.5, 0, &x, &y, &z);
    EXPECT_NEAR(std::hypot(x, z), 0, 1e-9);
    XPLMWorldToLocal(47.6, -122.4, 50, &x, &y, &z);
    EXPECT_GT(x, 0);
    EXPECT_LT(z, 0);
    EXPECT_NEAR(z, -11119.5, 10.0) << "0.1 degree of latitude";
    EXPECT_NEAR(y, 50 - (x * x + z * z) / (2 * 6371000.0), 0.01) << "the earth curves away below the tangent";
    // The aircraft's own refs agree with the maps.
    XPLMWorldToLocal(47.9, -122.1, 100, &x, &y, &z);
    EXPECT_NEAR(Ref("sim/flightmodel/position/local_x"), x, 1e-6);
    EXPECT_NEAR(Ref("sim/flightmodel/position/local_z"), z, 1e-6);
}

TEST_F(HostTest, TwoPositionsInOneTileShareAFrame) {
    // Two hosts (two pilots) starting anywhere in the same tile get the same origin, so a local
    // position means the same place to both.
    host.PlaceAircraft(51.01, 7.02, 0, 0);
    double x1, y1, z1;
    XPLMWorldToLocal(51.3, 7.3, 300, &x1, &y1, &z1);
    host.Reset();
    host.PlaceAircraft(51.98, 7.97, 0, 0);
    double x2, y2, z2;
    XPLMWorldToLocal(51.3, 7.3, 300, &x2, &y2, &z2);
    EXPECT_DOUBLE_EQ(x1, x2);
    EXPECT_DOUBLE_EQ(z1, z2);
    host.PlaceAircraft(52.01, 7.97, 0, 0);  // the next tile north: a new origin
    XPLMWorldToLocal(51.3, 7.3, 300, &x2, &y2, &z2);
    EXPECT_NE(z1, z2);
}

TEST_F(HostTest, WritingLocalPositionMovesTheAircraftInTheWorld) {
    host.PlaceAircraft(40.2, -3.7, 600, 0);
    double x, y, z;
    XPLMWorldToLocal(40.3, -3.6, 900, &x, &y, &z);
    XPLMSetDatad(XPLMFindDataRef("sim/flightmodel/position/local_x"), x);
    XPLMSetDatad(XPLMFindDataRef("sim/flightmodel/position/local_y"), y);
    XPLMSetDatad(XPLMFindDataRef("sim/flightmodel/position/local_z"), z);
    EXPECT_NEAR(host.Latitude(), 40.3, 1e-9);
    EXPECT_NEAR(host.Longitude(), -3.6, 1e-9);
    EXPECT_NEAR(Ref("sim/flightmodel/position/elevation"), 900, 1e-9);
}

TEST_F(HostTest, ScriptedMotionFliesAndTheOverrideStopsIt) {
    host.PlaceAircraft(40.5, -3.5, 1000, 90);  // due east, at the tile centre
    host.SetGroundSpeed(100);
    host.SetVerticalSpeed(5);
    host.RunFor(10);
    EXPECT_NEAR(Ref("sim/flightmodel/position/local_x"), 1000, 0.5);
    EXPECT_NEAR(Ref("sim/flightmodel/position/local_z"), 0, 0.1);
    EXPECT_NEAR(host.ElevationM(), 1050, 1e-6);
    EXPECT_GT(host.Longitude(), -3.5);

    int on = 1;
    XPLMSetDatavi(XPLMFindDataRef("sim/operation/override/override_planepath"), &on, 0, 1);
    EXPECT_TRUE(host.PlanePathOverridden());
    double lat = host.Latitude(), lon = host.Longitude();
    host.RunFor(5);
    EXPECT_EQ(host.Latitude(), lat) << "a plug-in flies the aircraft while element 0 is 1";
    EXPECT_EQ(host.Longitude(), lon);
    int off = 0;
    XPLMSetDatavi(XPLMFindDataRef("sim/operation/override/override_planepath"), &off, 0, 1);
    host.RunFor(1);
    EXPECT_NEAR(Ref("sim/flightmodel/position/local_x"), 1100, 0.5);
}

TEST_F(HostTest, TheFrameIsCurvedWrapsAtTheAntimeridianAndFollowsTheAircraft) {
    // An explicit origin a degree south of the aircraft's tile, as after arriving from there.
    host.PlaceAircraft(47.9, -122.1, 100, 0, simhost::Origin{46.5, -122.5});
    EXPECT_EQ(RefF("sim/flightmodel/position/lat_ref"), 46.5f);
    double x, y, z, lat, lon, alt;
    // About 75 km out the surface lies some 440 m below the tangent plane; the maps stay an exact pair.
    XPLMWorldToLocal(46.5 + 75000 / 111194.9, -122.5, 0, &x, &y, &z);
    EXPECT_NEAR(z, -75000, 5);
    EXPECT_NEAR(y, -441.5, 1);
    const double points[][3] = {{89.99, 10, 500}, {-89.9, -170, 0}, {47.9, -122.1, 12000}, {0, 179.999, 3}};
    for (const auto &p : points) {
        XPLMWorldToLocal(p[0], p[1], p[2], &x, &y, &z);
        XPLMLocalToWorld(x, y, z, &lat, &lon, &alt);
        EXPECT_NEAR(lat, p[0], 1e-9);
        EXPECT_NEAR(lon, p[1], 1e-9);
        EXPECT_NEAR(alt, p[2], 1e-6);
    }

    // Across the 180th meridian a neighbour 1.9 km east is 1.9 km east, not most of the way round the earth.
    host.PlaceAircraft(64.9, 179.99, 300, 90);
    double ax, ay, az, bx, by, bz;
    XPLMWorldToLocal(64.9, 179.99, 300, &ax, &ay, &az);
    XPLMWorldToLocal(64.9, -179.97, 300, &bx, &by, &bz);
    EXPECT_NEAR(bx - ax, 1887, 5);
    // Flying east across it: the longitude wraps, and a degree on the origin moves to the new tile.
    host.SetGroundSpeed(250);
    host.RunFor(60);
    EXPECT_LT(host.Longitude(), -179.6);
    EXPECT_EQ(RefF("sim/flightmodel/position/lon_ref"), 179.5f);
    XPLMSetDatad(XPLMFindDataRef("sim/multiplayer/position/plane3_x"), 100);
    const double trafficLat = Ref("sim/multiplayer/position/plane3_lat"),
                 trafficLon = Ref("sim/multiplayer/position/plane3_lon");
    host.RunFor(200);
    EXPECT_EQ(RefF("sim/flightmodel/position/lon_ref"), -179.5f);
    EXPECT_EQ(RefF("sim/flightmodel/position/lat_ref"), 64.5f);
    XPLMWorldToLocal(host.Latitude(), host.Longitude(), host.ElevationM(), &x, &y, &z);
    EXPECT_NEAR(Ref("sim/flightmodel/position/local_x"), x, 1e-6) << "the own local position moved with the origin";
    EXPECT_NEAR(Ref("sim/multiplayer/position/plane3_lat"), trafficLat, 1e-9) << "traffic keeps its place on earth";
    EXPECT_NEAR(Ref("sim/multiplayer/position/plane3_lon"), trafficLon, 1e-9);
}

TEST_F(HostTest, RouteVisitsWaypointsInTurnAndHoldsAtTheEnd) {
    host.PlaceAircraft(10.5, 20.5, 300, 0);
    double x, y, z;
    XPLMWorldToLocal(10.51, 20.5, 300, &x, &y, &z);  // about 1112 m north
    host.SetGroundSpeed(200);
    host.FlyRoute({{10.51, 20.5, 300}, {10.51, 20.51, 300}});
    host.RunFor(3);
    EXPECT_NEAR(host.Heading(), 0, 1e-3) << "heading for the first point, due north";
    host.RunFor(4);
    EXPECT_NEAR(host.Heading(), 90, 0.01) << "then east to the second";
    host.RunFor(10);
    EXPECT_NEAR(host.Latitude(), 10.51, 1e-9);
    EXPECT_NEAR(host.Longitude(), 20.51, 1e-9);
    EXPECT_EQ(host.GroundSpeed(), 0) << "holds at the last point";
}

}  // namespace
