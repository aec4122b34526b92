// Data references: X-Plane's names and types, conversions, clipping, read-only refs and position upkeep.
#include <cmath>
#include <string>

#include "HostFixture.h"
#include "XPLMDataAccess.h"
#include "XPLMGraphics.h"

namespace {

using simhosttest::HostTest;

XPLMDataRef Find(const std::string &name) { return XPLMFindDataRef(name.c_str()); }

TEST_F(HostTest, NamesAndTypesAreXPlanes) {
    EXPECT_EQ(XPLMFindDataRef("sim/no/such/ref"), nullptr);
    EXPECT_EQ(XPLMFindDataRef(nullptr), nullptr);
    EXPECT_EQ(Find("sim/flightmodel/controls/lspdef"), nullptr) << "X-Plane has no such ref";
    // Slats: only multiplayer plane 1 says "slat"; the others say "sla1" (digit one).
    EXPECT_NE(Find("sim/multiplayer/position/plane1_slat_ratio"), nullptr);
    EXPECT_EQ(Find("sim/multiplayer/position/plane1_sla1_ratio"), nullptr);
    for (int n = 2; n <= 19; ++n) {
        std::string p = "sim/multiplayer/position/plane" + std::to_string(n);
        EXPECT_EQ(Find(p + "_slat_ratio"), nullptr) << n;
        EXPECT_NE(Find(p + "_sla1_ratio"), nullptr) << n;
        EXPECT_NE(Find(p + "_yolk_yaw"), nullptr) << n;
        EXPECT_NE(Find(p + "_taxi_light_on"), nullptr) << n;
    }
    EXPECT_EQ(Find("sim/multiplayer/position/plane0_x"), nullptr);
    EXPECT_EQ(Find("sim/multiplayer/position/plane20_x"), nullptr);

    const int floatOrDouble = xplmType_Float | xplmType_Double;
    EXPECT_EQ(XPLMGetDataRefTypes(Find("sim/flightmodel/position/local_x")), floatOrDouble);
    EXPECT_EQ(XPLMGetDataRefTypes(Find("sim/multiplayer/position/plane7_lat")), floatOrDouble);
    EXPECT_EQ(XPLMGetDataRefTypes(Find("sim/flightmodel/position/psi")), xplmType_Float);
    EXPECT_EQ(XPLMGetDataRefTypes(Find("sim/cockpit/electrical/taxi_light_on")), xplmType_Int);
    EXPECT_EQ(XPLMGetDataRefTypes(Find("sim/operation/override/override_planepath")), xplmType_IntArray);
    EXPECT_EQ(XPLMGetDataRefTypes(nullptr), xplmType_Unknown);
    EXPECT_EQ(XPLMGetDatavf(Find("sim/aircraft/parts/acf_gear_deploy"), nullptr, 0, 0), 10);
    EXPECT_EQ(XPLMGetDatavf(Find("sim/flightmodel/engine/ENGN_thro"), nullptr, 0, 0), 16);
    EXPECT_EQ(XPLMGetDatavf(Find("sim/multiplayer/position/plane19_throttle"), nullptr, 0, 0), 16);
    EXPECT_EQ(XPLMGetDatavf(Find("sim/multiplayer/position/plane19_gear_deploy"), nullptr, 0, 0), 10);
    EXPECT_EQ(XPLMGetDatavi(Find("sim/operation/override/override_planepath"), nullptr, 0, 0), 20);
    EXPECT_EQ(XPLMGetDatai(Find("sim/graphics/view/view_type")), 1000);
    EXPECT_LT(XPLMGetDataf(Find("sim/graphics/view/pilots_head_x")), 0.0f) << "the pilot sits left of centre";
}

TEST_F(HostTest, AccessorsConvertOnlyWhereXPlaneDoes) {
    XPLMDataRef x = Find("sim/flightmodel/position/local_x");
    XPLMSetDataf(x, 1234.5f);
    EXPECT_DOUBLE_EQ(XPLMGetDatad(x), 1234.5) << "a double ref takes float writes";
    XPLMSetDatad(x, 0.1);
    EXPECT_EQ(XPLMGetDataf(x), 0.1f) << "and gives float reads";
    EXPECT_EQ(XPLMGetDatad(x), 0.1) << "keeping full precision";

    XPLMDataRef psi = Find("sim/flightmodel/position/psi");
    XPLMSetDataf(psi, 90.0f);
    XPLMSetDatad(psi, 45.0);  // a float ref has no double accessor
    EXPECT_EQ(XPLMGetDataf(psi), 90.0f);
    EXPECT_EQ(XPLMGetDatad(psi), 0.0);
    XPLMSetDatai(psi, 7);
    EXPECT_EQ(XPLMGetDataf(psi), 90.0f);

    XPLMDataRef taxi = Find("sim/cockpit/electrical/taxi_light_on");
    XPLMSetDatai(taxi, 1);
    EXPECT_EQ(XPLMGetDataf(taxi), 0.0f) << "an int ref read as float gives 0, as in X-Plane";
    XPLMSetDataf(taxi, 0.0f);
    EXPECT_EQ(XPLMGetDatai(taxi), 1);
    EXPECT_EQ(XPLMGetDatavi(taxi, nullptr, 0, 0), 0) << "a scalar is not an array";

    // NULL and foreign handles are harmless.
    XPLMSetDataf(nullptr, 1.0f);
    EXPECT_EQ(XPLMGetDataf(nullptr), 0.0f);
    int dummy = 0;
    EXPECT_EQ(XPLMGetDatai(reinterpret_cast<XPLMDataRef>(&dummy)), 0);
}

TEST_F(HostTest, VectorAccessClipsToTheArray) {
    XPLMDataRef gear = Find("sim/multiplayer/position/plane3_gear_deploy");
    float in[12] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 1.0f, 1.1f, 1.2f};
    XPLMSetDatavf(gear, in, 8, 4);  // only elements 8 and 9 exist
    float out[12];
    std::fill(out, out + 12, -1.0f);
    EXPECT_EQ(XPLMGetDatavf(gear, out, 0, 12), 10);
    EXPECT_EQ(out[7], 0.0f);
    EXPECT_EQ(out[8], 0.1f);
    EXPECT_EQ(out[9], 0.2f);
    EXPECT_EQ(out[10], -1.0f) << "nothing written past the array";
    EXPECT_EQ(XPLMGetDatavf(gear, out, 10, 5), 0) << "offset at the end copies nothing";
    EXPECT_EQ(XPLMGetDatavf(gear, out, 50, 5), 0);
    EXPECT_EQ(XPLMGetDatavf(gear, out, -1, 5), 0);
    EXPECT_EQ(XPLMGetDatavf(gear, out, 9, 5), 1);
    EXPECT_EQ(out[0], 0.2f);
    XPLMSetDatavf(gear, in, 100, 3);  // harmless
    XPLMSetDatavf(gear, nullptr, 0, 3);

    XPLMDataRef path = Find("sim/operation/override/override_planepath");
    int ones[25];
    std::fill(ones, ones + 25, 1);
    XPLMSetDatavi(path, ones, 0, 25);
    int back[20] = {};
    EXPECT_EQ(XPLMGetDatavi(path, back, 0, 20), 20);
    EXPECT_EQ(back[19], 1);
    EXPECT_EQ(XPLMGetDatavf(path, reinterpret_cast<float *>(back), 0, 20), 0) << "int array has no float access";
}

TEST_F(HostTest, ReadOnlyRefsIgnoreWritesButTheHostMayChangeThem) {
    XPLMDataRef lat = Find("sim/flightmodel/position/latitude");
    XPLMDataRef view = Find("sim/graphics/view/view_type");
    XPLMDataRef latRef = Find("sim/flightmodel/position/lat_ref");
    double before = XPLMGetDatad(lat);
    XPLMSetDatad(lat, 10.0);
    XPLMSetDataf(lat, 10.0f);
    XPLMSetDatai(view, 1026);
    XPLMSetDataf(latRef, 3.0f);
    XPLMSetDatad(Find("sim/multiplayer/position/plane2_el"), 500.0);
    EXPECT_EQ(XPLMGetDatad(lat), before);
    EXPECT_EQ(XPLMGetDatai(view), 1000);
    EXPECT_NE(XPLMGetDataf(latRef), 3.0f);
    EXPECT_EQ(XPLMGetDatad(Find("sim/multiplayer/position/plane2_el")), 0.0);
    // Each ignored write is counted, each name listed once; X-Plane says which it refuses.
    EXPECT_EQ(host.ReadOnlyWriteCount(), 5);
    EXPECT_EQ(host.ReadOnlyWrites(),
              (std::vector<std::string>{"sim/flightmodel/position/latitude", "sim/graphics/view/view_type",
                                        "sim/flightmodel/position/lat_ref", "sim/multiplayer/position/plane2_el"}));
    EXPECT_EQ(XPLMCanWriteDataRef(lat), 0);
    EXPECT_EQ(XPLMCanWriteDataRef(Find("sim/multiplayer/position/plane2_x")), 1);
    host.SetViewType(1026);
    EXPECT_EQ(XPLMGetDatai(view), 1026);
    EXPECT_TRUE(host.SetDataRef("sim/graphics/view/view_type", 1017));
    EXPECT_EQ(XPLMGetDatai(view), 1017) << "tests play the simulator and bypass writability";
    EXPECT_FALSE(host.SetDataRef("sim/no/such/ref", 1));
    EXPECT_FALSE(host.SetDataRef("sim/aircraft/parts/acf_gear_deploy", 1, 10));
    EXPECT_EQ(host.ReadOnlyWriteCount(), 5) << "the host's own changes are no plug-in's writes";
}

TEST_F(HostTest, XPlane12LogsReplacedYokeNamesAndOffersTheirArrays) {
    const std::string old = "sim/multiplayer/position/plane7_yolk_roll";
    const std::string array = "sim/multiplayer/controls/yoke_roll_ratio";
    ASSERT_NE(Find(old), nullptr);
    ASSERT_NE(Find(array), nullptr);
    std::vector<std::string> log = host.DebugLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "Dataref " + old + " has been replaced by " + array + "\n");
    EXPECT_EQ(host.GetDataRefArray(array).size(), 20u);
    host.SetXPlaneVersion(simhost::XPlaneVersion::XPlane11);
    EXPECT_NE(Find(old), nullptr);
    EXPECT_EQ(XPLMFindDataRef(array.c_str()), nullptr) << "X-Plane 11 before 11.50 has only the old names";
    EXPECT_EQ(host.DebugLog().size(), 1u);
}

TEST_F(HostTest, TrafficWorldPositionFollowsItsLocalPosition) {
    host.PlaceAircraft(51.47, -0.46, 25, 270);
    double x, y, z;
    XPLMWorldToLocal(51.6, -0.2, 1500, &x, &y, &z);
    const std::string p = "sim/multiplayer/position/plane5_";
    XPLMSetDatad(Find(p + "x"), x);
    XPLMSetDatad(Find(p + "y"), y);
    XPLMSetDataf(Find(p + "z"), static_cast<float>(z));  // float access to a double ref moves it too
    EXPECT_NEAR(XPLMGetDatad(Find(p + "lat")), 51.6, 1e-5);
    EXPECT_NEAR(XPLMGetDatad(Find(p + "lon")), -0.2, 1e-9);
    EXPECT_NEAR(XPLMGetDatad(Find(p + "el")), 1500, 1e-3);  // z went through single precision
}

}  // namespace
