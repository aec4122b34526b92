// Instanced traffic through the host: every peer an instance of a fitting model, on TCAS, labelled, on the ground.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <set>
#include <string>

#include "core/ConnectionStatus.h"
#include "core/SkorvaleSE.h"
#include "tests/net/PacketProcessSession.h"
#include "tests/support/Paths.h"
#include "traffic/AircraftUtils.h"
#include "traffic/InstancedTraffic.h"
#include "traffic/TrafficModels.h"

namespace {

using inboundtest::Location;
using inboundtest::Session;

// Peers east of the user (who heads east): slot 1 parked on the runway 300 m ahead with its gear down,
// slot 3 15 km out (beyond the labels' 10 km), slot 4 2 km behind, the rest 1 to 9 km ahead, flying.
struct Peer {
    int slot;
    double ahead, north, height;
    bool onGround;
};

Location LocationOf(Session &s, const Peer &p, double groundY) {
    const double ux = s.Ref("sim/flightmodel/position/local_x"), uz = s.Ref("sim/flightmodel/position/local_z");
    const double x = ux + p.ahead, z = uz - p.north;
    // On the ground, the peer's own scenery is 12 m higher than ours: we put it on ours.
    const double y = p.onGround ? groundY + TrafficModelInfo(kNarrowBody).wheelHeight + 12 : p.height;
    double lat, lon, el;
    XPLMLocalToWorld(x, y, z, &lat, &lon, &el);
    Location l;
    l.slot = p.slot;
    auto number = [](double v) {
        char text[64];
        std::snprintf(text, sizeof text, "%.9g", v);
        return std::string(text);
    };
    l.fields[0] = number(x);
    l.fields[1] = number(y);
    l.fields[2] = number(z);
    l.fields[3] = number(lat);
    l.fields[4] = number(lon);
    l.fields[5] = number(el);
    l.fields[8] = "90";
    for (int i = 17; i < 27; ++i) l.fields[i] = p.onGround ? "1" : "0";
    return l;
}

// Whether the plug-in sent `text` on its stream to the server within two seconds.
bool Sent(Session &session, const std::string &text, size_t connection = 0) {
    for (int i = 0; i < 200; ++i) {
        if (session.server->StreamBytes(connection).find(text) != std::string::npos) return true;
        usleep(10000);
    }
    return false;
}

// The zip's layout: the models beside the plug-in, under X-Plane's folder.
bool PutModelsBesideThePlugin(const testsupport::ScratchDir &dir) {
    return dir.Ok() && mkdir(dir.Path("Resources/plugins/Skorvale").c_str(), 0700) == 0 &&
           symlink(testsupport::ModelsDir(), dir.Path("Resources/plugins/Skorvale/models").c_str()) == 0;
}

std::vector<std::string> LabelsDrawn(const simhost::Host &host) {
    std::vector<std::string> out;
    for (const simhost::DrawnString &s : host.LastFrame().strings)
        if (s.window == nullptr) out.push_back(s.text);
    return out;
}

void PeersAreInstancesOnTcasWithLabelsAndWheelsOnTheHills(simhost::XPlaneVersion version) {
    testsupport::ScratchDir dir;
    ASSERT_TRUE(PutModelsBesideThePlugin(dir));
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    simhost::Host &host = session.host;
    host.SetXPlaneVersion(version);
    host.SetAIAircraftCount(0);  // the pilot never set AI traffic up
    host.SetTerrain(simhost::Terrain::Hills);
    trafficModels = 1;

    std::vector<Peer> peers = {{1, 300, 0, 0, true}, {3, 15000, 0, 900, false}, {4, -2000, 0, 900, false}};
    // 30 peers: more than the simulator's 19 multiplayer aircraft, in slots the relay hands out only to a
    // plug-in that asks for them.
    for (int slot = 2; slot <= 30; ++slot)
        if (slot != 3 && slot != 4) peers.push_back({slot, 500.0 * slot, slot % 2 ? 150.0 : -150.0, 200, false});
    XPLMProbeRef probe = XPLMCreateProbe(xplm_ProbeY);
    XPLMProbeInfo_t ground{};
    ground.structSize = sizeof ground;
    ASSERT_EQ(XPLMProbeTerrainXYZ(probe, static_cast<float>(session.Ref("sim/flightmodel/position/local_x") + 300), 0,
                                  static_cast<float>(session.Ref("sim/flightmodel/position/local_z")), &ground),
              xplm_ProbeHitTerrain);
    XPLMDestroyProbe(probe);

    std::string stream;
    for (const Peer &p : peers) {
        const std::string model = p.slot == 1 ? "C:\\X-Plane 12\\Aircraft\\Laminar Research\\Boeing 737-800\\b738.acf"
                                              : "/home/someone/X-Plane 12/Aircraft/Home Built/thing.acf";
        stream += std::to_string(p.slot) + "|c|CALLSIGN" + std::to_string(p.slot) + "====\n";
        stream += std::to_string(p.slot) + "|p|" + model + "====\n";
    }
    session.SendStream(stream);
    // Locations keep coming, as they do from flying peers; the host runs the plug-in's own loops.
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> texts;
        for (const Peer &p : peers) texts.push_back(LocationOf(session, p, ground.locationY).Text());
        session.SendDatagrams(texts);
        host.RunFrames(3);
    }

    // The plug-in asked the relay for every TCAS target's slot.
    EXPECT_TRUE(Sent(session, "12345|SLOTS|63|\n"));

    // Every peer is an instance, whatever the AI count; the multiplayer aircraft draw nothing, load nothing.
    std::vector<simhost::InstanceInfo> instances = host.Instances();
    ASSERT_EQ(instances.size(), peers.size());
    EXPECT_EQ(host.Planes().modelLoads, 0);
    EXPECT_EQ(host.Planes().activeCount, 1);
    simhost::InstancingInfo instancing = host.Instancing();
    EXPECT_EQ(instancing.refusedCount, 0) << (instancing.refused.empty() ? "" : instancing.refused[0].call);
    EXPECT_TRUE(instancing.loadProblems.empty()) << instancing.loadProblems.at(0);
    EXPECT_EQ(instancing.objectLoads, 2) << "one load per model used, the airliner and the default";

    // On TCAS: one target per peer, unique Mode S IDs, callsigns cut to 7 characters, the type where known,
    // ground mode for the parked one.
    simhost::TcasInfo tcas = host.Tcas();
    EXPECT_TRUE(tcas.overridden);
    ASSERT_EQ(tcas.targets.size(), peers.size());
    std::set<int> ids;
    for (const simhost::TcasTarget &t : tcas.targets) {
        ids.insert(t.modeS);
        EXPECT_GT(t.modeS, 0);
        EXPECT_LE(t.modeS, 0xFFFFFF);
        EXPECT_EQ(t.flightId, ("CALLSIGN" + std::to_string(t.index)).substr(0, 7));
        EXPECT_EQ(t.ssrMode, t.index == 1 ? 5 : 3) << t.index;
        EXPECT_EQ(t.icaoType, t.index == 1 ? "B738" : "") << t.index;
    }
    EXPECT_EQ(ids.size(), peers.size());

    // The parked airliner stands on our hills: its wheels within half a metre of the ground.
    for (const simhost::InstanceInfo &i : instances) {
        if (i.object != "Resources/plugins/Skorvale/models/narrow_body.obj") continue;
        const double wheels = i.elevation - TrafficModelInfo(kNarrowBody).wheelHeight;
        EXPECT_NEAR(wheels, host.TerrainElevation(i.latitude, i.longitude), 0.5);
    }
    EXPECT_LE(host.MostProbesInFrame(), 2) << "probes spread over frames";

    // Labels: within 10 km and in front only.
    std::vector<std::string> labels = LabelsDrawn(host);
    auto labelled = [&](int slot) {
        for (const std::string &l : labels)
            if (l == "CALLSIGN" + std::to_string(slot)) return true;
        return false;
    };
    EXPECT_TRUE(labelled(1));
    EXPECT_TRUE(labelled(2));
    EXPECT_TRUE(labelled(18));
    EXPECT_FALSE(labelled(3)) << "15 km away";
    EXPECT_FALSE(labelled(4)) << "behind the view";
    host.RunCommand("skorvale/toggle_labels");
    host.RunFrame();
    EXPECT_TRUE(LabelsDrawn(host).empty());

    // A peer leaving goes from the scene and from TCAS at once.
    session.SendStream("5|p|BLANK====\n");
    host.RunFrames(2);
    EXPECT_EQ(host.Instances().size(), peers.size() - 1);
    for (const simhost::TcasTarget &t : host.Tcas().targets) EXPECT_NE(t.index, 5);

    // 200 pilots online, and a relay (or anyone) naming slots past 63: 63 instances and targets, no more.
    std::vector<Peer> crowd;
    for (int slot = 1; slot <= 200; ++slot) crowd.push_back({slot, 100.0 * slot, 300, 400, false});
    std::string names;
    for (int slot = 1; slot <= 200; ++slot) names += std::to_string(slot) + "|c|C" + std::to_string(slot) + "====\n";
    session.SendStream(names);
    for (int round = 0; round < 10; ++round) {
        // In two batches, so the socket's buffer holds each whole.
        for (std::size_t from : {std::size_t{0}, std::size_t{100}}) {
            std::vector<std::string> texts;
            for (std::size_t k = from; k < from + 100; ++k) texts.push_back(LocationOf(session, crowd[k], 0).Text());
            session.SendDatagrams(texts);
            host.RunFrames(2);
        }
    }
    EXPECT_EQ(host.Instances().size(), 63u);
    simhost::TcasInfo full = host.Tcas();
    EXPECT_EQ(full.targets.size(), 63u);
    ids.clear();
    for (const simhost::TcasTarget &t : full.targets) {
        EXPECT_LE(t.index, 63);
        EXPECT_EQ(t.flightId, "C" + std::to_string(t.index));
        ids.insert(t.modeS);
    }
    EXPECT_EQ(ids.size(), 63u);
    // The plane list shows the nearest as many as fit, and says how many more there are.
    showPlaneWindow = 1;
    XPLMSetWindowIsVisible(gWindow, 1);
    host.RunFrame();
    std::vector<std::string> rows = host.LastFrame().TextsIn(gWindow);
    ASSERT_EQ(rows.size(), 2u + 19u);
    for (int k = 0; k < 18; ++k) {
        const std::string row = rows[2 + static_cast<std::size_t>(k)];
        EXPECT_EQ(row.rfind(std::to_string(k + 1) + ": C" + std::to_string(k + 1) + " ", 0), 0u) << row;
    }
    EXPECT_EQ(rows.back(), "+ 45 more pilots farther");
    showPlaneWindow = 0;
    XPLMSetWindowIsVisible(gWindow, 0);

    // Offline: no instance, no override.
    DisconnectFromServer();
    host.RunFrame();
    EXPECT_TRUE(host.Instances().empty());
    EXPECT_FALSE(host.Tcas().overridden);
    EXPECT_EQ(host.Instancing().refusedCount, 0);
    // Each login starts the relay at 19 again: the next session asks anew.
    session.Connect();
    host.RunFrames(2);
    EXPECT_TRUE(Sent(session, "12345|SLOTS|63|\n", 1));
    trafficModels = 0;
    trafficLabels = 1;
}

TEST(InstancedTraffic, PeersAreInstancesOnTcasWithLabelsAndWheelsOnTheHillsInXPlane12) {
    PeersAreInstancesOnTcasWithLabelsAndWheelsOnTheHills(simhost::XPlaneVersion::XPlane12);
}

TEST(InstancedTraffic, PeersAreInstancesOnTcasWithLabelsAndWheelsOnTheHillsInXPlane11) {
    PeersAreInstancesOnTcasWithLabelsAndWheelsOnTheHills(simhost::XPlaneVersion::XPlane11);
}

}  // namespace

namespace {

// The default mode names the peers the AI aircraft count hides and points to our models; with them on,
// every peer is drawn and its row says as what; a peer flipping between two models loads each once.
TEST(InstancedTraffic, HiddenPeersPointToOurModelsAndModelSpamLoadsNothingTwice) {
    testsupport::ScratchDir dir;
    ASSERT_TRUE(PutModelsBesideThePlugin(dir));
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    simhost::Host &host = session.host;
    host.SetAIAircraftCount(2);
    std::vector<Peer> peers;
    std::string stream;
    for (int slot = 1; slot <= 5; ++slot) {
        peers.push_back({slot, 1000.0 * slot, 0, 300, false});
        stream += std::to_string(slot) + "|c|P" + std::to_string(slot) + "====\n" + std::to_string(slot) +
                  "|p|Aircraft/Home Built/thing.acf====\n";
    }
    session.SendStream(stream);
    auto fly = [&](int rounds, const std::string &perRound = "") {
        for (int round = 0; round < rounds; ++round) {
            if (!perRound.empty()) session.SendStream(perRound + (round % 2 ? "a330.acf====\n" : "b738.acf====\n"));
            std::vector<std::string> texts;
            for (const Peer &p : peers) texts.push_back(LocationOf(session, p, 0).Text());
            session.SendDatagrams(texts);
            host.RunFrames(2);
        }
    };
    fly(10);
    EXPECT_NE(StatusLine().find("3 pilots not shown"), std::string::npos) << StatusLine();
    EXPECT_NE(StatusLine().find("Our models"), std::string::npos) << StatusLine();
    EXPECT_TRUE(host.Instances().empty());
    // The default mode never asks the relay for slots: its stream is what it always was.
    EXPECT_EQ(session.server->StreamBytes().find("|SLOTS|"), std::string::npos);

    trafficModels = 1;
    showPlaneWindow = 1;
    XPLMSetWindowIsVisible(gWindow, 1);
    fly(10);
    EXPECT_EQ(host.Instances().size(), 5u);
    EXPECT_EQ(StatusLine().find("not shown"), std::string::npos) << StatusLine();
    bool rowSaysSo = false;  // the row is cut at the window's edge
    for (const std::string &row : host.LastFrame().TextsIn(gWindow))
        rowSaysSo = rowSaysSo || row.rfind("1: P1 thing as light_single", 0) == 0;
    EXPECT_TRUE(rowSaysSo);

    // Slot 3 flips between two airliners every frame for two seconds: each model loads once, and the
    // instance follows at most once a second.
    const long loads = host.Instancing().objectLoads;
    fly(60, "3|p|Aircraft/Airliners/");
    EXPECT_LE(host.Instancing().objectLoads, loads + 2);
    EXPECT_EQ(host.Instances().size(), 5u);
    EXPECT_EQ(host.Instancing().refusedCount, 0);
    EXPECT_TRUE(Sent(session, "12345|SLOTS|63|\n"));
    // Switched off again: back to the simulator's 19.
    trafficModels = 0;
    host.RunFrame();
    EXPECT_TRUE(Sent(session, "12345|SLOTS|19|\n"));
}

}  // namespace
