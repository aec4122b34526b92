// Relaying between real server processes and protocol clients: slots, identities, locations and chat.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/server/ServerHarness.h"
#include "tests/support/Loopback.h"

namespace servertest {
namespace {

using ::testing::Test;

class RelayTest : public ServerTest {};

bool Contains(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(RelayTest, NewSlotIsNamedFirstThenCarriesLocationsAndIdentityChanges) {
    StartServer();
    auto anna = Join(101, "Anna");
    auto bob = Join(202, "Bob", 47.001, 8.0, "Aircraft/Gliders/ASK21/ask21.acf");

    // Callsign, crew and model of the new slot, in that order, before anything else for it.
    int slot = anna->WaitForSlot("Bob");
    ASSERT_GE(slot, 1);
    ASSERT_LE(slot, 19);
    std::string s = std::to_string(slot);
    EXPECT_EQ(anna->ReadLine(), s + "|I|BLANK");
    EXPECT_EQ(anna->ReadLine(), s + "|p|Aircraft/Gliders/ASK21/ask21.acf");
    ASSERT_GE(bob->WaitForSlot("Anna"), 1);

    // Bob's location datagram reaches Anna under her slot number, fields unchanged, from the server's port.
    anna->DrainDatagrams(200);
    std::string fields = LocationFields(47.002, 8.001, 612.5, 77);
    bob->SendDatagram("202|LOC|" + fields);
    EXPECT_EQ(anna->WaitForDatagram(s + "|l|77|"), s + "|l|" + fields);

    // Changed identity goes out once; the same identity again (every ten seconds) sends nothing. A crew ID
    // goes only to members of that crew: Anna is told Bob flies without one.
    bob->SendIdentity("Bobby", "Aircraft/Gliders/ASK21/ask21.acf", "Hawk", 0);
    std::vector<std::string> seen;
    EXPECT_TRUE(anna->WaitForLine(s + "|I|BLANK", 3000, &seen));
    EXPECT_TRUE(Contains(seen, s + "|c|Bobby"));
    bob->SendIdentity("Bobby", "Aircraft/Gliders/ASK21/ask21.acf", "Hawk", 0);
    bob->SendLine("202|PLANE|Aircraft/Jets/Trainer/trainer.acf");
    EXPECT_EQ(anna->DrainLines(500), std::vector<std::string>{s + "|p|Aircraft/Jets/Trainer/trainer.acf"});

    // A model path from another machine's installation is cut to its shared "Aircraft/..." part.
    bob->SendLine("202|PLANE|C:\\X-Plane 12\\Aircraft\\Heavy\\B747.ACF");
    EXPECT_TRUE(anna->WaitForLine(s + "|p|Aircraft/Heavy/B747.ACF"));
}

TEST_F(RelayTest, ChatGoesToEveryoneWithTheSenderEchoedAndUnsafeTextDefused) {
    StartServer();
    auto anna = Join(101, "Anna");
    auto bob = Join(202, "Bob");
    auto nameless = std::make_unique<ProtocolClient>(address_, 303);
    nameless->Login("carol");
    ASSERT_TRUE(server_->WaitForLog("client 303 \"carol\" logged in"));

    anna->SendLine("101|MESSAGE|hello | all");
    for (ProtocolClient *client : {anna.get(), bob.get(), nameless.get()}) {
        EXPECT_TRUE(client->WaitForLine("0|m|Anna: hello | all")) << client->Id();
    }
    // "====" and a trailing "=" would end the message early at the plug-in; a NUL would cut its read.
    static const char unsafe[] = "101|MESSAGE|a====b\0c=\n";
    anna->SendRaw(std::string(unsafe, sizeof unsafe - 1));
    EXPECT_TRUE(bob->WaitForLine("0|m|Anna: a===bc"));
    // Without a callsign the user ID names the sender.
    nameless->SendLine("303|MESSAGE|hi");
    EXPECT_TRUE(anna->WaitForLine("0|m|carol: hi"));
}

TEST_F(RelayTest, LeavingBlanksTheSlotAndRejoiningFillsOneAgain) {
    StartServer();
    auto anna = Join(101, "Anna");
    auto bob = Join(202, "Bob");
    int slot = anna->WaitForSlot("Bob");
    ASSERT_GE(slot, 1);
    std::string s = std::to_string(slot);

    bob->SendLine("202|Closing Connection");
    std::vector<std::string> seen;
    EXPECT_TRUE(anna->WaitForLine(s + "|p|BLANK", 3000, &seen));
    EXPECT_TRUE(Contains(seen, s + "|c|BLANK"));
    EXPECT_TRUE(Contains(seen, s + "|I|BLANK"));
    EXPECT_TRUE(bob->WaitClosed());
    // Nothing of Bob reaches Anna any more.
    anna->DrainDatagrams(200);
    bob->SendLocation(47, 8, 500, 5);
    EXPECT_FALSE(anna->WaitForDatagram(s + "|l|", 500));

    // Same unique ID, new connection: a plug-in reconnecting.
    bob = Join(202, "Bob");
    EXPECT_GE(anna->WaitForSlot("Bob"), 1);
    bob->SendLocation(47, 8, 500, 6);
    EXPECT_TRUE(anna->WaitForDatagram("", 2000).has_value());
}

TEST_F(RelayTest, CrewMembersFollowTheirPilotAndAreNotShownThemselves) {
    StartServer();
    auto pilot = Join(101, "Pilot");
    pilot->SendIdentity("Pilot", "Aircraft/Heavy/B747.acf", "Eagle", 0);
    auto copilot = Join(202, "Copilot");
    copilot->SendIdentity("Copilot", "Aircraft/Heavy/B747.acf", "Eagle", 1);
    auto outsider = Join(303, "Outsider");

    // The co-pilot gets its pilot in a slot with the crew ID: what makes its plug-in fly along.
    int slot = copilot->WaitForSlot("Pilot");
    ASSERT_GE(slot, 1);
    std::string s = std::to_string(slot);
    EXPECT_TRUE(copilot->WaitForLine(s + "|I|Eagle"));
    copilot->DrainDatagrams(200);
    pilot->SendLocation(47.01, 8.01, 900, 4242);
    EXPECT_TRUE(copilot->WaitForDatagram(s + "|l|4242|"));

    // Nobody shows the co-pilot as an aircraft, and its own location datagrams go nowhere.
    EXPECT_GE(outsider->WaitForSlot("Pilot"), 1);
    outsider->DrainDatagrams(300);
    copilot->SendLocation(47.01, 8.01, 900, 999);
    pilot->SendLocation(47.01, 8.01, 900, 1000);
    std::vector<std::string> received;
    while (auto datagram = outsider->ReadDatagram(500)) received.push_back(*datagram);
    for (const auto &datagram : received) EXPECT_EQ(datagram.find("|l|999|"), std::string::npos) << datagram;
    auto pilotLines = pilot->DrainLines(1500);
    EXPECT_FALSE(Contains(pilotLines, std::string("1|c|Copilot"))) << "pilot shows its co-pilot";
    for (const auto &line : outsider->DrainLines(300)) EXPECT_EQ(line.find("|c|Copilot"), std::string::npos);

    // Back to solo: the former co-pilot becomes an aircraft of its own for the others.
    copilot->SendIdentity("Copilot", "Aircraft/Heavy/B747.acf", "BLANK", 0);
    EXPECT_GE(outsider->WaitForSlot("Copilot"), 1);
}

TEST_F(RelayTest, CrewedReceiverWithoutCrewIdIsNotHandedEveryCrewlessAircraft) {
    StartServer();
    auto solo = Join(101, "Solo");
    auto navigator = Join(202, "Nav");
    navigator->SendIdentity("Nav", "Aircraft/General/nav.acf", "", 2);
    // Its plug-in treats every slot whose crew ID reads empty as its pilot: it must never see one.
    int slot = navigator->WaitForSlot("Solo");
    ASSERT_GE(slot, 1);
    std::vector<std::string> seen;
    EXPECT_TRUE(navigator->WaitForLine(std::to_string(slot) + "|I|-", 3000, &seen));
    EXPECT_FALSE(Contains(seen, std::to_string(slot) + "|I|BLANK"));
}

TEST_F(RelayTest, ViewOnlyClientsWatchWithoutBeingShown) {
    StartServer();
    auto anna = Join(101, "Anna");
    auto viewer = std::make_unique<ProtocolClient>(address_, 404);
    viewer->Login("watcher");
    ASSERT_TRUE(server_->WaitForLog("client 404 \"watcher\" logged in"));
    viewer->SendLine("404|VOCALLSIGN|Watcher|");
    viewer->SendLocation(47, 8, 500, 404, true);

    int slot = viewer->WaitForSlot("Anna");
    ASSERT_GE(slot, 1);
    viewer->DrainDatagrams(200);
    anna->SendLocation(47, 8, 500, 55);
    EXPECT_TRUE(viewer->WaitForDatagram(std::to_string(slot) + "|l|55|"));
    viewer->SendLine("404|MESSAGE|just watching");
    auto lines = anna->DrainLines(1500);
    EXPECT_TRUE(Contains(lines, "0|m|Watcher: just watching"));
    for (const auto &line : lines) EXPECT_EQ(line.find("|c|Watcher"), std::string::npos) << line;
}

TEST_F(RelayTest, DatagramEndpointIsLearnedOnlyFromTheLoginAddress) {
    StartServer();
    auto anna = Join(101, "Anna");
    auto bob = std::make_unique<ProtocolClient>(address_, 202);
    bob->Login("Bob");
    bob->SendIdentity("Bob", "Aircraft/a/b.acf");
    ASSERT_TRUE(server_->WaitForLog("client 202 \"Bob\" logged in"));

    // From another address first: not Bob's, whatever ID it carries.
    ProtocolClient impostor(address_, 202, testsupport::UniqueLoopbackAddress());
    impostor.SendLocation(10, 10, 10, 666);
    EXPECT_TRUE(server_->WaitForLog("not the address it logged in from"));
    bob->SendLocation(47, 8, 500, 1);
    int slot = anna->WaitForSlot("Bob");
    ASSERT_GE(slot, 1);
    std::string s = std::to_string(slot);

    // Once learned, another port on the right address is refused as well.
    ProtocolClient samePlace(address_, 202);
    anna->DrainDatagrams(200);
    samePlace.SendLocation(10, 10, 10, 667);
    bob->SendLocation(47, 8, 500, 2);
    auto datagram = anna->WaitForDatagram(s + "|l|");
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->rfind(s + "|l|2|", 0), 0u) << *datagram;
}

}  // namespace
}  // namespace servertest
