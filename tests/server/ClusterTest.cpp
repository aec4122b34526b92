// Relay nodes joined through a real three-server NATS cluster: pilots on different nodes fly, talk and
// log in as one network, and the network survives a lost NATS server, a dead node and its return.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "server/nats/Nkey.h"
#include "tests/server/ClusterHarness.h"
#include "tests/support/Command.h"
#include "tests/support/Loopback.h"
#include "tests/support/Paths.h"

namespace servertest {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class ClusterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(nats_.Ready()) << nats_.Log(0);
        // Each node tries a different server first, so the two talk across a route.
        alpha_ = StartNode(alphaAddress_, "alpha", nats_.Urls(0));
        bravo_ = StartNode(bravoAddress_, "bravo", nats_.Urls(1));
    }
    void TearDown() override {
        if (!HasFailure()) return;
        for (const auto *node : {alpha_.get(), bravo_.get()}) {
            if (node) std::cerr << "--- node at " << node->Address() << ":\n" << node->Log();
        }
    }

    // Joins a pilot who keeps reporting this position whenever the test waits for a slot, as a plug-in
    // does every frame.
    std::unique_ptr<ProtocolClient> Fly(const ServerProcess &node, int id, const std::string &callsign, double latitude,
                                        double longitude, const std::string &plane = "") {
        auto client = JoinAt(node, id, callsign, latitude, longitude, plane);
        flying_[client.get()] = {latitude, longitude};
        return client;
    }
    void Report() {
        for (const auto &[client, where] : flying_) client->SendLocation(where.first, where.second, 500, client->Id());
    }
    // The slots in which `client` shows the aircraft of `planes` (callsign to model), in whatever order
    // they come; each one's model line checked. Missing ones are absent from the result.
    std::map<std::string, std::string> SlotsWith(ProtocolClient &client,
                                                 const std::map<std::string, std::string> &planes) {
        std::map<std::string, std::string> slots, models;  // callsign to slot, slot to model
        for (int i = 0; i < 50 && slots.size() < planes.size(); ++i) {
            Report();
            for (const std::string &line : client.DrainLines(100)) {
                std::size_t bar = line.find('|');
                if (bar == std::string::npos || line.size() < bar + 3) continue;
                std::string slot = line.substr(0, bar), text = line.substr(bar + 3);
                if (line[bar + 1] == 'c' && planes.count(text) != 0) slots[text] = slot;
                if (line[bar + 1] == 'p') models[slot] = text;
            }
        }
        for (const auto &[callsign, slot] : slots) EXPECT_EQ(models[slot], planes.at(callsign)) << callsign;
        return slots;
    }
    std::string SlotWith(ProtocolClient &client, const std::string &callsign, const std::string &plane) {
        return SlotsWith(client, {{callsign, plane}})[callsign];
    }

    NatsCluster nats_;
    std::string alphaAddress_ = testsupport::UniqueLoopbackAddress();
    std::string bravoAddress_ = testsupport::UniqueLoopbackAddress();
    std::unique_ptr<ServerProcess> alpha_, bravo_;
    std::map<ProtocolClient *, std::pair<double, double>> flying_;
};

TEST_F(ClusterTest, PilotsOnDifferentNodesFlyTalkAndLogInAsOneNetwork) {
    const std::string swift = "Aircraft/Gliders/Swift/swift.acf";
    auto anna = Fly(*alpha_, 1, "ANNA", 47.0, 8.0);
    auto ben = Fly(*bravo_, 2, "BEN", 47.01, 8.01, swift);

    // Each sees the other with its callsign and model, and its positions byte for byte.
    std::string benSlot = SlotWith(*anna, "BEN", swift);
    std::string annaSlot = SlotWith(*ben, "ANNA", "Aircraft/General/ANNA/ANNA.acf");
    ASSERT_FALSE(benSlot.empty() || annaSlot.empty());
    ben->SendLocation(47.02, 8.03, 650, 77);
    EXPECT_EQ(anna->WaitForDatagram(benSlot + "|l|77|"), benSlot + "|l|" + LocationFields(47.02, 8.03, 650, 77));
    anna->SendLocation(47.0, 8.0, 500, 78);
    EXPECT_EQ(ben->WaitForDatagram(annaSlot + "|l|78|"), annaSlot + "|l|" + LocationFields(47.0, 8.0, 500, 78));

    // Chat and identity changes cross.
    anna->SendLine("1|MESSAGE|hello bravo");
    EXPECT_TRUE(ben->WaitForLine("0|m|ANNA: hello bravo"));
    ben->SendIdentity("BEN2", swift);
    EXPECT_TRUE(anna->WaitForLine(benSlot + "|c|BEN2"));

    // A unique ID online on one node is refused on another, for another user.
    ProtocolClient mallory(bravoAddress_, 1);
    mallory.Login("mallory");
    EXPECT_TRUE(mallory.WaitClosed(6000));
    EXPECT_TRUE(bravo_->WaitForLog("unique ID 1 is logged in on node alpha"));
    EXPECT_EQ(alpha_->CountInLog("client 1 \"ANNA\" gone"), 0u);

    // A node that joins late learns who flies, in what, and where they were last, without waiting for them.
    flying_.clear();
    std::string charlieAddress = testsupport::UniqueLoopbackAddress();
    auto charlie =
        StartNode(charlieAddress, "charlie", nats_.Urls(2), {"--open", "--metrics-listen", charlieAddress + ":9480"});
    auto carl = JoinAt(*charlie, 3, "CARL", 47.005, 8.005);
    // Ready once joined (its NATS connection and the login store answer), and counting the others' aircraft.
    std::string metrics;
    for (auto deadline = Clock::now() + std::chrono::seconds(3); Clock::now() < deadline;) {
        HttpGet(charlieAddress + ":9480", "/metrics", &metrics);
        if (metrics.find("skorvale_network_remote_aircraft 2\n") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_NE(metrics.find("skorvale_network_remote_aircraft 2\n"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("skorvale_login_store_ready 1\n"), std::string::npos);
    EXPECT_EQ(HttpGet(charlieAddress + ":9480", "/readyz", &metrics), 200) << metrics;
    auto atCarl = SlotsWith(*carl, {{"ANNA", "Aircraft/General/ANNA/ANNA.acf"}, {"BEN2", swift}});
    std::string annaAtCarl = atCarl["ANNA"], benAtCarl = atCarl["BEN2"];
    ASSERT_FALSE(annaAtCarl.empty() || benAtCarl.empty());
    std::set<std::string> lastSeen, expected = {annaAtCarl + "|l|" + LocationFields(47.0, 8.0, 500, 78),
                                                benAtCarl + "|l|" + LocationFields(47.02, 8.03, 650, 77)};
    for (int i = 0; i < 30 && lastSeen != expected; ++i) {
        if (auto datagram = carl->ReadDatagram(100); datagram && expected.count(*datagram)) lastSeen.insert(*datagram);
    }
    EXPECT_EQ(lastSeen, expected);
    // Other nodes' aircraft take the slots a plug-in asks for like local ones: asking for one slot keeps
    // only the nearest (Anna, 700 m from Carl; Ben is 2.5 km away), in slot 1.
    carl->SendLine("3|SLOTS|1|");
    std::map<std::string, std::string> carlSlots = {{annaAtCarl, "ANNA"}, {benAtCarl, "BEN2"}};
    for (const std::string &line : carl->DrainLines(2000)) {
        std::size_t bar = line.find('|');
        if (bar == std::string::npos || line.compare(bar, 3, "|c|") != 0) continue;
        if (line.substr(bar + 3) == "BLANK") {
            carlSlots.erase(line.substr(0, bar));
        } else {
            carlSlots[line.substr(0, bar)] = line.substr(bar + 3);
        }
    }
    EXPECT_EQ(carlSlots, (std::map<std::string, std::string>{{"1", "ANNA"}}));
    // Back to 19: Ben comes back, in whichever slot is free.
    carl->SendLine("3|SLOTS|19|");
    benAtCarl.clear();
    for (int i = 0; i < 30 && benAtCarl.empty(); ++i) {
        for (const std::string &line : carl->DrainLines(100)) {
            std::size_t bar = line.find("|c|BEN2");
            if (bar != std::string::npos && bar + 7 == line.size()) benAtCarl = line.substr(0, bar);
        }
    }
    ASSERT_FALSE(benAtCarl.empty());

    // Positions only go where a pilot is near: Dan, on the other side of the world, is named at alpha but
    // not shown until Anna flies to him.
    auto dan = JoinAt(*bravo_, 4, "DAN", 10.5, 100.5);
    bool shownEarly = false;
    for (int i = 0; i < 10 && !shownEarly; ++i) {
        dan->SendLocation(10.5, 100.5, 500, 4);
        shownEarly = anna->WaitForSlot("DAN", 50) != 0;
    }
    EXPECT_FALSE(shownEarly);
    int danSlot = 0;
    for (int i = 0; i < 60 && danSlot == 0; ++i) {
        anna->SendLocation(10.6, 100.6, 500, 1);
        dan->SendLocation(10.5, 100.5, 500, 4);
        danSlot = anna->WaitForSlot("DAN", 50);
    }
    EXPECT_NE(danSlot, 0);

    // The network is no more trusted than a client: garbage, messages on the wrong subject, a location of
    // Anna's from a node she does not fly on, and a message under the receiver's own name are dropped
    // with a log line, and nothing of them reaches a pilot.
    std::string annaCell = "skorvale.loc.10.100";
    int annaAtDan = dan->WaitForSlot("ANNA", 3000);
    EXPECT_NE(annaAtDan, 0);
    ASSERT_TRUE(nats_.Publish(2, "skorvale.net", "no message of ours"));
    ASSERT_TRUE(nats_.Publish(2, "skorvale.net", "L\nmallory\n1\n" + LocationFields(10.6, 100.6, 500, 666)));
    ASSERT_TRUE(nats_.Publish(2, annaCell, "L\nmallory\n1\n" + LocationFields(10.6, 100.6, 500, 666)));
    ASSERT_TRUE(nats_.Publish(2, "skorvale.net", "M\nbravo\nforged chat"));
    EXPECT_TRUE(bravo_->WaitForLog("dropped a malformed network message on \"skorvale.net\": \"no message of ours\""));
    EXPECT_TRUE(bravo_->WaitForLog("dropped a network message on the wrong subject \"skorvale.net\""));
    EXPECT_TRUE(bravo_->WaitForLog("dropped a location of aircraft 1 from node mallory: it flies on node alpha"));
    EXPECT_TRUE(bravo_->WaitForLog("another node that calls itself bravo"));
    for (const std::string &line : ben->DrainLines(300)) EXPECT_EQ(line.find("forged"), std::string::npos);
    EXPECT_FALSE(dan->WaitForDatagram(std::to_string(annaAtDan) + "|l|666|", 300));

    // Another pilot's callsign, in another case and with a space, taken on another node: every node shows
    // it with a suffix, and its chat goes out under it.
    ben->SendIdentity(" anna", swift);
    EXPECT_TRUE(anna->WaitForLine(benSlot + "|c|anna (2)"));
    EXPECT_TRUE(carl->WaitForLine(benAtCarl + "|c|anna (2)"));
    ben->SendLine("2|MESSAGE|meet at LSZH");
    EXPECT_TRUE(anna->WaitForLine("0|m|anna (2): meet at LSZH"));

    // A crew belongs to the pilot who claimed it first, on whichever node, not to the one who logged in
    // first: Anna, on the network longest, names Carl's crew as its pilot, and Carl's crew member on
    // another node keeps flying with Carl.
    carl->SendIdentity("CARL", "Aircraft/General/CARL/CARL.acf", "Eagle", 0);
    dan->SendIdentity("DAN", "Aircraft/General/DAN/DAN.acf", "Eagle", 1);
    // Carl is in one of Dan's slots already: the slot told the crew ID is his.
    std::string carlAtDan;
    for (int i = 0; i < 50 && carlAtDan.empty(); ++i) {
        Report();
        for (const std::string &line : dan->DrainLines(100)) {
            std::size_t bar = line.find("|I|Eagle");
            if (bar != std::string::npos && bar + 8 == line.size()) carlAtDan = line.substr(0, bar);
        }
    }
    ASSERT_FALSE(carlAtDan.empty());
    EXPECT_NE(carlAtDan, std::to_string(annaAtDan));
    anna->SendIdentity("ANNA", "Aircraft/General/ANNA/ANNA.acf", "Eagle", 0);
    EXPECT_TRUE(alpha_->WaitForLog("calls itself pilot of crew \"Eagle\", which client 3 flies"));
    EXPECT_TRUE(bravo_->WaitForLog("calls itself pilot of crew \"Eagle\", which client 3 flies"));
    for (const std::string &line : dan->DrainLines(500)) {
        EXPECT_NE(line, std::to_string(annaAtDan) + "|I|Eagle") << "Anna was handed Carl's crew";
    }

    // A pilot who logs out leaves every node's view.
    ben->SendLine("2|Closing Connection");
    EXPECT_TRUE(anna->WaitForLine(benSlot + "|c|BLANK"));
    EXPECT_TRUE(carl->WaitForLine(benAtCarl + "|c|BLANK"));
}

TEST_F(ClusterTest, LostServersAreRoutedAroundAndDeadNodesLeaveAndRejoin) {
    auto anna = Fly(*alpha_, 1, "ANNA", 47.0, 8.0);
    auto ben = Fly(*bravo_, 2, "BEN", 47.01, 8.01);
    std::string slot = SlotWith(*anna, "BEN", "Aircraft/General/BEN/BEN.acf");
    ASSERT_FALSE(slot.empty());

    // Crew ownership holds across nodes: Anna took crew "Eagle" first, so Eve, a later pilot of it on
    // bravo, is not given Cole, its crew member there; Cole flies with Anna.
    anna->SendIdentity("ANNA", "Aircraft/General/ANNA/ANNA.acf", "Eagle", 0);
    ASSERT_TRUE(alpha_->WaitForLog("client 1 sends its datagrams"));
    auto eve = Fly(*bravo_, 5, "EVE", 47.02, 8.02);
    eve->SendIdentity("EVE", "Aircraft/General/EVE/EVE.acf", "Eagle", 0);
    EXPECT_TRUE(bravo_->WaitForLog("calls itself pilot of crew \"Eagle\", which client 1 flies"));
    auto cole = Fly(*bravo_, 6, "COLE", 47.0, 8.0);
    cole->SendIdentity("COLE", "Aircraft/General/COLE/COLE.acf", "Eagle", 1);
    std::map<std::string, std::string> slotOf, crewOf;  // callsign to slot, slot to crew ID
    for (int i = 0; i < 30 && (crewOf[slotOf["ANNA"]] != "Eagle" || crewOf[slotOf["EVE"]].empty()); ++i) {
        Report();
        for (const std::string &line : cole->DrainLines(100)) {
            std::size_t bar = line.find('|');
            if (bar == std::string::npos || line.size() < bar + 3) continue;
            if (line[bar + 1] == 'c') slotOf[line.substr(bar + 3)] = line.substr(0, bar);
            if (line[bar + 1] == 'I') crewOf[line.substr(0, bar)] = line.substr(bar + 3);
        }
    }
    EXPECT_EQ(crewOf[slotOf["ANNA"]], "Eagle");
    EXPECT_EQ(crewOf[slotOf["EVE"]], "BLANK");
    flying_.erase(eve.get());
    flying_.erase(cole.get());
    eve.reset();
    cole.reset();

    // Ben keeps flying at 50 Hz while the server alpha talks through dies; alpha moves to the next one.
    std::atomic<bool> flying{true};
    std::thread pilot([&] {
        auto end = Clock::now() + std::chrono::seconds(10);
        for (int marker = 1000; flying && Clock::now() < end; ++marker) {
            ben->SendLocation(47.01, 8.01, 500, marker);
            anna->SendLocation(47.0, 8.0, 500, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    auto longestGap = [&](int ms) {
        long long longest = 0;
        auto start = Clock::now(), last = Clock::now();
        while (MillisecondsSince(start) < ms) {
            auto datagram = anna->ReadDatagram(ms);
            if (datagram && datagram->rfind(slot + "|l|", 0) == 0) {
                longest = std::max(longest, MillisecondsSince(last));
                last = Clock::now();
            }
        }
        return std::max(longest, MillisecondsSince(last));
    };
    EXPECT_LT(longestGap(500), 500);
    nats_.Kill(0);
    EXPECT_LT(longestGap(3000), 2000);
    EXPECT_TRUE(alpha_->WaitForLog("joined the network through " + nats_.Url(1)));
    flying = false;
    pilot.join();
    for (const std::string &line : anna->DrainLines(100)) EXPECT_NE(line, slot + "|c|BLANK");

    // A node that dies leaves the others' views within 5 s.
    auto died = Clock::now();
    bravo_->Stop(SIGKILL);
    EXPECT_TRUE(anna->WaitForLine(slot + "|c|BLANK", 6000));
    EXPECT_LT(MillisecondsSince(died), 5000);

    // It comes back under its name; its pilot logs in again (same user, same address) and is seen again.
    bravo_ = StartNode(bravoAddress_, "bravo", nats_.Urls(1));
    flying_.clear();
    auto back = Fly(*bravo_, 2, "BEN", 47.01, 8.01);
    EXPECT_FALSE(SlotWith(*anna, "BEN", "Aircraft/General/BEN/BEN.acf").empty());
    EXPECT_EQ(bravo_->CountInLog("refused login"), 0u) << bravo_->Log();
}

TEST_F(ClusterTest, NodesOfTheFirstProtocolAndOfTodaysRelayToEachOther) {
    // A pilot on alpha where the recorded session flew; the old nodes' messages replayed as they were sent.
    auto eve = Fly(*alpha_, 201, "EVE", 47.5, 8.5);
    ASSERT_EQ(eve->WaitForSlot("EVE", 300), 0);
    std::vector<RecordedMessage> recorded = RecordedFirstProtocol();
    ASSERT_FALSE(recorded.empty());
    std::size_t kick = 0;
    while (kick < recorded.size() && recorded[kick].payload[0] != 'K') ++kick;
    std::vector<std::string> beats;
    for (std::size_t i = 0; i < kick; ++i) {
        ASSERT_TRUE(nats_.Publish(2, recorded[i].subject, recorded[i].payload));
        if (recorded[i].payload[0] == 'H') beats.push_back(recorded[i].payload);
    }
    std::map<std::string, std::string> slotOf, modelOf;  // callsign to slot, slot to model
    std::set<std::string> said;
    for (int i = 0; i < 40 && (slotOf.size() < 2 || said.size() < 2); ++i) {
        // The old nodes stay alive as long as their heartbeats come.
        if (i % 5 == 0) {
            for (const std::string &beat : beats) nats_.Publish(2, "skorvale.net", beat);
        }
        Report();
        for (const std::string &line : eve->DrainLines(100)) {
            std::size_t bar = line.find('|');
            if (line.find("hello from") != std::string::npos) said.insert(line);
            if (bar != std::string::npos && line.compare(bar, 3, "|c|") == 0 && line.substr(bar + 3) != "BLANK") {
                slotOf[line.substr(bar + 3)] = line.substr(0, bar);
            }
            if (bar != std::string::npos && line.compare(bar, 3, "|p|") == 0)
                modelOf[line.substr(0, bar)] = line.substr(bar + 3);
        }
    }
    EXPECT_EQ(slotOf.count("ANNA"), 1u);
    EXPECT_EQ(slotOf.count("BEN"), 1u);
    EXPECT_EQ(slotOf.count("CARL"), 0u) << "a crew member sits in its pilot's aircraft";
    EXPECT_EQ(modelOf[slotOf["ANNA"]], "Aircraft/Laminar Research/Cessna 172SP/Cessna_172SP.acf");
    EXPECT_EQ(said, (std::set<std::string>{"0|m|ANNA: hello from alpha", "0|m|BEN: hello from bravo"}));

    // The rest: Ben's session moves, Carl logs out, the nodes leave; their pilots leave Eve's view.
    for (std::size_t i = kick; i < recorded.size(); ++i) {
        ASSERT_TRUE(nats_.Publish(2, recorded[i].subject, recorded[i].payload));
    }
    std::vector<std::string> seen;
    EXPECT_TRUE(eve->WaitForLine(slotOf["ANNA"] + "|c|BLANK", 5000, &seen));
    EXPECT_EQ(alpha_->CountInLog("malformed"), 0u) << alpha_->Log();

    // A node of this build told to speak the first version: alpha reads it, and says how to upgrade.
    std::string charlieAddress = testsupport::UniqueLoopbackAddress();
    auto charlie = StartNode(charlieAddress, "charlie", nats_.Urls(2), {"--open", "--cluster-protocol", "1"});
    auto fred = Fly(*charlie, 202, "FRED", 47.51, 8.51);
    EXPECT_FALSE(SlotWith(*eve, "FRED", "Aircraft/General/FRED/FRED.acf").empty());
    EXPECT_FALSE(SlotWith(*fred, "EVE", "Aircraft/General/EVE/EVE.acf").empty());
    fred->SendLine("202|MESSAGE|old and new");
    EXPECT_TRUE(eve->WaitForLine("0|m|FRED: old and new"));
    EXPECT_TRUE(alpha_->WaitForLog("node \"charlie\" speaks cluster protocol 1"));
    EXPECT_EQ(charlie->CountInLog("speaks cluster protocol"), 0u) << charlie->Log();

    // A message claiming a version newer than any node reads is dropped with a line saying so.
    ASSERT_TRUE(nats_.Publish(2, "skorvale.net", "M3\nbravo\nfrom the future"));
    EXPECT_TRUE(alpha_->WaitForLog("dropped a network message of cluster protocol 3 on \"skorvale.net\""));
    for (const std::string &line : eve->DrainLines(300)) EXPECT_EQ(line.find("future"), std::string::npos);
}

TEST_F(ClusterTest, KicksAndBansGivenOnOneNodeApplyOnEvery) {
    std::string dir = testsupport::MakeTempDir("cluster-admin");
    std::string socket = dir + "/admin.sock";
    alpha_.reset();
    alpha_ = StartNode(alphaAddress_, "alpha", nats_.Urls(0), {"--open", "--admin-socket", socket});
    auto admin = [&](const std::string &words) {
        return testsupport::RunCaptured(
            "'" + std::string(testsupport::ServerPath()) + "' admin --socket " + socket + " " + words, dir);
    };
    auto ben = Fly(*bravo_, 2, "BEN", 47.0, 8.0);
    ASSERT_TRUE(alpha_->WaitForLog("hears node bravo", 5000));

    // Who is online names the node each pilot flies on.
    testsupport::CommandResult who;
    for (int i = 0; i < 50 && who.out.find("\nBEN\t") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        who = admin("who");
    }
    EXPECT_NE(who.out.find("\nBEN\tBEN\t-\tbravo\t"), std::string::npos) << who.out << who.err;

    // Ben flies on bravo; the operator of alpha kicks him.
    testsupport::CommandResult kicked = admin("kick BEN rude");
    EXPECT_EQ(kicked.exitCode, 0) << kicked.err;
    EXPECT_TRUE(ben->WaitForLine("9001|m|Server: session ended: kicked by the operator: rude"));
    EXPECT_TRUE(bravo_->WaitForLog("admin (node alpha, uid "));

    // A ban given on alpha keeps him out of bravo until it is lifted there too.
    ASSERT_EQ(admin("ban BEN --for 1h spam").exitCode, 0);
    ASSERT_TRUE(bravo_->WaitForLog("banned \"BEN\" until"));
    ProtocolClient banned(bravoAddress_, 3);
    banned.Login("BEN");
    auto notice = banned.ReadLine(2000);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->rfind("9001|m|Server: login refused: banned until ", 0), 0u) << *notice;
    ASSERT_EQ(admin("unban BEN").exitCode, 0);
    ASSERT_TRUE(bravo_->WaitForLog("lifted the ban on \"BEN\""));
    flying_.clear();
    auto back = Fly(*bravo_, 4, "BEN", 47.0, 8.0);
    EXPECT_TRUE(back->Connected());

    // The bans are kept in the network's store as well: a node started afterwards learns those in force
    // (Carl's), not an ended one (Dave's), and a lifted one (Ben's) goes from its own stale --bans file.
    ASSERT_EQ(admin("ban CARL cheating").exitCode, 0);
    ASSERT_EQ(admin("ban DAVE --for 1s").exitCode, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::ofstream(dir + "/charlie.bans") << "BEN\t1700000000\t0\tuid 0\tan old ban\n";
    // Whatever else is written into the store is left aside.
    ASSERT_TRUE(nats_.Publish(2, "$KV.skorvale_bans.ban.junk", "B2\nmallory\nnot a ban"));
    auto charlie = StartNode(testsupport::UniqueLoopbackAddress(), "charlie", nats_.Urls(2),
                             {"--open", "--bans", dir + "/charlie.bans"});
    ASSERT_TRUE(charlie->WaitForLog("read the network's ban store: 1 bans in force, 2 lifted or ended", 5000))
        << charlie->Log();
    EXPECT_EQ(charlie->CountInLog("left 1 unreadable entries of the network's ban store aside"), 1u);
    ProtocolClient carl(charlie->Address(), 5);
    carl.Login("CARL");
    notice = carl.ReadLine(2000);
    ASSERT_TRUE(notice);
    EXPECT_EQ(*notice, "9001|m|Server: login refused: banned: cheating");
    for (auto [id, user] : {std::pair<int, const char *>{6, "DAVE"}, {7, "BEN"}}) {
        EXPECT_TRUE(JoinAt(*charlie, id, user)->Connected()) << user << "\n" << charlie->Log();
    }
    EXPECT_EQ(testsupport::ReadFile(dir + "/charlie.bans").find("BEN"), std::string::npos);
    testsupport::RemoveTree(dir);
}

TEST(SecuredClusterTest, NodesUseTlsAndCredentialsAndKeepTheSecretsOutOfTheLog) {
    std::string dir = testsupport::MakeTempDir("nats-tls");
    // The server's certificate names the address it listens on, which the harness takes next: a process has
    // four addresses, handed out in turn, so the one after three more is this one again.
    std::string address = testsupport::UniqueLoopbackAddress();
    for (int i = 0; i < 3; ++i) testsupport::UniqueLoopbackAddress();
    // A CA of the test's own and a server certificate for the loopback address the server listens on.
    std::string openssl =
        "cd " + dir +
        " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=ca "
        ">/dev/null 2>&1 && openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=nats "
        ">/dev/null 2>&1 && printf 'subjectAltName=IP:%s\\n' " +
        address +
        " > san && openssl x509 -req -in "
        "server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile san >/dev/null 2>&1 "
        "&& printf 'open-sesame\\n' > password && printf 'wrong\\n' > wrong";
    ASSERT_EQ(std::system(openssl.c_str()), 0);
    NatsCluster nats(1, {"--tls", "--tlscert", dir + "/server.pem", "--tlskey", dir + "/server.key", "--user", "node",
                         "--pass", "open-sesame"});
    ASSERT_TRUE(nats.Ready()) << nats.Log(0);
    ASSERT_EQ(nats.Address(), address);
    std::string url = "tls://" + address + ":14222";
    auto node = StartNode(testsupport::UniqueLoopbackAddress(), "alpha", url,
                          {"--open", "--store-replicas", "1", "--nats-user", "node", "--nats-password-file",
                           dir + "/password", "--nats-tls-ca", dir + "/ca.pem"});
    ASSERT_TRUE(node->WaitForLog("login store ready"));
    auto pilot = JoinAt(*node, 1, "ANNA");
    EXPECT_TRUE(pilot->Connected());
    EXPECT_EQ(node->CountInLog("open-sesame"), 0u) << node->Log();
    testsupport::CommandResult printed = testsupport::RunCaptured(
        "'" + std::string(testsupport::ServerPath()) +
            "' --print-config --open --node alpha --nats tls://node:open-sesame@" + address + ":14222",
        dir);
    EXPECT_NE(printed.out.find("tls://" + address + ":14222"), std::string::npos) << printed.out << printed.err;
    EXPECT_EQ(printed.out.find("open-sesame"), std::string::npos) << printed.out;

    // A wrong password, or no CA to check the server by, gets nowhere.
    for (std::vector<std::string> flags :
         {std::vector<std::string>{"--nats-user", "node", "--nats-password-file", dir + "/wrong", "--nats-tls-ca",
                                   dir + "/ca.pem"},
          std::vector<std::string>{"--nats-user", "node", "--nats-password-file", dir + "/password"}}) {
        flags.insert(flags.begin(), {"--open", "--store-replicas", "1", "--nats", url, "--node", "bravo"});
        ServerProcess refused(testsupport::UniqueLoopbackAddress(), flags);
        EXPECT_FALSE(refused.WaitForLog("login store ready", 2000)) << refused.Log();
        EXPECT_EQ(refused.CountInLog("open-sesame"), 0u);
    }
    testsupport::RemoveTree(dir);
}

TEST(SecuredClusterTest, NodesProveThemselvesWithAnNkeyAndBadSeedFilesStopTheStart) {
    std::string dir = testsupport::MakeTempDir("nats-nkey");
    // Two user pairs of random key material; the server knows the first one's public key only.
    std::random_device random;
    auto newSeed = [&] {
        std::string material;
        for (int i = 0; i < 32; ++i) material += static_cast<char>(random() & 0xff);
        return server::NkeyUserSeed(material);
    };
    std::string seed = newSeed(), other = newSeed();
    auto write = [&](const std::string &name, const std::string &text) {
        std::ofstream(dir + "/" + name) << text;
        return dir + "/" + name;
    };
    std::string seedFile = write("node.nk", seed + "\n"), otherFile = write("other.nk", other + "\n");
    std::string publicKey = server::NkeyPublicKeyOfSeedFile(seedFile);
    ASSERT_EQ(publicKey.size(), 56u);
    ASSERT_EQ(publicKey[0], 'U');
    write("nats.conf", "authorization { users = [ { nkey: \"" + publicKey + "\" } ] }\n");
    NatsCluster nats(1, {"-c", dir + "/nats.conf"});
    ASSERT_TRUE(nats.Ready()) << nats.Log(0);

    // A file that cannot serve stops the node at its start, saying why, and never shows what it holds (each
    // node run on an address of its own, with nothing else on it).
    std::string server = "'" + std::string(testsupport::ServerPath()) + "'";
    std::string damaged = seed;
    damaged[20] = damaged[20] == 'A' ? 'B' : 'A';
    std::string operatorSeed = "SO" + seed.substr(2);
    std::vector<std::pair<std::string, std::string>> bad = {
        {dir + "/missing.nk", "cannot read it"},
        {write("empty.nk", "\n# nothing here\n"), "holds no user nkey seed"},
        {write("operator.nk", operatorSeed + "\n"), "holds no user nkey seed"},
        {write("short.nk", seed.substr(0, 40) + "\n"), "is not a valid nkey seed"},
        {write("damaged.nk", damaged + "\n"), "its checksum does not match"},
        {write("both.nk", seed + "\n"), ""}};  // with a user too: one way to prove the node, not two
    for (const auto &[file, why] : bad) {
        std::string flags = " --open --address " + testsupport::UniqueLoopbackAddress() + " --nats " + nats.Url(0) +
                            " --node charlie --nats-nkey " + file;
        if (why.empty()) flags += " --nats-user node --nats-password-file " + file;
        testsupport::CommandResult result = testsupport::RunCaptured("timeout 20 " + server + flags, dir);
        std::string said = result.out + result.err;
        EXPECT_EQ(result.exitCode, 1) << file << ": " << said;
        EXPECT_NE(said.find(why.empty() ? "cannot be given with --nats-creds or --nats-user" : why), std::string::npos)
            << file << ": " << said;
        EXPECT_EQ(said.find(seed.substr(2, 30)), std::string::npos) << said;
    }

    // The server checks the node's signature, made by the NATS library from the seed, against the public
    // key derived here.
    auto node = StartNode(testsupport::UniqueLoopbackAddress(), "alpha", nats.Url(0),
                          {"--open", "--store-replicas", "1", "--nats-nkey", seedFile});
    ASSERT_TRUE(node->WaitForLog("login store ready")) << node->Log() << nats.Log(0);
    EXPECT_TRUE(JoinAt(*node, 1, "ANNA")->Connected());
    EXPECT_EQ(node->CountInLog(seed), 0u);
    testsupport::CommandResult printed = testsupport::RunCaptured(
        server + " --print-config --open --node alpha --nats " + nats.Url(0) + " --nats-nkey " + seedFile, dir);
    EXPECT_NE(printed.out.find("nats-nkey=\"" + seedFile + "\""), std::string::npos) << printed.out;
    EXPECT_EQ(printed.out.find(seed), std::string::npos);

    // A seed of another pair is refused by the server.
    ServerProcess stranger(
        testsupport::UniqueLoopbackAddress(),
        {"--open", "--store-replicas", "1", "--nats", nats.Url(0), "--node", "bravo", "--nats-nkey", otherFile});
    EXPECT_FALSE(stranger.WaitForLog("login store ready", 2000)) << stranger.Log();

    testsupport::RemoveTree(dir);
}

}  // namespace
}  // namespace servertest
