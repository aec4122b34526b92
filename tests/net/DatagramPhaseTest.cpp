// The datagram phase as a peer sees it: location datagrams from the server move traffic slots in the host.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/ReceiveLoop.h"
#include "tests/net/PacketProcessSession.h"
#include "traffic/AircraftUtils.h"

using inboundtest::Location;
using inboundtest::ProcessPackets;
using inboundtest::Session;

namespace {

const char kPlanePath[] = "sim/operation/override/override_planepath";

std::vector<std::string> Texts(std::initializer_list<Location> locations) {
    std::vector<std::string> texts;
    for (const Location &location : locations) texts.push_back(location.Text());
    return texts;
}

// A scripted socket for the one-datagram-per-call batch: each step is a datagram's text, or an error
// code of the kind named by `winsock`.
struct ReceiveStep {
    const char *text;
    int error;
};
const ReceiveStep *script = nullptr;
size_t scriptLength = 0;
size_t scriptNext = 0;
bool winsock = false;

ReceiveOutcome ScriptedReceive(int, Datagram *out) {
    if (scriptNext == scriptLength) return winsock ? WinsockReceiveError(10035) : PosixReceiveError(EAGAIN);
    const ReceiveStep &step = script[scriptNext++];
    if (step.text == nullptr) return winsock ? WinsockReceiveError(step.error) : PosixReceiveError(step.error);
    out->length = std::strlen(step.text);
    std::memcpy(out->bytes, step.text, out->length);
    return ReceiveOutcome::kDatagram;
}

std::vector<std::string> Batch(int count) {
    static Datagram datagrams[kMostDatagrams];
    int got = ReceiveDatagramsOneByOne(7, datagrams, count, ScriptedReceive);
    std::vector<std::string> texts;
    for (int i = 0; i < got; i++) texts.emplace_back(datagrams[i].bytes, datagrams[i].length);
    return texts;
}

}  // namespace

// Windows answers an ICMP port unreachable from an earlier send with WSAECONNRESET on the next
// receive; Wine does not, so the batch's handling of it is driven from a script here.
TEST(DatagramPhase, ReceiveErrorsEndOnlyTheBatchAndTheRestComesNextCall) {
    const int kWsaEintr = 10004, kWsaEconnreset = 10054, kWsaEnetreset = 10052;
    const ReceiveStep steps[] = {{"a", 0}, {nullptr, kWsaEintr},     {"b", 0}, {nullptr, kWsaEconnreset}, {"c", 0},
                                 {"d", 0}, {nullptr, kWsaEnetreset}, {"e", 0}, {nullptr, kWsaEconnreset}};
    script = steps;
    scriptLength = sizeof steps / sizeof steps[0];
    scriptNext = 0;
    winsock = true;
    EXPECT_EQ(Batch(90), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Batch(1), (std::vector<std::string>{"c"}));
    EXPECT_EQ(Batch(90), (std::vector<std::string>{"d"}));
    EXPECT_EQ(Batch(90), (std::vector<std::string>{"e"}));
    EXPECT_EQ(Batch(90), std::vector<std::string>{});
    EXPECT_EQ(Batch(90), std::vector<std::string>{});

    // Interrupted calls lose nothing but count against the bound, so they cannot hold the loop.
    const ReceiveStep interrupted[] = {{nullptr, EINTR}, {nullptr, EINTR}, {"x", 0}, {nullptr, ECONNREFUSED}, {"y", 0}};
    script = interrupted;
    scriptLength = sizeof interrupted / sizeof interrupted[0];
    scriptNext = 0;
    winsock = false;
    EXPECT_EQ(Batch(2), std::vector<std::string>{});
    EXPECT_EQ(Batch(90), (std::vector<std::string>{"x"}));
    EXPECT_EQ(Batch(90), (std::vector<std::string>{"y"}));
}

TEST(DatagramPhase, LocationDatagramSetsEveryValueOfItsSlot) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    // A spoiler value the datagram does not carry: the record's 0 replaces it.
    session.host.SetDataRef("sim/multiplayer/position/plane7_spoiler_ratio", 0.7);
    session.host.SetDataRef("sim/multiplayer/position/plane7_gear_deploy", 0.55, 9);

    Location location;
    location.slot = 7;
    location.fields[8] = "";  // an empty heading reads as 0
    session.SendDatagrams({location.Text()});
    EXPECT_EQ(ProcessPackets(), 0.03f);

    // The sender's local position agrees with its world position in the user's frame: taken as it is.
    EXPECT_FLOAT_EQ(session.Slot(7, "x"), 100.5f);
    EXPECT_FLOAT_EQ(session.Slot(7, "y"), 200.25f);
    EXPECT_FLOAT_EQ(session.Slot(7, "z"), -300.75f);
    // The host derives the slot's lat, lon and el from x, y and z; the record keeps what was sent.
    EXPECT_FLOAT_EQ(AircraftList[7].lat, 47.4500008f);
    EXPECT_FLOAT_EQ(AircraftList[7].lon, -122.309998f);
    EXPECT_FLOAT_EQ(AircraftList[7].el, 200.25f);
    EXPECT_FLOAT_EQ(session.Slot(7, "the"), 2.5f);
    EXPECT_FLOAT_EQ(session.Slot(7, "phi"), -3.5f);
    EXPECT_FLOAT_EQ(session.Slot(7, "psi"), 0.0f);
    EXPECT_FLOAT_EQ(session.Slot(7, "flap_ratio"), 0.5f);
    EXPECT_FLOAT_EQ(session.Slot(7, "flap_ratio2"), 0.25f);
    EXPECT_FLOAT_EQ(session.Slot(7, "speedbrake_ratio"), 0.125f);
    // Slots above 1 only have X-Plane's "sla1" spelling.
    EXPECT_FLOAT_EQ(session.Slot(7, "sla1_ratio"), 0.75f);
    EXPECT_FLOAT_EQ(session.Slot(7, "wing_sweep"), 0.375f);
    // X-Plane 12 keeps the yokes in one array per control.
    EXPECT_FLOAT_EQ(session.Ref("sim/multiplayer/controls/yoke_pitch_ratio", 7), 0.1f);
    EXPECT_FLOAT_EQ(session.Ref("sim/multiplayer/controls/yoke_roll_ratio", 7), -0.2f);
    EXPECT_FLOAT_EQ(session.Ref("sim/multiplayer/controls/yoke_heading_ratio", 7), 0.3f);
    EXPECT_EQ(session.Slot(7, "spoiler_ratio"), 0.0);
    for (int i = 0; i < 9; i++) EXPECT_FLOAT_EQ(session.Slot(7, "gear_deploy", i), (float)(1.0 - 0.1 * i)) << i;
    // The tenth gear stays in the record and never reaches the host.
    EXPECT_FLOAT_EQ(session.Slot(7, "gear_deploy", 9), 0.55f);
    EXPECT_FLOAT_EQ(AircraftList[7].gear[9], 0.1f);
    for (int i = 0; i < 8; i++) EXPECT_FLOAT_EQ(session.Slot(7, "throttle", i), 0.11f * (float)(i + 1)) << i;
    EXPECT_EQ(session.Slot(7, "beacon_lights_on"), 1);
    EXPECT_EQ(session.Slot(7, "landing_lights_on"), 0);
    EXPECT_EQ(session.Slot(7, "strobe_lights_on"), 1);
    EXPECT_EQ(session.Slot(7, "nav_lights_on"), 1);
    EXPECT_EQ(session.Slot(7, "taxi_light_on"), 0);
    EXPECT_EQ(udprx, "Ur");
    // The aircraft below it that nobody flies are parked far below the ground, those above are beyond
    // the active count and untouched.
    EXPECT_LT(session.Slot(6, "y"), -90000.0);
    EXPECT_EQ(session.host.Planes().activeCount, 8);
    EXPECT_EQ(session.Slot(8, "x"), 0.0);

    // A later call with nothing waiting resets the indicators and changes nothing.
    ProcessPackets();
    EXPECT_EQ(udprx, "  ");
    EXPECT_EQ(udptx, "  ");
    EXPECT_FLOAT_EQ(session.Slot(7, "x"), 100.5f);
}

TEST(DatagramPhase, WorldPositionIsConvertedWhereTheSendersFrameIsNotOurs) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    Location north;
    north.slot = 2;
    north.fields[3] = "48.0001";
    Location west;  // same latitude band, longitude band differs
    west.slot = 3;
    west.fields[4] = "-123.5";
    session.SendDatagrams(Texts({north, west}));
    ProcessPackets();

    double x, y, z;
    // The world position is read in double precision, as the sender now writes it.
    XPLMWorldToLocal(48.0001, -122.309998, 200.25, &x, &y, &z);
    EXPECT_FLOAT_EQ(session.Slot(2, "x"), (float)x);
    EXPECT_FLOAT_EQ(session.Slot(2, "y"), (float)y);
    EXPECT_FLOAT_EQ(session.Slot(2, "z"), (float)z);
    EXPECT_GT(std::fabs(session.Slot(2, "z") - (-300.75)), 1000.0);  // not the sender's local z
    XPLMWorldToLocal(47.4500008, -123.5, 200.25, &x, &y, &z);
    EXPECT_FLOAT_EQ(session.Slot(3, "x"), (float)x);
    EXPECT_FLOAT_EQ(session.Slot(3, "z"), (float)z);
}

TEST(DatagramPhase, NinetyDatagramsPerCallTheRestInTheNext) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    std::vector<std::string> texts;
    for (int i = 0; i < 100; i++) {
        Location location;
        location.slot = 3;
        location.fields[8] = std::to_string(i);
        texts.push_back(location.Text());
    }
    session.SendDatagrams(texts);
    ASSERT_TRUE(inboundtest::WaitReadable(sockfd, 1));

    ProcessPackets();
    // The last one applied in a call wins.
    EXPECT_EQ(session.Slot(3, "psi"), 89.0);
    ProcessPackets();
    EXPECT_EQ(session.Slot(3, "psi"), 99.0);
}

TEST(DatagramPhase, MalformedDatagramsChangeNoSlot) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    std::vector<std::string> bad;
    auto slot5 = [] {
        Location location;
        location.slot = 5;
        return location;
    };
    Location l = slot5();
    l.fields[27 + 4] = "10";  // a light must be one digit
    bad.push_back(l.Text());
    l = slot5();
    l.fields[27] = "";
    bad.push_back(l.Text());
    l = slot5();
    l.fields[28] = "-1";
    bad.push_back(l.Text());
    l = slot5();
    l.fields.resize(17);  // ends after field 17
    l.trailer = "|";
    bad.push_back(l.Text());
    l = slot5();
    l.fields[10] = "0.2\n5";  // a line feed inside a field breaks its group
    bad.push_back(l.Text());
    l = slot5();
    l.type = "x";
    bad.push_back(l.Text());
    std::string good = slot5().Text();
    bad.push_back("-5|l|" + good.substr(4));           // a sign is no slot number
    bad.push_back("99999999999|l|" + good.substr(4));  // beyond 32 bits
    bad.push_back("20|l|" + good.substr(4));
    bad.push_back("12345|l|" + good.substr(4));
    bad.push_back("5|ll|" + good.substr(4));
    bad.push_back("5|l" + good.substr(4));
    bad.push_back(good.substr(0, 60) + std::string(1, '\0') + good.substr(60));  // text ends at a NUL
    bad.push_back("");
    // A number that is not finite, in any field, drops the whole datagram.
    const std::pair<int, const char *> nonFinite[] = {{0, "nan"}, {3, "inf"}, {8, "-inf"}, {26, "1e39"}, {39, "-NAN"}};
    for (const auto &[field, text] : nonFinite) {
        l = slot5();
        l.fields[field] = text;
        bad.push_back(l.Text());
    }
    // Slot 0, the user's own aircraft, is never the server's to move.
    l = slot5();
    l.slot = 0;
    bad.push_back(l.Text());
    // Cut at 1400 bytes: the throttle group never completes.
    l = slot5();
    l.fields[0] = std::string(1500, '1');
    bad.push_back(l.Text());
    session.SendDatagrams(bad);
    ASSERT_TRUE(inboundtest::WaitReadable(sockfd, 1));
    ProcessPackets();

    for (int slot = 0; slot < 20; slot++) {
        EXPECT_EQ(AircraftList[slot].x, 0.0f) << slot;
        EXPECT_EQ(AircraftList[slot].psi, 0.0f) << slot;
    }
    EXPECT_EQ(session.Slot(5, "x"), 0.0);
    EXPECT_NE(session.Ref("sim/flightmodel/position/local_z"), -300.75);
    EXPECT_EQ(udprx, "Ur");  // received, just not used

    // Sound light digits go through.
    l = slot5();
    l.fields[27 + 4] = "9";
    session.SendDatagrams({l.Text()});
    ProcessPackets();
    EXPECT_EQ(session.Slot(5, "taxi_light_on"), 9);
    EXPECT_FLOAT_EQ(session.Slot(5, "x"), 100.5f);
}

TEST(DatagramPhase, OnlyTheServersAddressIsListenedTo) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    sockaddr_in plugin{};
    socklen_t length = sizeof plugin;
    ASSERT_EQ(getsockname(sockfd, reinterpret_cast<sockaddr *>(&plugin), &length), 0);

    // Someone else on this machine who learnt the port.
    std::string stranger = testsupport::UniqueLoopbackAddress();
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from;
    ASSERT_TRUE(testsupport::MakeAddress(stranger, 0, &from));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from), 0);
    Location location;
    location.slot = 9;
    std::string text = location.Text();
    ASSERT_EQ(sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&plugin), sizeof plugin),
              (ssize_t)text.size());
    close(fd);
    ASSERT_TRUE(inboundtest::WaitReadable(sockfd, 1));

    sockaddr_in serverBefore = serverAddress;
    ProcessPackets();
    EXPECT_EQ(session.Slot(9, "x"), 0.0);
    EXPECT_EQ(udprx, "  ");
    EXPECT_EQ(std::memcmp(&serverBefore, &serverAddress, sizeof serverAddress), 0);

    // Another program on the server's own address, from another port.
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_TRUE(testsupport::MakeAddress(session.address, 0, &from));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from), 0);
    ASSERT_EQ(sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&plugin), sizeof plugin),
              (ssize_t)text.size());
    close(fd);
    ASSERT_TRUE(inboundtest::WaitReadable(sockfd, 1));
    ProcessPackets();
    EXPECT_EQ(session.Slot(9, "x"), 0.0);

    session.SendDatagrams({text});
    ProcessPackets();
    EXPECT_FLOAT_EQ(session.Slot(9, "x"), 100.5f);
}

TEST(DatagramPhase, CrewPilotFliesTheUsersAircraftInCrewedMode) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    flightMode = 1;
    cockpitPosition = 2;
    crewID = "Eagle";
    CrewIDs[4] = "Eagle";
    Location pilot;
    pilot.slot = 4;
    session.SendDatagrams({pilot.Text()});
    ProcessPackets();
    EXPECT_EQ(session.Slot(4, "x"), 0.0);
    EXPECT_FLOAT_EQ(session.Ref("sim/flightmodel/position/local_x"), 100.5f);
    EXPECT_FLOAT_EQ(session.Ref("sim/flightmodel/position/psi"), 271.25f);
    EXPECT_FLOAT_EQ(session.Ref("sim/flightmodel2/controls/pitch_ratio"), 0.1f);
    EXPECT_FLOAT_EQ(session.Ref("sim/flightmodel/engine/ENGN_thro", 7), 0.88f);
    EXPECT_TRUE(session.host.PlanePathOverridden());
    EXPECT_EQ(overridden, 1);

    // The flag is only raised once: with the host's element reset, a second datagram writes nothing.
    session.host.SetDataRef(kPlanePath, 0, 0);
    session.SendDatagrams({pilot.Text()});
    ProcessPackets();
    EXPECT_FALSE(session.host.PlanePathOverridden());

    // As pilot the same datagram moves the crew mate's own slot, and the user's aircraft is handed back.
    session.host.SetDataRef(kPlanePath, 1, 0);
    cockpitPosition = 0;
    session.SendDatagrams({pilot.Text()});
    ProcessPackets();
    EXPECT_FLOAT_EQ(session.Slot(4, "x"), 100.5f);
    EXPECT_EQ(overridden, 0);
    EXPECT_FALSE(session.host.PlanePathOverridden());

    // In crewed mode even a datagram of another type takes the aircraft over.
    cockpitPosition = 3;
    Location other;
    other.type = "x";
    other.slot = 4;
    session.SendDatagrams({other.Text()});
    ProcessPackets();
    EXPECT_EQ(overridden, 1);
    EXPECT_TRUE(session.host.PlanePathOverridden());
}

TEST(DatagramPhase, UsersAircraftIsHandedBackWhenNobodyFliesIt) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    CrewIDs[4] = "Eagle";
    Location pilot;
    pilot.slot = 4;
    auto crewed = [] {
        flightMode = 1;
        cockpitPosition = 1;
        crewID = "Eagle";
    };
    auto fly = [&](float elapsed) {
        session.SendDatagrams({pilot.Text()});
        SkorvalePacketProcess(elapsed, 0.03f, 0, nullptr);
    };

    // Solo, the pilot's seat or no crew ID: handed back at the next flight loop, with no datagram needed.
    for (int change = 0; change < 3; change++) {
        crewed();
        fly(0.03f);
        ASSERT_EQ(overridden, 1) << change;
        if (change == 0) flightMode = 0;
        if (change == 1) cockpitPosition = 0;
        if (change == 2) crewID = "";
        ProcessPackets();
        EXPECT_EQ(overridden, 0) << change;
        EXPECT_FALSE(session.host.PlanePathOverridden()) << change;
    }

    // Held while the crew's pilot keeps sending; handed back two seconds after the last of them, here
    // because the pilot's crew ID changed and its datagrams now move its own slot.
    crewed();
    fly(0.03f);
    SkorvalePacketProcess(1.5f, 0.03f, 0, nullptr);
    fly(1.5f);
    CrewIDs[4] = "Hawk";
    fly(1.9f);
    EXPECT_EQ(overridden, 1);
    EXPECT_FLOAT_EQ(session.Slot(4, "x"), 100.5f);
    SkorvalePacketProcess(0.2f, 0.03f, 0, nullptr);
    EXPECT_EQ(overridden, 0);
    EXPECT_FALSE(session.host.PlanePathOverridden());
}

// The crew's pilot flies east and climbs, banked and pitched up, then falls silent: once the override
// is handed back, the simulator's flight model carries on from the pilot's last attitude and motion.
void ExpectReleaseToContinueThePilotsFlight(simhost::XPlaneVersion version) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    session.host.SetXPlaneVersion(version);
    session.host.SetHeading(0);  // the user's own aircraft points north and stands still
    flightMode = 1;
    cockpitPosition = 1;
    crewID = "Eagle";
    CrewIDs[4] = "Eagle";
    Location pilot;
    pilot.slot = 4;
    pilot.fields[6] = "5";   // theta
    pilot.fields[7] = "10";  // phi
    pilot.fields[8] = "90";  // psi: east, where it flies
    for (int frame = 0; frame < 60; frame++) {
        pilot.fields[0] = std::to_string(100.5 + 30.0 * frame / 60);  // 30 m/s east
        pilot.fields[1] = std::to_string(200.25 + 3.0 * frame / 60);  // climbing 3 m/s
        session.SendDatagrams({pilot.Text()});
        session.host.RunFrame();
    }
    ASSERT_TRUE(session.host.PlanePathOverridden());
    for (int i = 0; i < 200 && session.host.PlanePathOverridden(); i++) session.host.RunFrame();
    ASSERT_FALSE(session.host.PlanePathOverridden());
    session.host.RunFrame();

    EXPECT_NEAR(session.host.Heading(), 90, 0.01);
    EXPECT_NEAR(session.Ref("sim/flightmodel/position/theta"), 5, 0.01);
    EXPECT_NEAR(session.Ref("sim/flightmodel/position/phi"), 10, 0.01);
    EXPECT_NEAR(session.host.GroundSpeed(), 30, 1.5);
    EXPECT_NEAR(session.host.VerticalSpeed(), 3, 0.3);
    double x = session.Ref("sim/flightmodel/position/local_x");
    session.host.RunFor(1.0);
    EXPECT_NEAR(session.Ref("sim/flightmodel/position/local_x") - x, 30, 2);
}

TEST(DatagramPhase, ReleasedAircraftContinuesThePilotsFlightInXPlane12) {
    ExpectReleaseToContinueThePilotsFlight(simhost::XPlaneVersion::XPlane12);
}
TEST(DatagramPhase, ReleasedAircraftContinuesThePilotsFlightInXPlane11) {
    ExpectReleaseToContinueThePilotsFlight(simhost::XPlaneVersion::XPlane11);
}

TEST(DatagramPhase, EmptyCrewIdMatchesNoSlot) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    flightMode = 1;
    cockpitPosition = 1;
    crewID = "";
    CrewIDs[5] = "";  // as after a crew message "BLANK"
    Location stranger;
    stranger.slot = 5;
    session.SendDatagrams({stranger.Text()});
    ProcessPackets();
    EXPECT_FLOAT_EQ(session.Slot(5, "x"), 100.5f);
    EXPECT_EQ(overridden, 0);
    EXPECT_FALSE(session.host.PlanePathOverridden());
    EXPECT_NE(session.Ref("sim/flightmodel/position/local_x"), 100.5);
}

TEST(DatagramPhase, ClosedSocketsAreNeverRead) {
    // Descriptor 0 stands for a closed socket; with the host's standard input there, a receive on it
    // would swallow the host's input.
    Session session(false);
    int pipes[2];
    ASSERT_EQ(pipe(pipes), 0);
    int savedStdin = dup(0);
    ASSERT_EQ(dup2(pipes[0], 0), 0);
    fcntl(0, F_SETFL, O_NONBLOCK);
    ASSERT_EQ(write(pipes[1], "3|c|Stdin\n", 10), 10);

    ASSERT_EQ(sockfd, 0);
    ASSERT_EQ(tsockfd, 0);
    ProcessPackets();
    ProcessPackets();
    char buffer[32];
    ssize_t left = read(0, buffer, sizeof buffer);

    dup2(savedStdin, 0);
    close(savedStdin);
    close(pipes[0]);
    close(pipes[1]);
    EXPECT_EQ(left, 10);
    EXPECT_EQ(Callsigns[3], "");
    EXPECT_EQ(shouldIDraw, 1);
}
