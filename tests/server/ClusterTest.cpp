// Relay nodes joined through a real three-server NATS cluster: pilots on different nodes fly, talk and
// log in as one network, and the network survives a lost NATS server, a dead node and its return.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "tests/server/ClusterHarness.h"
#include "tests/support/Loopback.h"

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
    EXPECT_EQ(alpha_->CountInLog("client 1 (ANNA) gone"), 0u);

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
    EXPECT_TRUE(bravo_->WaitForLog("dropped a malformed network message on skorvale.net: no message of ours"));
    EXPECT_TRUE(bravo_->WaitForLog("dropped a network message on the wrong subject skorvale.net"));
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
    EXPECT_TRUE(alpha_->WaitForLog("calls itself pilot of crew 'Eagle', which client 3 flies"));
    EXPECT_TRUE(bravo_->WaitForLog("calls itself pilot of crew 'Eagle', which client 3 flies"));
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
    EXPECT_TRUE(bravo_->WaitForLog("calls itself pilot of crew 'Eagle', which client 1 flies"));
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

}  // namespace
}  // namespace servertest
