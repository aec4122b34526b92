// The stream phase as a peer and the user see it: names, crews, chat lines and models from the server's stream.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "core/Preferences.h"
#include "net/ModelPath.h"
#include "net/StreamPhase.h"
#include "simhost/Geo.h"
#include "tests/net/PacketProcessSession.h"
#include "traffic/AircraftUtils.h"

using inboundtest::ProcessPackets;
using inboundtest::Session;

TEST(StreamPhase, CallsignCrewAndChatMessages) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    session.SendStream(
        "3|c|Anna\r\n4|I|Eagle\n2|c|Bob\r\n\r\n5|c|Eve\n7|m|a|b\n25|c|Zed\n99|x|hello\n25|I|Far\n25|p|x/y.acf\n");
    ProcessPackets();
    EXPECT_EQ(Callsigns[3], "Anna");
    EXPECT_EQ(Callsigns[2], "Bob");
    EXPECT_EQ(Callsigns[5], "Eve");
    EXPECT_EQ(CrewIDs[4], "Eagle");
    EXPECT_EQ(imRead[13], "a|b");
    EXPECT_EQ(newTextRcvd, 9);
    EXPECT_EQ(tcprx, "Tr");
    EXPECT_EQ(tcpBuffer, "");
    EXPECT_EQ(Planes[19], "Plane 19");  // slot 25 and type x read past
    for (int slot : {0, 1, 6, 19}) EXPECT_EQ(Callsigns[slot], "") << slot;

    // Slot 0 is the user's own aircraft: nothing from the server names it, crews it or loads its model.
    session.SendStream("0|c|Me\n0|I|Eagle\n0|p|Aircraft/Jets/Trainer/trainer.acf\n");
    ProcessPackets();
    EXPECT_EQ(Callsigns[0], "");
    EXPECT_EQ(CrewIDs[0], "");
    EXPECT_EQ(Planes[0], "Plane 0");

    // Controls a peer could hide or turn text with show as nothing: C1 controls and the bidirectional
    // embeddings, overrides and isolates. Other bytes stay, UTF-8 or not.
    session.SendStream(
        "6|c|\xE2\x80\xAE"
        "An\xC2\x85na\n7|m|\xE2\x81\xA6hi\xE2\x81\xA9 \xC2\x9Fthere \xC3\xA9\xE9\n"
        "8|p|Aircraft/\xE2\x80\xAB\xD7\x90/x\xE2\x80\xAD.acf\n");
    ProcessPackets();
    EXPECT_EQ(Callsigns[6], "Anna");
    EXPECT_EQ(imRead[13], "hi there \xC3\xA9\xE9");
    EXPECT_EQ(Planes[8], "x");

    session.SendStream("3|c|BLANK\n4|I|BLANK\n");
    ProcessPackets();
    EXPECT_EQ(Callsigns[3], "");
    EXPECT_EQ(CrewIDs[4], "");

    // Fifteen chat lines: the window keeps the last fourteen, oldest first.
    std::string chat;
    for (int i = 1; i <= 15; i++) chat += std::to_string(i) + "|m|line " + std::to_string(i) + "\n";
    session.SendStream(chat);
    newTextRcvd = 0;
    ProcessPackets();
    for (int i = 0; i < 14; i++) EXPECT_EQ(imRead[i], "line " + std::to_string(i + 2)) << i;
    EXPECT_EQ(newTextRcvd, 9);

    ProcessPackets();
    EXPECT_EQ(tcprx, "  ");
    EXPECT_EQ(tcptx, "  ");
}

TEST(StreamPhase, LinesSplitAcrossReadsAndCalls) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    session.SendStream("3|c|Ann");
    ProcessPackets();
    EXPECT_EQ(Callsigns[3], "");
    EXPECT_EQ(tcpBuffer, "3|c|Ann");

    session.SendStream("a\n4|I|BLANK\n");
    CrewIDs[4] = "Old";
    ProcessPackets();
    EXPECT_EQ(Callsigns[3], "Anna");
    EXPECT_EQ(CrewIDs[4], "");

    // A carriage return and its line feed in two reads leave an extra terminator at the head.
    session.SendStream("6|c|Kim\r");
    ProcessPackets();
    EXPECT_EQ(Callsigns[6], "Kim");
    session.SendStream("\n7|c|Lee\n");
    ProcessPackets();
    EXPECT_EQ(Callsigns[7], "Lee");
    EXPECT_EQ(tcpBuffer, "");

    // A dead connection's half line, or the rest of an over-long line being dropped, never joins the
    // next connection's first message.
    session.SendStream("8|c|Ma");
    ProcessPackets();
    DisconnectFromServer();
    session.Connect();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    session.SendStream("8|c|Ned\n", 1);
    ProcessPackets();
    EXPECT_EQ(Callsigns[8], "Ned");
    std::string longLine(kStreamBufferLimit + 1, 'A');
    session.SendStream(longLine.substr(0, 40000), 1);
    ProcessPackets();
    session.SendStream(longLine.substr(40000), 1);
    ProcessPackets();
    DisconnectFromServer();
    session.Connect();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    session.SendStream("9|c|Oli\n", 2);
    ProcessPackets();
    EXPECT_EQ(Callsigns[9], "Oli");
}

TEST(StreamPhase, JunkAtTheHeadIsDroppedUpToItsLineEnd) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    session.SendStream("hello world\n8|c|Max\n99999999999|c|Big\n9|c|Ned\n====10|c|Oz\n|c|No\n11|c|Pia\n");
    ProcessPackets();
    EXPECT_EQ(Callsigns[8], "Max");
    EXPECT_EQ(Callsigns[9], "Ned");
    EXPECT_EQ(Callsigns[10], "Oz");
    EXPECT_EQ(Callsigns[11], "Pia");
    EXPECT_EQ(tcpBuffer, "");

    // A text ending in "=" leaves "=" behind its terminator; the message after it still arrives, as
    // does one after a text of "=" alone.
    session.SendStream("4|c|Eq=\n5|c|Next\n6|c|==\n7|c|Last=\n3|c|Sam\n");
    ProcessPackets();
    EXPECT_EQ(Callsigns[4], "Eq");  // the pattern's text stops at the first "===="
    EXPECT_EQ(Callsigns[5], "Next");
    EXPECT_EQ(Callsigns[7], "Last");
    EXPECT_EQ(Callsigns[3], "Sam");
    EXPECT_EQ(tcpBuffer, "");

    // Without a line end yet, junk may still be a message arriving: it waits.
    session.SendStream("junk");
    ProcessPackets();
    EXPECT_EQ(tcpBuffer, "junk");
    session.SendStream("\n12|c|Ute\n");
    ProcessPackets();
    EXPECT_EQ(Callsigns[12], "Ute");
    EXPECT_EQ(tcpBuffer, "");
}

TEST(StreamPhase, OverlongLineIsDroppedAndTheStreamRecovers) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    // 90 KiB without a line end, most of a callsign message, in pieces across calls.
    std::string longLine = "13|c|" + std::string(90 * 1024, 'A');
    for (size_t sent = 0; sent < longLine.size(); sent += 30000) {
        session.SendStream(longLine.substr(sent, 30000));
        ProcessPackets();
        EXPECT_LE(tcpBuffer.size(), kStreamBufferLimit);
    }
    session.SendStream("AAAA\n14|c|Ray\n15|c|");
    ProcessPackets();
    EXPECT_EQ(Callsigns[13], "");  // the dropped line's tail is no message either
    EXPECT_EQ(Callsigns[14], "Ray");
    EXPECT_EQ(tcpBuffer, "15|c|");
    session.SendStream("Sue\n");
    ProcessPackets();
    EXPECT_EQ(Callsigns[15], "Sue");

    // A line just under the bound is still a message.
    std::string nearLimit(kStreamBufferLimit - 100, 'B');
    session.SendStream("16|c|" + nearLimit.substr(0, 30000));
    ProcessPackets();
    session.SendStream(nearLimit.substr(30000));
    ProcessPackets();
    session.SendStream("\n");
    ProcessPackets();
    EXPECT_EQ(Callsigns[16], nearLimit);
}

TEST(StreamPhase, ModelMessagesLoadNewModelsWhoseFileOpens) {
    // A stuck open (a FIFO without writer) would hang here; the alarm ends the process instead.
    alarm(60);
    testsupport::ScratchDir scratch;
    ASSERT_TRUE(scratch.Ok());
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    for (const char *folder : {"Aircraft", "Aircraft/Jets", "Aircraft/Jets/Trainer", "Aircraft/Other", "Aircraft/Heavy",
                               "Aircraft/Missing"}) {
        ASSERT_EQ(mkdir(scratch.Path(folder).c_str(), 0700), 0) << folder;
    }
    ASSERT_TRUE(scratch.Write("Aircraft/Jets/Trainer/trainer.acf", "model"));
    ASSERT_TRUE(scratch.Write("Aircraft/Other/trainer.acf", "model"));
    ASSERT_TRUE(scratch.Write("Aircraft/Heavy/B747.ACF", "model"));
    ASSERT_EQ(mkdir(scratch.Path("Aircraft/Fifo").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(scratch.Path("Aircraft/Fifo/pipe.acf").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(scratch.Path("Aircraft/Dir.acf").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(scratch.Path("Aircraft/Dir.acf/folder.acf").c_str(), 0700), 0);

    // Models load only for slots with a peer in them: give every slot one beside the user.
    session.Occupy({1, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
    session.SendStream("4|p|Aircraft/Jets/Trainer/trainer.acf\n5|p|Aircraft/Heavy/B747.ACF\n");
    ProcessPackets();
    session.host.RunFrames(20);  // models load in frames, one at a time
    EXPECT_EQ(Planes[4], "trainer");
    EXPECT_EQ(Planes[5], "B747");
    EXPECT_EQ(session.host.Planes().models[4], scratch.Path("Aircraft/Jets/Trainer/trainer.acf"));
    EXPECT_EQ(session.host.Planes().models[5], scratch.Path("Aircraft/Heavy/B747.ACF"));

    // Same name from another folder: nothing new to load.
    session.SendStream("4|p|Aircraft/Other/trainer.acf\n");
    ProcessPackets();
    session.host.RunFrames(3);
    EXPECT_EQ(session.host.Planes().models[4], scratch.Path("Aircraft/Jets/Trainer/trainer.acf"));

    // Missing, FIFO, directory, device: the name is taken, nothing is loaded (this installation has no
    // default model either), and a repeat does not retry.
    session.SendStream(
        "6|p|Aircraft/Missing/ghost.acf\n7|p|Aircraft/Fifo/pipe.acf\n8|p|Aircraft/Dir.acf/folder.acf\n9|p|/dev/null\n");
    ProcessPackets();
    session.host.RunFrames(5);
    EXPECT_EQ(Planes[6], "ghost");
    EXPECT_EQ(Planes[7], "pipe");
    EXPECT_EQ(Planes[8], "folder");
    EXPECT_EQ(Planes[9], "");
    for (int slot : {6, 7, 8, 9}) EXPECT_EQ(session.host.Planes().models[slot], "") << slot;
    ASSERT_TRUE(scratch.Write("Aircraft/Missing/ghost.acf", "model"));
    session.SendStream("6|p|Aircraft/Missing/ghost.acf\n");
    ProcessPackets();
    session.host.RunFrames(5);
    EXPECT_EQ(session.host.Planes().models[6], "");

    // BLANK empties the name, so the next path loads again; no "/" gives an empty name.
    session.SendStream("4|p|BLANK\n");
    ProcessPackets();
    EXPECT_EQ(Planes[4], "");
    session.Occupy({4});
    session.SendStream("4|p|Aircraft/Other/trainer.acf\n10|p|B747.acf\n");
    ProcessPackets();
    session.host.RunFrames(3);
    EXPECT_EQ(Planes[4], "trainer");
    EXPECT_EQ(Planes[10], "");
    // One model load per slot a second: the new path waits for the second to pass.
    EXPECT_EQ(session.host.Planes().models[4], scratch.Path("Aircraft/Jets/Trainer/trainer.acf"));
    session.host.RunFor(1.0);
    EXPECT_EQ(session.host.Planes().models[4], scratch.Path("Aircraft/Other/trainer.acf"));

    // A peer switching between two models as fast as it can: the newest path waits, the rest never load.
    long loads = session.host.Planes().modelLoads;
    std::string flood;
    for (int i = 0; i < 200; i++)
        flood += i % 2 ? "4|p|Aircraft/Heavy/B747.ACF\n" : "4|p|Aircraft/Jets/Trainer/trainer.acf\n";
    session.SendStream(flood);
    ProcessPackets();
    session.host.RunFor(2.5);
    EXPECT_LE(session.host.Planes().modelLoads - loads, 3);
    EXPECT_EQ(session.host.Planes().models[4], scratch.Path("Aircraft/Heavy/B747.ACF"));

    // Paths from another machine or installation load this installation's copy of the model.
    session.SendStream(
        "11|p|/home/other/X-Plane 12/Aircraft/Jets/Trainer/trainer.acf\n"
        "12|p|C:\\X-Plane 11\\Aircraft\\Heavy\\B747.ACF\n");
    ProcessPackets();
    session.host.RunFrames(5);
    EXPECT_EQ(session.host.Planes().models[11], scratch.Path("Aircraft/Jets/Trainer/trainer.acf"));
    EXPECT_EQ(Planes[12], "B747");
    EXPECT_EQ(session.host.Planes().models[12], scratch.Path("Aircraft/Heavy/B747.ACF"));

    // Nothing outside the aircraft folder, nothing but a model, and no over-long path: the name still
    // shows where there is one, and nothing loads.
    ASSERT_TRUE(scratch.Write("Resources/plugins/svprefs.txt", "password=secret;"));
    ASSERT_TRUE(scratch.Write("Aircraft/Heavy/notes.txt", "text"));
    ASSERT_TRUE(scratch.Write("escape.acf", "model"));
    ASSERT_TRUE(scratch.Write("Aircraft/.acf", "model"));
    session.SendStream(
        "13|p|/etc/passwd\n14|p|../../../../etc/hostname\n15|p|Aircraft/../Resources/plugins/svprefs.txt\n"
        "16|p|Aircraft/Heavy/../../escape.acf\n17|p|Aircraft/Heavy/notes.txt\n18|p|Aircraft/.acf\n"
        "19|p|/proc/self/environ\n");
    ProcessPackets();
    session.host.RunFrames(10);
    EXPECT_EQ(Planes[16], "escape");
    for (int slot = 13; slot <= 19; slot++) EXPECT_EQ(session.host.Planes().models[slot], "") << slot;
    std::string deep = "Aircraft/" + std::string(kModelPathLimit - 20, 'd') + "/trainer.acf";
    ASSERT_GT(deep.size(), kModelPathLimit);
    session.SendStream("1|p|" + deep + "\n");
    ProcessPackets();
    EXPECT_EQ(Planes[1], "Plane 1");

    // The pilot's own default model stands in for one not installed; a default outside the aircraft
    // folder is refused like a peer's path.
    ASSERT_TRUE(scratch.Write("Resources/plugins/svprefs.txt", "defaultModel=Aircraft/Heavy/B747.ACF;"));
    LoadPreferences();
    session.SendStream("7|p|Aircraft/Missing/other.acf\n");
    ProcessPackets();
    session.host.RunFrames(5);
    EXPECT_EQ(session.host.Planes().models[7], scratch.Path("Aircraft/Heavy/B747.ACF"));
    ASSERT_TRUE(scratch.Write("Resources/plugins/svprefs.txt", "defaultModel=../escape.acf;"));
    LoadPreferences();
    session.SendStream("8|p|Aircraft/Missing/third.acf\n");
    ProcessPackets();
    session.host.RunFrames(5);
    EXPECT_EQ(session.host.Planes().models[8], "");
    alarm(0);
}

TEST(StreamPhase, LostServerEndsTheConnectionWithoutLogout) {
    Session session;
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    size_t loginBytes = session.server->StreamBytes().size();
    // Messages sent just before the close are still handled, and the list is cleared as the link ends.
    session.SendStream("3|c|Last\n");
    overridden = 1;
    session.host.SetDataRef("sim/operation/override/override_planepath", 1, 0);
    session.server->CloseStream(0);
    ASSERT_TRUE(inboundtest::WaitPeerGone(tsockfd));
    ProcessPackets();
    EXPECT_EQ(Callsigns[3], "");
    EXPECT_EQ(tcpconnected, 0);
    EXPECT_EQ(tsockfd, 0);
    EXPECT_EQ(sockfd, 0);
    sockaddr_in zero{};
    EXPECT_EQ(std::memcmp(&serverAddress, &zero, sizeof zero), 0);
    EXPECT_EQ(overridden, 0);
    EXPECT_FALSE(session.host.PlanePathOverridden());
    EXPECT_EQ(session.server->StreamBytes().size(), loginBytes);  // no logout to a server that left

    // A reset is noticed the same way, and the user can connect again.
    session.Connect();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    session.server->CloseStream(1, true);
    ASSERT_TRUE(inboundtest::WaitPeerGone(tsockfd));
    ProcessPackets();
    EXPECT_EQ(tcpconnected, 0);
    EXPECT_EQ(tsockfd, 0);
    EXPECT_EQ(session.server->StreamBytes(1).find("Closing"), std::string::npos);
}

// Twelve pilots join at once, as from a busy server, each load stalling its frame 200 ms: nearest first,
// only within sight, never two stalled frames running and at most a quarter of the time in loads; a
// model the pilot does not have loads the default one; a path an aircraft already has is not loaded.
void ExpectJoinersToLoadUnderTheBudget(simhost::XPlaneVersion version) {
    testsupport::ScratchDir scratch;
    ASSERT_TRUE(scratch.Ok());
    Session session(false);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    session.host.SetXPlaneVersion(version);
    session.host.SetModelLoadMs(200);
    for (const char *folder : {"Aircraft", "Aircraft/Laminar Research", "Aircraft/Laminar Research/Cessna 172 SP"})
        ASSERT_EQ(mkdir(scratch.Path(folder).c_str(), 0700), 0) << folder;
    const std::string stock = "Aircraft/Laminar Research/Cessna 172 SP/Cessna_172SP.acf";
    ASSERT_TRUE(scratch.Write(stock, "model"));
    session.Connect();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());

    // A location `km` east of the user, its local and world positions the same place.
    auto east = [&](int slot, double km) {
        inboundtest::Location location;
        location.slot = slot;
        double x = session.Ref("sim/flightmodel/position/local_x") + 1000 * km;
        double y = session.Ref("sim/flightmodel/position/local_y");
        double z = session.Ref("sim/flightmodel/position/local_z");
        double lat = 0, lon = 0, el = 0;
        simhost::LocalToWorldAbout(session.host.OriginLatitude(), session.host.OriginLongitude(), x, y, z, lat, lon,
                                   el);
        char text[6][64];
        const double values[6] = {x, y, z, lat, lon, el};
        for (int i = 0; i < 6; i++) {
            std::snprintf(text[i], sizeof text[i], "%.9f", values[i]);
            location.fields[(size_t)i] = text[i];
        }
        return location.Text();
    };
    // Slot k sits k km east of the user; slots 11 and 12 are beyond the 40 km range. Slot 6's model is
    // not installed here.
    std::string lines;
    std::vector<std::string> locations;
    for (int slot = 1; slot <= 12; slot++) {
        std::string file = "Aircraft/m" + std::to_string(slot) + ".acf";
        if (slot != 6) {
            ASSERT_TRUE(scratch.Write(file, "model"));
        }
        lines += std::to_string(slot) + "|p|" + file + "\n";
        locations.push_back(east(slot, slot <= 10 ? slot : 60));
    }
    session.SendDatagrams(locations);
    session.SendStream(lines);

    std::vector<std::pair<double, int>> loads;  // time, aircraft
    std::vector<std::string> before = session.host.Planes().models;
    long previousFrameLoads = 0, stallsRunning = 0;
    for (int frame = 0; frame < 60 * 15; frame++) {
        session.host.RunFrame();
        std::vector<std::string> now = session.host.Planes().models;
        long inFrame = 0;
        for (int n = 1; n <= 19; n++) {
            if (now[n] != before[n]) {
                loads.push_back({session.host.Now(), n});
                inFrame++;
            }
        }
        if (inFrame > 0 && previousFrameLoads > 0) stallsRunning++;
        previousFrameLoads = inFrame;
        before = now;
    }
    EXPECT_EQ(stallsRunning, 0) << "two stalled frames in a row";
    EXPECT_EQ(session.host.Planes().mostModelLoadsInFrame, 1);
    ASSERT_EQ(loads.size(), 10u) << "the ten within range, no more";
    for (size_t i = 0; i < loads.size(); i++) EXPECT_EQ(loads[i].second, (int)i + 1) << "nearest first";
    // 2 s of loads at a quarter of the time, a quarter of a second saved up: not before about 7 s.
    double spread = loads.back().first - loads.front().first;
    EXPECT_GT(spread, 6.0);
    EXPECT_LT(spread, 12.0);
    std::vector<std::string> models = session.host.Planes().models;
    EXPECT_EQ(models[6], scratch.Path(stock)) << "the default for a model not installed";
    EXPECT_EQ(models[11], "");
    EXPECT_EQ(models[12], "");

    // A peer flying into range gets its model; a pilot taking a slot whose aircraft already has the
    // same model costs no load.
    long count = session.host.Planes().modelLoads;
    std::string near = east(11, 5);
    session.SendStream("3|p|BLANK\n");
    session.host.RunFor(0.5);
    session.SendDatagrams({near, locations[2]});
    session.SendStream("3|p|Aircraft/m3.acf\n");
    session.host.RunFor(2.0);
    EXPECT_EQ(session.host.Planes().models[11], scratch.Path("Aircraft/m11.acf"));
    EXPECT_EQ(session.host.Planes().modelLoads, count + 1);
}

TEST(StreamPhase, JoinersLoadWithinRangeUnderTheStallBudgetInXPlane12) {
    ExpectJoinersToLoadUnderTheBudget(simhost::XPlaneVersion::XPlane12);
}
TEST(StreamPhase, JoinersLoadWithinRangeUnderTheStallBudgetInXPlane11) {
    ExpectJoinersToLoadUnderTheBudget(simhost::XPlaneVersion::XPlane11);
}
