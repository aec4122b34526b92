// Objects, instances, TCAS targets and terrain probes: what X-Plane refuses, keeps, drops and finds.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "XPLMDataAccess.h"
#include "XPLMDisplay.h"
#include "XPLMGraphics.h"
#include "XPLMInstance.h"
#include "XPLMPlanes.h"
#include "XPLMScenery.h"

namespace {

namespace fs = std::filesystem;

// A small valid object: one triangle of body, one of gear animated by `gearRef`.
std::string Object(const std::string &gearRef) {
    return "I\n800\nOBJ\n\nPOINT_COUNTS 6 0 0 10\n"
           "VT 0 0 -6 0 1 0 0 0\nVT -5 0 2 0 1 0 0 0\nVT 5 0 2 0 1 0 0 0\n"
           "VT 0 -1 0 1 0 0 0 0\nVT 0 -1 1 1 0 0 0 0\nVT 0 -2 1 1 0 0 0 0\n"
           "IDX10 0 1 2 3 4 5 0 1 2 3\n"
           "ATTR_no_cull\nTRIS 0 3\nANIM_begin\nANIM_hide 0 0.01 " +
           gearRef + "\nTRIS 3 3\nANIM_end\n";
}

float ReadZero(void *) { return 0; }

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

class Instancing : public simhosttest::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        dir = fs::temp_directory_path() /
              ("skorvale-instancing-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir / "models");
        host.SetSystemPath(dir.string());
    }
    void TearDown() override {
        for (XPLMDataRef ref : published) XPLMUnregisterDataAccessor(ref);
        HostTest::TearDown();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    void Write(const std::string &relative, const std::string &text) {
        std::ofstream(dir / relative, std::ios::binary) << text;
    }
    void Publish(const char *name) {
        published.push_back(XPLMRegisterDataAccessor(name, xplmType_Float, 0, nullptr, nullptr, ReadZero, nullptr,
                                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                     nullptr, nullptr, nullptr));
    }

    // Starts an async load; the result lands in `loaded` (and `calls` counts the callbacks).
    struct Result {
        XPLMObjectRef object = nullptr;
        int calls = 0;
    };
    static void Loaded(XPLMObjectRef object, void *refcon) {
        auto *r = static_cast<Result *>(refcon);
        r->object = object;
        ++r->calls;
    }

    fs::path dir;
    std::vector<XPLMDataRef> published;
};

TEST_F(Instancing, AsyncLoadsCompleteFramesLaterOrFailWithAReason) {
    Publish("test/gear");
    Write("models/good.obj", Object("test/gear"));
    Write("models/unregistered.obj", Object("test/not_registered"));
    const std::string good = Object("test/gear");
    Write("models/bad_header.obj", "I\n700\nOBJ\n");
    Write("models/short_vt.obj", Replace(good, "VT 0 -2 1 1 0 0 0 0\n", ""));
    Write("models/tris_range.obj", Replace(good, "TRIS 3 3", "TRIS 3 9"));
    Write("models/bad_index.obj", Replace(good, "IDX10 0 1", "IDX10 9 1"));
    Write("models/open_anim.obj", Replace(good, "ANIM_end", ""));
    Write("models/nan.obj", Replace(good, "VT 0 0 -6", "VT 0 nan -6"));
    fs::create_directories(dir / "models/dir.obj");

    host.SetObjectLoadFrames(3);
    host.FailObjectLoads("models/refused.obj");
    Write("models/refused.obj", good);
    const char *paths[] = {"models/good.obj",      "models/unregistered.obj", "models/bad_header.obj",
                           "models/short_vt.obj",  "models/tris_range.obj",   "models/bad_index.obj",
                           "models/open_anim.obj", "models/nan.obj",          "models/dir.obj",
                           "models/missing.obj",   "models/refused.obj"};
    Result results[std::size(paths)];
    for (size_t i = 0; i < std::size(paths); ++i) XPLMLoadObjectAsync(paths[i], Loaded, &results[i]);
    host.RunFrames(2);
    for (const Result &r : results) EXPECT_EQ(r.calls, 0) << "no load completes at once";
    host.RunFrames(3);
    for (size_t i = 0; i < std::size(paths); ++i) {
        EXPECT_EQ(results[i].calls, 1) << paths[i];
        EXPECT_EQ(results[i].object != nullptr, i == 0) << paths[i];
    }
    simhost::InstancingInfo info = host.Instancing();
    EXPECT_EQ(info.objectLoads, 11);
    EXPECT_EQ(info.failedLoads, 10);
    ASSERT_EQ(info.loadProblems.size(), 10u);
    const char *why[] = {"test/not_registered is not registered",
                         "not an OBJ8 header",
                         "before every table entry",
                         "beyond the 10 indices",
                         "beyond the 6 vertices",
                         "inside an ANIM block",
                         "bad number",
                         "no such file",
                         "no such file",
                         "load fails"};
    for (size_t i = 0; i < std::size(why); ++i)
        EXPECT_NE(info.loadProblems[i].find(why[i]), std::string::npos) << info.loadProblems[i];

    // The object kept its geometry: the still body only (the gear is animated).
    XPLMUnloadObject(results[0].object);
    EXPECT_EQ(host.Instancing().objectsAlive, 0);
}

int CreateInDraw(XPLMDrawingPhase, int, void *refcon) {
    auto *instance = static_cast<XPLMInstanceRef *>(refcon);
    XPLMDrawInfo_t where = {sizeof(XPLMDrawInfo_t), 1, 2, 3, 0, 0, 0};
    float data[1] = {1};
    XPLMInstanceSetPosition(*instance, &where, data);
    XPLMDestroyInstance(*instance);
    return 1;
}

TEST_F(Instancing, InstancesKeepTheirObjectAndRefuseBadCallsAndDrawCallbacks) {
    Publish("test/gear");
    Write("models/good.obj", Object("test/gear"));
    XPLMObjectRef object = XPLMLoadObject("models/good.obj");
    ASSERT_NE(object, nullptr);

    const char *refs[] = {"test/gear", nullptr};
    EXPECT_EQ(XPLMCreateInstance(nullptr, refs), nullptr);
    EXPECT_EQ(XPLMCreateInstance(object, nullptr), nullptr);
    XPLMInstanceRef instance = XPLMCreateInstance(object, refs);
    ASSERT_NE(instance, nullptr);
    XPLMUnloadObject(object);  // allowed at once: the instance holds the object
    EXPECT_EQ(host.Instancing().objectsAlive, 1);
    ASSERT_NE(host.InstanceMesh(instance), nullptr);
    EXPECT_EQ(host.InstanceMesh(instance)->stillTriangles.size(), 3u);
    EXPECT_EQ(host.InstanceMesh(instance)->triangles, 2);

    XPLMDrawInfo_t wrongSize = {4, 0, 0, 0, 0, 0, 0};
    float gear[1] = {1};
    XPLMInstanceSetPosition(instance, &wrongSize, gear);
    XPLMDrawInfo_t where = {sizeof(XPLMDrawInfo_t), 100, 20, -300, 2, 90, -5};
    XPLMInstanceSetPosition(instance, &where, nullptr);  // one data ref, no data
    EXPECT_FALSE(host.Instances().at(0).positioned);
    host.RunFrame();
    XPLMInstanceSetPosition(instance, &where, gear);
    simhost::InstanceInfo placed = host.Instances().at(0);
    EXPECT_TRUE(placed.positioned);
    EXPECT_EQ(placed.object, "models/good.obj");
    EXPECT_EQ(placed.data, std::vector<float>{1});
    EXPECT_EQ(placed.setFrame, 1);
    EXPECT_FLOAT_EQ(placed.position.heading, 90);

    // From a draw callback neither a move nor a destroy happens.
    XPLMRegisterDrawCallback(CreateInDraw, xplm_Phase_Window, 0, &instance);
    host.RunFrame();
    XPLMUnregisterDrawCallback(CreateInDraw, xplm_Phase_Window, 0, &instance);
    ASSERT_EQ(host.Instances().size(), 1u);
    EXPECT_FLOAT_EQ(host.Instances()[0].position.x, 100);
    simhost::InstancingInfo info = host.Instancing();
    EXPECT_EQ(info.refusedCount, 6);
    EXPECT_NE(info.refused.back().call.find("XPLMDestroyInstance: called from a draw callback"), std::string::npos);

    XPLMDestroyInstance(instance);
    EXPECT_TRUE(host.Instances().empty());
    EXPECT_EQ(host.Instancing().objectsAlive, 0) << "the last holder let go";
    XPLMDestroyInstance(instance);
    EXPECT_EQ(host.Instancing().refusedCount, 7) << "a stale handle is refused, not a crash";
}

void SetTcasText(const char *name, int slot, const std::string &text) {
    char bytes[8] = {};
    text.copy(bytes, 7);
    XPLMSetDatab(XPLMFindDataRef(name), bytes, slot * 8, 8);
}

TEST_F(Instancing, TcasTargetsNeedThePlanesAndTheOverrideAndGoWhenSilent) {
    XPLMDataRef override = XPLMFindDataRef("sim/operation/override/override_TCAS");
    XPLMDataRef ids = XPLMFindDataRef("sim/cockpit2/tcas/targets/modeS_id");
    XPLMDataRef x = XPLMFindDataRef("sim/cockpit2/tcas/position/x");
    ASSERT_NE(override, nullptr);
    EXPECT_EQ(XPLMGetDatavi(ids, nullptr, 0, 0), 64);
    EXPECT_EQ(XPLMGetDatab(XPLMFindDataRef("sim/cockpit2/tcas/targets/flight_id"), nullptr, 0, 0), 512);

    XPLMSetDatai(override, 1);  // without the aircraft: refused
    EXPECT_EQ(XPLMGetDatai(override), 0);
    ASSERT_EQ(XPLMAcquirePlanes(nullptr, nullptr, nullptr), 1);
    int id = 0xABC123;
    XPLMSetDatavi(ids, &id, 5, 1);  // before the override: refused
    float east = 500;
    XPLMSetDatavf(x, &east, 5, 1);
    EXPECT_EQ(XPLMGetDatai(XPLMFindDataRef("sim/cockpit2/tcas/indicators/tcas_num_acf")), 0);
    XPLMSetDatai(override, 1);
    ASSERT_EQ(XPLMGetDatai(override), 1);

    auto writeSlot = [&](int slot) {
        int value = id + slot;
        XPLMSetDatavi(ids, &value, slot, 1);
        XPLMSetDatavf(x, &east, slot, 1);
        SetTcasText("sim/cockpit2/tcas/targets/flight_id", slot, "SKV" + std::to_string(slot) + "LONGER");
        SetTcasText("sim/cockpit2/tcas/targets/icao_type", slot, "B738");
    };
    writeSlot(5);
    writeSlot(9);
    host.RunFrame();
    simhost::TcasInfo tcas = host.Tcas();
    ASSERT_EQ(tcas.targets.size(), 2u);
    EXPECT_TRUE(tcas.overridden);
    EXPECT_EQ(tcas.targets[0].index, 5);
    EXPECT_EQ(tcas.targets[0].modeS, id + 5);
    EXPECT_EQ(tcas.targets[0].flightId, "SKV5LON") << "seven characters and the NUL";
    EXPECT_EQ(tcas.targets[0].icaoType, "B738");
    EXPECT_GT(tcas.targets[0].longitude, host.OriginLongitude()) << "500 m east of the origin";
    EXPECT_EQ(XPLMGetDatai(XPLMFindDataRef("sim/cockpit2/tcas/indicators/tcas_num_acf")), 2);

    // Slot 9 goes silent: after ten frames X-Plane drops it and zeroes its ID; slot 5 stays.
    for (int frame = 0; frame < 10; ++frame) {
        writeSlot(5);
        host.RunFrame();
    }
    tcas = host.Tcas();
    ASSERT_EQ(tcas.targets.size(), 1u);
    EXPECT_EQ(tcas.targets[0].index, 5);
    int slot9 = -1;
    XPLMGetDatavi(ids, &slot9, 9, 1);
    EXPECT_EQ(slot9, 0);

    // Letting the aircraft go ends the override, and with it every target.
    XPLMReleasePlanes();
    EXPECT_EQ(XPLMGetDatai(override), 0);
    EXPECT_TRUE(host.Tcas().targets.empty());
    EXPECT_GE(host.Planes().refusedCount, 3);
}

TEST_F(Instancing, ProbesFindTheHillsBelowAndRefuseBadCalls) {
    XPLMProbeRef probe = XPLMCreateProbe(xplm_ProbeY);
    ASSERT_NE(probe, nullptr);
    XPLMProbeInfo_t info = {};
    EXPECT_EQ(XPLMProbeTerrainXYZ(probe, 0, 0, 0, &info), xplm_ProbeError) << "structSize not set";
    info.structSize = sizeof info;
    ASSERT_EQ(XPLMProbeTerrainXYZ(probe, 0, 500, 0, &info), xplm_ProbeHitTerrain);
    EXPECT_NEAR(info.locationY, 0, 0.01) << "flat ground is at sea level at the origin";
    EXPECT_NEAR(info.normalY, 1, 1e-4);

    host.SetTerrain(simhost::Terrain::Hills);
    double lowest = 1e9, highest = -1e9;
    for (int i = 0; i < 40; ++i) {
        const float px = 250.0f * i - 5000, pz = 180.0f * i - 3000;
        ASSERT_EQ(XPLMProbeTerrainXYZ(probe, px, 2000, pz, &info), xplm_ProbeHitTerrain);
        double lat, lon, alt;
        XPLMLocalToWorld(info.locationX, info.locationY, info.locationZ, &lat, &lon, &alt);
        EXPECT_NEAR(alt, host.TerrainElevation(lat, lon), 0.05) << "the ground point is on the terrain";
        EXPECT_EQ(info.locationX, px) << "straight down the Y axis";
        EXPECT_GT(info.normalY, 0.9) << "gentle slopes, normal up";
        lowest = std::min(lowest, alt);
        highest = std::max(highest, alt);
    }
    EXPECT_GT(highest - lowest, 30) << "hills, not a plain";
    EXPECT_EQ(XPLMProbeTerrainXYZ(probe, 500000, 0, 0, &info), xplm_ProbeMissed) << "beyond the loaded scenery";
    XPLMDestroyProbe(probe);
    EXPECT_EQ(XPLMProbeTerrainXYZ(probe, 0, 0, 0, &info), xplm_ProbeError) << "a destroyed probe";
    EXPECT_EQ(host.ProbeCalls(), 44);
    EXPECT_EQ(host.MostProbesInFrame(), 44);
}

}  // namespace
