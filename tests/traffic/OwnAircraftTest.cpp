// Reporting the user's aircraft as the server sees it: the location datagram, the identity lines and the co-pilot view.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <clocale>
#include <cstdio>

#include "tests/net/PacketProcessSession.h"

using inboundtest::ProcessPackets;
using inboundtest::Session;

namespace {

// "%.9g" of a single-precision value, as the server expects every float field.
std::string G9(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", (double)(float)value);
    return text;
}

// "%.12g" of a double: the world position, to centimetres.
std::string G12(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.12g", value);
    return text;
}

std::vector<std::string> Split(const std::string &text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar - start));
        if (bar == std::string::npos) return fields;
        start = bar + 1;
    }
}

bool EndsWith(const std::string &text, const std::string &tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void SetOwnState(simhost::Host &host) {
    const char *scalars[] = {"sim/flightmodel/position/local_x",
                             "sim/flightmodel/position/local_y",
                             "sim/flightmodel/position/local_z",
                             "sim/flightmodel/position/theta",
                             "sim/flightmodel/position/phi",
                             "sim/flightmodel/position/psi",
                             "sim/flightmodel/controls/flaprat",
                             "sim/flightmodel/controls/flap2rat",
                             "sim/flightmodel/controls/sbrkrat",
                             "sim/flightmodel/controls/slatrat",
                             "sim/flightmodel/controls/swdi",
                             "sim/joystick/FC_ptch",
                             "sim/joystick/FC_roll",
                             "sim/joystick/FC_hdng"};
    for (int i = 0; i < 14; i++) host.SetDataRef(scalars[i], 0.1 + 1.01 * i);
    for (int i = 0; i < 10; i++) host.SetDataRef("sim/aircraft/parts/acf_gear_deploy", 0.1 * i, i);
    for (int i = 0; i < 16; i++) host.SetDataRef("sim/flightmodel/engine/ENGN_thro", 0.125 * (i + 1), i);
    const char *lights[] = {"beacon_lights_on", "landing_lights_on", "strobe_lights_on", "nav_lights_on",
                            "taxi_light_on"};
    for (int i = 0; i < 5; i++) host.SetDataRef(std::string("sim/cockpit/electrical/") + lights[i], i + 1);
}

// Everything the datagram should hold before the two clock fields, formatted independently of the plug-in.
std::string ExpectedHead(simhost::Host &host, const std::string &tag) {
    std::string text = "12345" + tag;
    for (const char *axis : {"x", "y", "z"})
        text += "|" + G9(host.GetDataRef(std::string("sim/flightmodel/position/local_") + axis));
    text += "|" + G12(host.Latitude()) + "|" + G12(host.Longitude()) + "|" + G12(host.ElevationM());
    for (int i = 0; i < 11; i++) text += "|" + G9((float)(0.1 + 1.01 * (i + 3)));
    for (int i = 0; i < 10; i++) text += "|" + G9((float)(0.1 * i));
    text += "|1|2|3|4|5";
    for (int i = 0; i < 8; i++) text += "|" + G9(0.125 * (i + 1));
    return text;
}

void CheckClockFields(const std::string &datagram, const timeval &before, const timeval &after) {
    std::vector<std::string> fields = Split(datagram);
    ASSERT_EQ(fields.size(), 44u);  // id and tag, then 42 fields
    const std::string &seconds = fields[42];
    EXPECT_TRUE(seconds == G9((double)before.tv_sec) || seconds == G9((double)after.tv_sec)) << seconds;
    const std::string &micros = fields[43];
    ASSERT_FALSE(micros.empty());
    EXPECT_EQ(micros.find_first_not_of("0123456789"), std::string::npos) << micros;
    EXPECT_LT(std::stol(micros), 1000000L);
}

}  // namespace

TEST(OwnAircraft, LocationDatagramCarriesTheWholeOwnState) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    SetOwnState(session.host);
    // Digits a float would lose: a step of 1e-7 degrees is about a centimetre.
    session.host.MoveAircraftTo(47.4500123456, -122.3100987654, 100.257);
    size_t count = session.server->DatagramCount();
    udptx = "  ";

    timeval before, after;
    gettimeofday(&before, nullptr);
    EXPECT_TRUE(SendLocationMessage());
    gettimeofday(&after, nullptr);
    ASSERT_TRUE(session.server->WaitForDatagrams(count + 1, 2000));
    std::string datagram = session.server->Datagrams()[count].bytes;

    std::string head = ExpectedHead(session.host, "|LOC");
    EXPECT_EQ(datagram.substr(0, head.size()), head);
    EXPECT_EQ(datagram[head.size()], '|');
    CheckClockFields(datagram, before, after);
    EXPECT_EQ(udptx, "Ux");
    std::vector<std::string> fields = Split(datagram);
    EXPECT_NEAR(std::stod(fields[5]), 47.4500123456, 1e-9);
    EXPECT_NEAR(std::stod(fields[6]), -122.3100987654, 1e-9);
    EXPECT_NEAR(std::stod(fields[7]), 100.257, 1e-6);

    // The same bytes under a locale with a decimal comma; view-only mode changes the tag alone.
    if (std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        viewOnly = 1;
        SendLocationMessage();
        std::setlocale(LC_ALL, "C");
        ASSERT_TRUE(session.server->WaitForDatagrams(count + 2, 2000));
        std::string viewOnlyDatagram = session.server->Datagrams()[count + 1].bytes;
        std::string voHead = ExpectedHead(session.host, "|VOLOC");
        EXPECT_EQ(viewOnlyDatagram.substr(0, voHead.size()), voHead);
        EXPECT_EQ(Split(viewOnlyDatagram).size(), 44u);
    }
}

// One location per frame from the first packet-processor run on, whether the simulator draws the
// airplanes phase (X-Plane 11 with OpenGL) or never does (X-Plane 12); none twice in one frame.
void ExpectOneLocationPerFrame(simhost::XPlaneVersion version) {
    Session session(false);
    session.host.SetXPlaneVersion(version);
    // Connected during enable, before the packet processor ever ran: nothing yet.
    ASSERT_EQ(ConnectToServerWaiting(3000), 1);
    session.host.RunFrame();
    EXPECT_FALSE(session.server->WaitForDatagrams(1, 100));

    // The packet processor first runs in frame 2; every frame from there on sends one location.
    session.host.RunFrames(60);
    ASSERT_TRUE(session.server->WaitForDatagrams(60, 2000));
    EXPECT_FALSE(session.server->WaitForDatagrams(61, 200));
    // A simulator that draws the airplanes phase again in the same frame gets nothing more.
    EXPECT_EQ(SkorvaleDrawPlanes(xplm_Phase_Airplanes, 0, nullptr), 1);
    EXPECT_FALSE(session.server->WaitForDatagrams(61, 100));

    DisconnectFromServer();
    session.host.RunFor(1.0);
    EXPECT_FALSE(session.server->WaitForDatagrams(61, 200));
}

TEST(OwnAircraft, OneLocationPerFrameInXPlane11) { ExpectOneLocationPerFrame(simhost::XPlaneVersion::XPlane11); }
TEST(OwnAircraft, OneLocationPerFrameInXPlane12) { ExpectOneLocationPerFrame(simhost::XPlaneVersion::XPlane12); }

TEST(OwnAircraft, IdentityLinesFollowAConnectThenEveryTenSeconds) {
    Session session(false);
    session.host.SetUserAircraftModel("trainer.acf", "/sim/Aircraft/Jets/Trainer/trainer.acf");
    myCallsign = "JAY";
    // Before any connection the identity callback only polls.
    session.host.RunFor(10.5);
    EXPECT_EQ(SkorvaleProcessAirplaneCallback(1, 1, 1, nullptr), 1.0f);
    ASSERT_EQ(ConnectToServerWaiting(3000), 1);
    uniqueID = 12345;
    ASSERT_TRUE(session.server->WaitForStreamLines(1, 2000));

    session.host.RunFor(1.0);
    ASSERT_TRUE(session.server->WaitForStreamLines(4, 2000));
    std::string stream = session.server->StreamBytes();
    std::string identity = stream.substr(stream.find('\n') + 1);
    EXPECT_EQ(identity,
              "12345|PLANE|/sim/Aircraft/Jets/Trainer/trainer.acf\n"
              "12345|CALLSIGN|JAY|\n"
              "12345|CREWID|BLANK|0|\n");

    // Nothing more for ten seconds, then the same three again with the current settings.
    session.host.RunFor(9.0);
    EXPECT_FALSE(session.server->WaitForStreamLines(5, 200));
    flightMode = 1;
    crewID = "ABC";
    cockpitPosition = 2;
    myCallsign = "";
    session.host.RunFor(1.0);
    ASSERT_TRUE(session.server->WaitForStreamLines(7, 2000));
    stream = session.server->StreamBytes();
    EXPECT_TRUE(EndsWith(stream,
                         "\n12345|PLANE|/sim/Aircraft/Jets/Trainer/trainer.acf\n"
                         "12345|CALLSIGN||\n"
                         "12345|CREWID|ABC|2|\n"));

    crewID = "";
    tcptx = "  ";
    EXPECT_EQ(SkorvaleProcessAirplaneCallback(1, 1, 1, nullptr), 10.0f);
    EXPECT_EQ(tcptx, "Tx");
    ASSERT_TRUE(session.server->WaitForStreamLines(10, 2000));
    stream = session.server->StreamBytes();
    // Crewed with an empty crew ID: an empty field before the seat.
    EXPECT_TRUE(EndsWith(stream, "\n12345|CREWID||2|\n"));
}

TEST(OwnAircraft, ViewOnlySendsItsCallsignAlone) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    viewOnly = 1;
    myCallsign = "Watcher";
    size_t before = session.server->StreamBytes().size();
    EXPECT_EQ(SkorvaleProcessAirplaneCallback(1, 1, 1, nullptr), 10.0f);
    ASSERT_TRUE(session.server->WaitForStreamLines(2, 2000));
    EXPECT_FALSE(session.server->WaitForStreamLines(3, 200));
    EXPECT_EQ(session.server->StreamBytes().substr(before), "12345|VOCALLSIGN|Watcher|\n");
}

TEST(OwnAircraft, CoPilotViewMovesToTheRightSeatOnViewChanges) {
    Session session(false);
    simhost::Host &host = session.host;
    const std::string head = "sim/graphics/view/pilots_head_x";
    // The same whether or not the first-scene phase is drawn.
    for (auto version : {simhost::XPlaneVersion::XPlane11, simhost::XPlaneVersion::XPlane12}) {
        host.SetXPlaneVersion(version);
        cockpitPosition = 1;
        host.SetDataRef(head, -0.3);
        host.SetViewType(1026);
        host.RunFrame();
        EXPECT_FLOAT_EQ(host.GetDataRef(head), 0.3f);

        // The user moves the head again: left alone until the view changes.
        host.SetDataRef(head, -0.2);
        host.RunFrames(3);
        EXPECT_FLOAT_EQ(host.GetDataRef(head), -0.2f);
        host.SetViewType(1000);
        host.RunFrame();
        EXPECT_FLOAT_EQ(host.GetDataRef(head), 0.2f);

        // A pilot, or a head already at or right of the centre line, is never moved.
        host.SetDataRef(head, 0.0);
        host.SetViewType(1026);
        host.RunFrame();
        EXPECT_EQ(host.GetDataRef(head), 0.0);
        cockpitPosition = 0;
        host.SetDataRef(head, -0.4);
        host.SetViewType(1000);
        host.RunFrame();
        EXPECT_FLOAT_EQ(host.GetDataRef(head), -0.4f);
        EXPECT_EQ(lastview, 1000);
    }
}
