// Many aircraft: 25 clients, of which a receiver shows the nearest 19, with stable slots.
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

}  // namespace
}  // namespace servertest
