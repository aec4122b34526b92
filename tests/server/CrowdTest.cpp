// Many aircraft: a receiver shows the nearest 19 with stable slots, or as many as its plug-in asks for (up to 63).
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "tests/server/ServerHarness.h"

namespace servertest {
namespace {

class CrowdTest : public ServerTest {};

// Applies "<slot>|c|<callsign>" lines to a receiver's table of callsign per slot, as the plug-in does.
void Apply(const std::vector<std::string> &lines, std::map<int, std::string> *table) {
    std::regex callsign("^(\\d+)\\|c\\|(.*)$");
    for (const auto &line : lines) {
        std::smatch match;
        if (!std::regex_match(line, match, callsign)) continue;
        int slot = std::stoi(match[1]);
        if (match[2] == "BLANK") {
            table->erase(slot);
        } else {
            (*table)[slot] = match[2];
        }
    }
}

TEST_F(CrowdTest, NearestNineteenHoldTheSlotsAndSwapOnlyForAClearlyNearerAircraft) {
    StartServer();
    auto receiver = Join(1000, "Rx", 47.0, 8.0);
    std::vector<std::unique_ptr<ProtocolClient>> others;
    // Aircraft k sits k kilometres north of the receiver (0.009 degrees of latitude is about 1 km).
    for (int k = 1; k <= 25; ++k) others.push_back(Join(k, "A" + std::to_string(k), 47.0 + 0.009 * k, 8.0));

    std::map<int, std::string> table;
    Apply(receiver->DrainLines(2500), &table);
    std::set<std::string> shown;
    for (const auto &[slot, name] : table) {
        EXPECT_GE(slot, 1);
        EXPECT_LE(slot, 19);
        shown.insert(name);
    }
    std::set<std::string> nearest;
    for (int k = 1; k <= 19; ++k) nearest.insert("A" + std::to_string(k));
    EXPECT_EQ(shown, nearest);

    // A24 comes to 3.5 km and A2 goes to 30 km: they swap, and nobody else moves.
    std::map<int, std::string> before = table;
    others[23]->SendLocation(47.0 + 0.009 * 3.5, 8.0, 500, 24);
    others[1]->SendLocation(47.0 + 0.009 * 30, 8.0, 500, 2);
    Apply(receiver->DrainLines(2500), &table);
    int changed = 0;
    for (const auto &[slot, name] : table) {
        if (before[slot] != name) ++changed;
    }
    EXPECT_EQ(changed, 1);
    std::set<std::string> now;
    for (const auto &[slot, name] : table) now.insert(name);
    EXPECT_EQ(now.count("A24"), 1u);
    EXPECT_EQ(now.count("A2"), 0u);
    EXPECT_EQ(table.size(), 19u);

    // A20 (just outside) creeping a little nearer than the farthest shown one is not enough to swap.
    others[19]->SendLocation(47.0 + 0.009 * 18.9, 8.0, 500, 20);
    std::vector<std::string> lines = receiver->DrainLines(2500);
    for (const auto &line : lines) EXPECT_EQ(line.find("|c|"), std::string::npos) << line;

    // When a shown aircraft leaves, the freed slot goes to the nearest one not shown.
    others[0]->SendLine("1|Closing Connection");
    Apply(receiver->DrainLines(2500), &table);
    now.clear();
    for (const auto &[slot, name] : table) now.insert(name);
    EXPECT_EQ(now.count("A1"), 0u);
    EXPECT_EQ(now.count("A20"), 1u);
    EXPECT_EQ(table.size(), 19u);
}

// 200 pilots online: a plug-in asking for 63 slots gets the nearest 63, numbered up to 63; one that never
// asks gets the nearest 19 in slots 1..19 only, on the stream and in datagrams; a number out of bounds
// changes nothing, and asking for 19 again blanks every slot above 19.
TEST_F(CrowdTest, APluginAskingForSixtyThreeGetsThemAndOneThatNeverAsksStaysWithinNineteen) {
    StartServer({"--open", "--max-sessions-per-address", "300", "--max-pending-per-address", "300", "--motd", "hello"});
    auto wide = Join(1000, "Wide", 47.0, 8.0);
    auto old = Join(1001, "Old", 47.0, 8.0);
    wide->SendLine("1000|SLOTS|63|");
    // Aircraft k sits k * 100 m north of the receivers, with gaps of 10 km after the 19th and 20 km after the
    // 63rd, so that the aircraft holding a slot never outweigh a nearer one. The log's budget leaves out
    // most of 200 logins, so each pilot waits for the server's greeting instead; then all report their
    // positions, the nearest first, until the receivers show the nearest (or 10 s pass).
    std::vector<std::unique_ptr<ProtocolClient>> others;
    for (int k = 1; k <= 200; ++k) {
        others.push_back(std::make_unique<ProtocolClient>(server_->Address(), k));
        others.back()->Login("A" + std::to_string(k));
        others.back()->SendIdentity("A" + std::to_string(k), "Aircraft/General/A/A.acf");
    }
    for (auto &other : others) ASSERT_TRUE(other->WaitForLine("0|m|Server: hello", 5000));
    auto namesOf = [](const std::map<int, std::string> &table) {
        std::set<std::string> names;
        for (const auto &[slot, name] : table) names.insert(name);
        return names;
    };
    // The two receivers sit together: each is the other's nearest.
    auto nearest = [](int count, const std::string &receiver) {
        std::set<std::string> names = {receiver};
        for (int k = 1; k < count; ++k) names.insert("A" + std::to_string(k));
        return names;
    };
    std::map<int, std::string> wideTable, oldTable;
    auto latitude = [](int k) { return 47.0 + 0.0009 * k + (k > 19 ? 0.09 : 0) + (k > 63 ? 0.18 : 0); };
    for (int round = 0;
         round < 40 && (namesOf(wideTable) != nearest(63, "Old") || namesOf(oldTable) != nearest(19, "Wide"));
         ++round) {
        for (int k = 1; k <= 200; ++k) others[static_cast<std::size_t>(k - 1)]->SendLocation(latitude(k), 8.0, 500, k);
        Apply(wide->DrainLines(250), &wideTable);
        Apply(old->DrainLines(0), &oldTable);
    }
    Apply(wide->DrainLines(1500), &wideTable);
    Apply(old->DrainLines(0), &oldTable);
    ASSERT_EQ(wideTable.size(), 63u);
    EXPECT_EQ(wideTable.begin()->first, 1);
    EXPECT_EQ(wideTable.rbegin()->first, 63);
    EXPECT_EQ(namesOf(wideTable), nearest(63, "Old"));
    ASSERT_EQ(oldTable.size(), 19u);
    EXPECT_EQ(oldTable.rbegin()->first, 19);
    EXPECT_EQ(namesOf(oldTable), nearest(19, "Wide"));
    // Positions too: the old plug-in is sent no slot number above 19.
    others.front()->SendLocation(latitude(1), 8.0, 500, 1);
    ASSERT_TRUE(old->WaitForDatagram(std::to_string(oldTable.begin()->first) + "|l|").has_value());
    for (int i = 0; i < 50; ++i) {
        std::optional<std::string> datagram = old->ReadDatagram(20);
        if (!datagram) break;
        EXPECT_LE(std::stoi(*datagram), 19) << *datagram;
    }

    // Out of bounds or no number: logged, and nothing changes.
    for (const char *bad : {"64", "0", "-3", "x", "", "6 3"}) wide->SendLine(std::string("1000|SLOTS|") + bad + "|");
    EXPECT_TRUE(server_->WaitForLog("client 1000 asked for \"x\" aircraft slots"));
    for (const std::string &line : wide->DrainLines(1500)) EXPECT_EQ(line.find("|c|"), std::string::npos) << line;
    old->SendLine("1001|MESSAGE|still here");
    EXPECT_TRUE(wide->WaitForLine("0|m|Old: still here"));

    // Back to 19: every slot above is blanked, and the nearest 19 stay.
    wide->SendLine("1000|SLOTS|19|");
    std::vector<std::string> lines = wide->DrainLines(2500);
    int blanked = 0;
    for (const std::string &line : lines) blanked += line.find("|c|BLANK") != std::string::npos ? 1 : 0;
    EXPECT_EQ(blanked, 63 - 19);
    Apply(lines, &wideTable);
    EXPECT_EQ(wideTable.size(), 19u);
    EXPECT_EQ(wideTable.rbegin()->first, 19);
    EXPECT_EQ(namesOf(wideTable), nearest(19, "Old"));
}

}  // namespace
}  // namespace servertest
