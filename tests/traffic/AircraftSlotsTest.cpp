// Traffic slot records: which host data references each slot is bound to and what goes through them.
#include <gtest/gtest.h>

#include "core/SkorvaleSE.h"
#include "net/StreamPhase.h"
#include "simhost/Host.h"
#include "tests/net/PacketProcessSession.h"
#include "traffic/AircraftUtils.h"
#include "traffic/PlaneAccess.h"
#include "traffic/SmoothTraffic.h"
#include "traffic/TrafficSlots.h"

#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

namespace {

class AircraftSlots : public ::testing::Test {
protected:
    void SetUp() override {
        host.Reset();
        for (int i = 0; i < kSlotCount; i++) AircraftList[i].set(i);
    }

    // Fills a record with values that are distinct per member.
    static void Fill(Aircraft &record) {
        float *floats[] = {&record.x,        &record.y,          &record.z,    &record.lat,       &record.lon,
                           &record.el,       &record.theta,      &record.phi,  &record.psi,       &record.flap,
                           &record.flap2,    &record.speedbrake, &record.slat, &record.wingsweep, &record.yokePitch,
                           &record.yokeRoll, &record.yokeYaw};
        for (int i = 0; i < 17; i++) *floats[i] = 1.5f + (float)i;
        for (int i = 0; i < 10; i++) record.gear[i] = 0.05f * (float)(i + 1);
        for (int i = 0; i < 8; i++) record.throttle[i] = 0.1f * (float)(i + 1);
        record.beacon = 1;
        record.landing = 2;
        record.strobe = 3;
        record.nav = 4;
        record.taxi = 5;
    }

    double Ref(const std::string &name, int index = 0) { return host.GetDataRef(name, index); }

    simhost::Host &host = simhost::TheHost();
};

}  // namespace

TEST_F(AircraftSlots, TablesStartWithNumberedModelNamesAndEmptyTexts) {
    for (int i = 0; i < kSlotCount; i++) {
        EXPECT_EQ(Planes[i], "Plane " + std::to_string(i));
        EXPECT_EQ(Callsigns[i], "");
        EXPECT_EQ(CrewIDs[i], "");
        EXPECT_EQ(AircraftList[i].planeIndex, i);
    }
}

TEST_F(AircraftSlots, TrafficSlotWritesItsOwnMultiplayerReferences) {
    for (int slot : {1, 7, 19}) {
        SCOPED_TRACE(slot);
        host.Reset();
        std::string p = "sim/multiplayer/position/plane" + std::to_string(slot) + "_";
        host.SetDataRef(p + "spoiler_ratio", 0.9);
        host.SetDataRef(p + "gear_deploy", 0.77, 9);
        host.SetDataRef(p + "throttle", 0.66, 8);
        Aircraft &record = AircraftList[slot];
        Fill(record);
        // While another plug-in holds the multiplayer aircraft, nothing of them is written.
        planesAcquired = 0;
        record.SetAircraftData();
        EXPECT_EQ(Ref(p + "x"), 0.0);
        EXPECT_EQ(Ref(p + "beacon_lights_on"), 0.0);
        planesAcquired = 1;
        record.SetAircraftData();

        // The host derives lat, lon and el from the local position (read-only there, as in X-Plane 12).
        const char *names[] = {
            "x", "y",          "z", "", "", "", "the", "phi", "psi", "flap_ratio", "flap_ratio2", "speedbrake_ratio",
            "",  "wing_sweep", "",  "", ""};
        for (int i = 0; i < 17; i++) {
            if (names[i][0] == '\0') continue;
            EXPECT_FLOAT_EQ(Ref(p + names[i]), 1.5f + (float)i) << names[i];
        }
        // The yokes go through X-Plane 12's arrays, element N for aircraft N.
        EXPECT_FLOAT_EQ(Ref("sim/multiplayer/controls/yoke_pitch_ratio", slot), 15.5f);
        EXPECT_FLOAT_EQ(Ref("sim/multiplayer/controls/yoke_roll_ratio", slot), 16.5f);
        EXPECT_FLOAT_EQ(Ref("sim/multiplayer/controls/yoke_heading_ratio", slot), 17.5f);
        // The slat reference carries X-Plane's spelling for the slot: "slat" for plane 1, "sla1" after.
        EXPECT_FLOAT_EQ(Ref(p + (slot == 1 ? "slat_ratio" : "sla1_ratio")), 13.5f);
        EXPECT_EQ(Ref(p + "spoiler_ratio"), 0.0);
        for (int i = 0; i < 9; i++) EXPECT_FLOAT_EQ(Ref(p + "gear_deploy", i), 0.05f * (float)(i + 1));
        EXPECT_FLOAT_EQ(Ref(p + "gear_deploy", 9), 0.77f);
        for (int i = 0; i < 8; i++) EXPECT_FLOAT_EQ(Ref(p + "throttle", i), 0.1f * (float)(i + 1));
        EXPECT_FLOAT_EQ(Ref(p + "throttle", 8), 0.66f);
        EXPECT_EQ(Ref(p + "beacon_lights_on"), 1);
        EXPECT_EQ(Ref(p + "landing_lights_on"), 2);
        EXPECT_EQ(Ref(p + "strobe_lights_on"), 3);
        EXPECT_EQ(Ref(p + "nav_lights_on"), 4);
        EXPECT_EQ(Ref(p + "taxi_light_on"), 5);
        // No other slot and not the user's aircraft.
        int other = slot == 1 ? 2 : slot - 1;
        EXPECT_EQ(Ref("sim/multiplayer/position/plane" + std::to_string(other) + "_x"), 0.0);
        EXPECT_EQ(Ref("sim/flightmodel2/controls/pitch_ratio"), 0.0);
        EXPECT_EQ(Ref("sim/cockpit2/controls/flap_ratio"), 0.0);
    }
}

TEST_F(AircraftSlots, UserAircraftSlotWritesFlightModelControls) {
    host.SetDataRef("sim/flightmodel/engine/ENGN_thro", 0.5, 8);
    Aircraft &own = AircraftList[0];
    Fill(own);
    own.SetAircraftData();

    EXPECT_FLOAT_EQ(Ref("sim/flightmodel/position/local_x"), 1.5f);
    EXPECT_FLOAT_EQ(Ref("sim/flightmodel/position/local_z"), 3.5f);
    EXPECT_FLOAT_EQ(Ref("sim/flightmodel/position/psi"), 9.5f);
    EXPECT_FLOAT_EQ(Ref("sim/flightmodel/controls/slatrat"), 13.5f);
    EXPECT_FLOAT_EQ(Ref("sim/joystick/yolk_heading_ratio"), 17.5f);
    EXPECT_FLOAT_EQ(Ref("sim/flightmodel2/controls/pitch_ratio"), 15.5f);
    EXPECT_FLOAT_EQ(Ref("sim/flightmodel2/controls/roll_ratio"), 16.5f);
    EXPECT_FLOAT_EQ(Ref("sim/flightmodel2/controls/heading_ratio"), 17.5f);
    EXPECT_FLOAT_EQ(Ref("sim/cockpit2/controls/flap_ratio"), 10.5f);
    for (int i = 0; i < 8; i++) {
        EXPECT_FLOAT_EQ(Ref("sim/flightmodel/engine/ENGN_thro", i), 0.1f * (float)(i + 1));
        EXPECT_FLOAT_EQ(Ref("sim/flightmodel/engine/ENGN_thro_use", i), 0.1f * (float)(i + 1));
    }
    EXPECT_FLOAT_EQ(Ref("sim/flightmodel/engine/ENGN_thro", 8), 0.5f);
    EXPECT_EQ(Ref("sim/cockpit/electrical/nav_lights_on"), 4);
    // And no traffic slot moved.
    EXPECT_EQ(Ref("sim/multiplayer/position/plane1_x"), 0.0);
}

TEST_F(AircraftSlots, ReadingBackTakesPositionGearThrottleAndLightsOnly) {
    std::string p = "sim/multiplayer/position/plane3_";
    host.SetDataRef(p + "x", 11.0);
    host.SetDataRef(p + "lat", 47.5);
    host.SetDataRef(p + "psi", 45.0);
    host.SetDataRef(p + "gear_deploy", 0.25, 8);
    host.SetDataRef(p + "gear_deploy", 0.75, 9);
    host.SetDataRef(p + "throttle", 0.5, 7);
    host.SetDataRef(p + "strobe_lights_on", 1);
    host.SetDataRef(p + "flap_ratio", 0.4);
    Aircraft &record = AircraftList[3];
    record.gear[9] = 0.125f;
    record.flap = 0.9f;
    record.GetAircraftData();
    EXPECT_EQ(record.x, 11.0f);
    EXPECT_EQ(record.lat, 47.5f);
    EXPECT_EQ(record.psi, 45.0f);
    EXPECT_EQ(record.gear[8], 0.25f);
    EXPECT_EQ(record.gear[9], 0.125f);
    EXPECT_EQ(record.throttle[7], 0.5f);
    EXPECT_EQ(record.strobe, 1);
    EXPECT_EQ(record.flap, 0.9f);
}

TEST_F(AircraftSlots, SingleElementWritesByName) {
    SetAircraftRefF(2, "sim/flightmodel/engine/ENGN_thro", 0.625f);
    SetAircraftRefI(0, "sim/operation/override/override_planepath", 1);
    SetAircraftRefF(0, "no/such/ref", 1.0f);  // unknown names are ignored
    EXPECT_EQ(Ref("sim/flightmodel/engine/ENGN_thro", 2), 0.625);
    EXPECT_EQ(Ref("sim/flightmodel/engine/ENGN_thro", 1), 0.0);
    EXPECT_TRUE(host.PlanePathOverridden());
}

TEST(AircraftSlotsUnbound, RecordWithoutHandlesWritesNothing) {
    simhost::TheHost().Reset();
    double before = simhost::TheHost().GetDataRef("sim/flightmodel/position/local_x");
    Aircraft record;
    record.x = 5.0f;
    record.SetAircraftData();
    record.GetAircraftData();
    EXPECT_EQ(record.x, 5.0f);
    EXPECT_EQ(simhost::TheHost().GetDataRef("sim/flightmodel/position/local_x"), before);
}

namespace {

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The two clock fields as a sender writes them: whole seconds as a float, then microseconds.
std::string ClockFields(double when) {
    long long seconds = (long long)when;
    char text[64];
    std::snprintf(text, sizeof text, "%.9g|%ld", (double)(float)seconds, (long)((when - (double)seconds) * 1e6));
    return text;
}

}  // namespace

TEST(SmoothTraffic, SenderTimeTakesTheWholeSecondTheArrivalsPointTo) {
    double now = 1765093380.25;  // a float holds this only to a multiple of 128
    double combined = 0;
    ASSERT_TRUE(CombineSenderTime(ClockFields(now - 0.004), now, {}, &combined));
    EXPECT_NEAR(combined, now - 0.004, 1e-6);
    // Later samples follow the earlier one across whole seconds, whatever the arrival jitter.
    SenderClock previous{true, combined, now};
    ASSERT_TRUE(CombineSenderTime(ClockFields(now + 0.996), now + 1.05, previous, &combined));
    EXPECT_NEAR(combined, now + 0.996, 1e-6);
    // A sender whose clock is far from ours still gets one timeline, from its own float.
    ASSERT_TRUE(CombineSenderTime(ClockFields(now - 3600.5), now, {}, &combined));
    EXPECT_NEAR(std::fmod(combined, 1.0), 0.75, 1e-6);
    EXPECT_LE(std::fabs(combined - (now - 3600.5)), 128.0);
    for (const char *bad : {"", "1.76509338e+09", "0|5", "1.76509338e+09|1000000", "1.76509338e+09|-1", "x|y", "inf|3"})
        EXPECT_FALSE(CombineSenderTime(bad, now, {}, &combined)) << bad;
}

TEST_F(AircraftSlots, SmoothedSlotGlidesNeverGoesBackAndSnapsOnAJump) {
    planesAcquired = 1;
    smoothTraffic = 1;
    ResetSmoothTraffic();
    Aircraft &record = AircraftList[3];
    auto feed = [&](double when, float x, float psi) {
        record.x = x;
        record.psi = psi;
        TakeTrafficSample(record, ClockFields(when));
    };
    double start = WallSeconds();
    std::vector<double> drawn;
    for (int k = 0; k < 40; k++) {
        double when = start + k / 60.0;
        // Every fifth sample comes a frame late, after the next one: out of order.
        if (k % 5 == 4) {
            feed(when + 1 / 60.0, 100.0f + (float)(k + 1), 359.0f + (float)(k + 1) * 0.1f);
            feed(when, 100.0f + (float)k, 359.0f + (float)k * 0.1f);
            k++;
        } else {
            feed(when, 100.0f + (float)k, 359.0f + (float)k * 0.1f);
        }
        std::this_thread::sleep_until(
            std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::duration<double>(when + 1 / 60.0))));
        SmoothTrafficFrame(1 / 60.0f);
        drawn.push_back(Ref("sim/multiplayer/position/plane3_x"));
        double heading = Ref("sim/multiplayer/position/plane3_psi");
        EXPECT_TRUE(heading >= 0 && heading < 360) << heading;
    }
    for (size_t i = 1; i < drawn.size(); i++) EXPECT_GE(drawn[i], drawn[i - 1]) << i;
    EXPECT_GT(drawn.back(), 120.0);  // it moved, a little behind the newest sample
    EXPECT_LT(drawn.back(), 140.0);

    // Silence: at most half a second of extrapolation at 60 m/s, then it holds.
    for (int k = 0; k < 60; k++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
        SmoothTrafficFrame(0.016f);
    }
    double held = Ref("sim/multiplayer/position/plane3_x");
    EXPECT_LT(held, 139.0 + 60 * 0.5 + 1);
    SmoothTrafficFrame(0.016f);
    EXPECT_EQ(Ref("sim/multiplayer/position/plane3_x"), held);

    // A teleport 50 km away is drawn at once, not flown to.
    feed(WallSeconds(), 50000.0f, 10.0f);
    SmoothTrafficFrame(0.016f);
    EXPECT_EQ(Ref("sim/multiplayer/position/plane3_x"), 50000.0);

    // An aircraft with a far-future clock leaves the slot; the next one, on a sane clock, is drawn at once.
    record.x = 1.0f;
    TakeTrafficSample(record, "3e+38|0");
    SmoothTrafficFrame(0.016f);
    feed(WallSeconds(), 50100.0f, 10.0f);
    SmoothTrafficFrame(0.016f);
    EXPECT_EQ(Ref("sim/multiplayer/position/plane3_x"), 50100.0);

    // Another aircraft named in the slot, whose clock is two seconds behind the last one's: drawn at once,
    // not dropped as late. So is one that comes after the slot was let go.
    double now = WallSeconds();
    feed(now, 50200.0f, 10.0f);
    SmoothTrafficFrame(0.016f);
    HandleStreamMessage(3, 'c', "Other");
    feed(now - 2.0, 50150.0f, 10.0f);
    SmoothTrafficFrame(0.016f);
    EXPECT_EQ(Ref("sim/multiplayer/position/plane3_x"), 50150.0);
    HandleStreamMessage(3, 'c', "BLANK");
    feed(now - 3.0, 50120.0f, 10.0f);
    SmoothTrafficFrame(0.016f);
    EXPECT_EQ(Ref("sim/multiplayer/position/plane3_x"), 50120.0);

    // Off: the slots are forgotten and nothing more is written.
    smoothTraffic = 0;
    SmoothTrafficFrame(0.016f);
    host.SetDataRef("sim/multiplayer/position/plane3_x", 7.0);
    SmoothTrafficFrame(0.016f);
    EXPECT_EQ(Ref("sim/multiplayer/position/plane3_x"), 7.0);
}

namespace {

using inboundtest::Session;

// A peer's location `northKm` and `eastKm` from the user's aircraft at 47.45, -122.31, 100 m: world
// fields only (the local ones lie far off, so the plug-in converts the world position).
std::string PeerAt(int slot, double northKm, double eastKm) {
    double lat = 47.45 + northKm / 111.195;
    double lon = -122.31 + eastKm / (111.195 * std::cos(47.45 * M_PI / 180));
    char text[512];
    std::snprintf(
        text, sizeof text,
        "%d|l|1e7|0|1e7|%.9f|%.9f|100|0|0|0|0|0|0|0|0|0.1|-0.2|0.3|1|1|1|0|0|0|0|0|0|0|1|0|1|1|0|0|0|0|0|0|0|0|"
        "0|1.76509338e+09|123456",
        slot, lat, lon);
    return text;
}

// What the pilot sees of multiplayer aircraft n: nothing when X-Plane does not draw it, else its
// distance from the user's aircraft in kilometres.
double SeenKm(const simhost::Host &host, int n) {
    if (!host.Planes().Drawn(n)) return -1;
    std::string p = "sim/multiplayer/position/plane" + std::to_string(n) + "_";
    const std::string own = "sim/flightmodel/position/local_";
    double dx = host.GetDataRef(p + "x") - host.GetDataRef(own + "x");
    double dy = host.GetDataRef(p + "y") - host.GetDataRef(own + "y");
    double dz = host.GetDataRef(p + "z") - host.GetDataRef(own + "z");
    return std::sqrt(dx * dx + dy * dy + dz * dz) / 1000;
}

// Every aircraft X-Plane draws within sight (900 km) carries a peer: none is left where a pilot was.
void ExpectNoGhosts(const simhost::Host &host) {
    for (int n = 1; n <= 19; n++) {
        double km = SeenKm(host, n);
        if (km < 0 || km > 900) continue;
        bool carried = false;
        for (int slot = 1; slot < kSlotCount; slot++) carried = carried || AircraftOfSlot(slot) == n;
        EXPECT_TRUE(carried) << "aircraft " << n << " is drawn " << km << " km away with no peer in it";
    }
}

void ExpectNearestShownWithoutGhosts(simhost::XPlaneVersion version) {
    Session session(false);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    simhost::Host &host = session.host;
    host.SetXPlaneVersion(version);
    host.SetAIAircraftCount(5);
    // Bound again as in this simulator, which the plug-in's start did not know yet.
    for (int i = 0; i < kSlotCount; i++) AircraftList[i].set(i);
    ResetTrafficSlots();
    session.Connect();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    ASSERT_TRUE(host.Planes().acquired);
    EXPECT_EQ(host.Planes().activeCount, 1) << "no peer yet: nothing but the user's aircraft";

    // Twelve peers, slot 12 nearest (2 km) and slot 1 farthest (24 km): the first five to arrive get
    // the five aircraft shown, the choice then puts the five nearest there.
    auto place = [&](int slot, double km) { session.SendDatagrams({PeerAt(slot, km, 0)}); };
    std::vector<std::string> peers;
    for (int slot = 1; slot <= 12; slot++) peers.push_back(PeerAt(slot, 2.0 * (13 - slot), 0));
    session.SendDatagrams(peers);
    host.RunFor(3.5);
    ASSERT_EQ(inboundtest::Readable(sockfd), 0);
    for (int slot = 8; slot <= 12; slot++) EXPECT_NE(AircraftOfSlot(slot), 0) << slot;
    for (int slot = 1; slot <= 7; slot++) EXPECT_EQ(SlotState(slot), SlotShown::BeyondAircraft) << slot;
    simhost::PlanesInfo planes = host.Planes();
    EXPECT_EQ(planes.activeCount, 6);
    for (int n = 1; n <= 5; n++) EXPECT_LE(SeenKm(host, n), 10.5) << n;
    for (int n = 6; n <= 19; n++) EXPECT_FALSE(planes.Drawn(n)) << n;
    ExpectNoGhosts(host);

    // The plane list keeps the relay's numbers and says who is not drawn and why.
    ASSERT_TRUE(host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}));
    host.RunFrame();
    std::vector<std::string> rows = host.LastFrame().TextsIn(host.Windows()[0].id);
    ASSERT_EQ(rows.size(), 21u);
    rows.erase(rows.begin());  // the status line
    EXPECT_EQ(rows[1], "1:  Plane 1 (over AI count)");
    EXPECT_EQ(rows[12], "12:  Plane 12");
    EXPECT_EQ(rows[13], "13:  Plane 13");

    // Slot 7 comes a little nearer than the farthest shown peer (slot 8, 10 km): not clearly nearer, so
    // nothing changes however long it stays. Then it comes within 1 km and takes slot 8's aircraft.
    int aircraftOf8 = AircraftOfSlot(8);
    place(7, 9.0);
    host.RunFor(10);
    EXPECT_EQ(AircraftOfSlot(7), 0);
    EXPECT_EQ(AircraftOfSlot(8), aircraftOf8);
    place(7, 1.0);
    host.RunFor(3.5);
    EXPECT_EQ(AircraftOfSlot(7), aircraftOf8);
    EXPECT_EQ(AircraftOfSlot(8), 0);
    EXPECT_NEAR(SeenKm(host, aircraftOf8), 1.0, 0.05);
    ExpectNoGhosts(host);

    // Pilots leave: each aircraft they left is parked out of sight, beyond the active count or given to
    // the nearest hidden peer. Once all fit, slot N is aircraft N again.
    auto leave = [&](std::initializer_list<int> slots) {
        for (int slot : slots) session.SendStream(std::to_string(slot) + "|p|BLANK\n");
        for (int i = 0; i < 20; i++) host.RunFor(0.05);
        ExpectNoGhosts(host);
    };
    leave({12, 11, 10, 9, 7, 6, 5});
    host.RunFor(3.5);
    for (int slot = 1; slot <= 4; slot++) EXPECT_EQ(AircraftOfSlot(slot), slot);
    EXPECT_EQ(AircraftOfSlot(8), 5);
    EXPECT_EQ(host.Planes().activeCount, 6);
    leave({4, 3, 2});
    for (int n = 2; n <= 4; n++) EXPECT_GT(SeenKm(host, n), 900) << n;
    leave({8});
    EXPECT_EQ(host.Planes().activeCount, 2);
    EXPECT_NEAR(SeenKm(host, 1), 24.0, 0.5);

    // Offline, the aircraft go back to X-Plane's AI with the pilot's own count.
    DisconnectFromServer();
    planes = host.Planes();
    EXPECT_FALSE(planes.acquired);
    EXPECT_EQ(planes.activeCount, 6);
    for (int n = 1; n <= 5; n++) EXPECT_TRUE(planes.AIFlies(n)) << n;

    // Nothing of this was written to a reference X-Plane keeps read-only, and X-Plane 12 logged no
    // replaced name.
    EXPECT_EQ(host.ReadOnlyWriteCount(), 0) << (host.ReadOnlyWrites().empty() ? "" : host.ReadOnlyWrites()[0]);
    for (const std::string &line : host.DebugLog())
        EXPECT_EQ(line.find("has been replaced"), std::string::npos) << line;
}

}  // namespace

TEST(TrafficSlots, NearestPilotsShownAndNoGhostsInXPlane12) {
    ExpectNearestShownWithoutGhosts(simhost::XPlaneVersion::XPlane12);
}
TEST(TrafficSlots, NearestPilotsShownAndNoGhostsInXPlane11) {
    ExpectNearestShownWithoutGhosts(simhost::XPlaneVersion::XPlane11);
}

TEST(TrafficSlots, YokesGoThroughTheControlArraysWhereTheSimulatorHasThem) {
    for (simhost::XPlaneVersion version : {simhost::XPlaneVersion::XPlane12, simhost::XPlaneVersion::XPlane11}) {
        SCOPED_TRACE(static_cast<int>(version));
        Session session(false);
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        session.host.SetXPlaneVersion(version);
        for (int i = 0; i < kSlotCount; i++) AircraftList[i].set(i);
        ResetTrafficSlots();
        session.Connect();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        session.SendDatagrams({PeerAt(4, 1, 1)});
        inboundtest::ProcessPackets();
        int n = AircraftOfSlot(4);
        ASSERT_EQ(n, 4);
        bool arrays = version == simhost::XPlaneVersion::XPlane12;
        EXPECT_FLOAT_EQ(session.Ref("sim/multiplayer/controls/yoke_pitch_ratio", n), arrays ? 0.1f : 0.0f);
        EXPECT_FLOAT_EQ(session.Ref("sim/multiplayer/controls/yoke_roll_ratio", n), arrays ? -0.2f : 0.0f);
        EXPECT_FLOAT_EQ(session.Ref("sim/multiplayer/controls/yoke_heading_ratio", n), arrays ? 0.3f : 0.0f);
        EXPECT_FLOAT_EQ(session.Slot(n, "yolk_pitch"), arrays ? 0.0f : 0.1f);
        EXPECT_FLOAT_EQ(session.Slot(n, "yolk_yaw"), arrays ? 0.0f : 0.3f);
        EXPECT_EQ(session.host.ReadOnlyWriteCount(), 0);
    }
}
