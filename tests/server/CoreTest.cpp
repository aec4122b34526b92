// The relay's building blocks without sockets: line framing, text defusing, message parsing, slot planning,
// the login gate.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "server/core/Callsigns.h"
#include "server/core/ClientMessage.h"
#include "server/core/LineBuffer.h"
#include "server/core/LogFormat.h"
#include "server/core/LogLimiter.h"
#include "server/core/LoginGate.h"
#include "server/core/ReplayMemory.h"
#include "server/core/Text.h"
#include "server/core/ViewPlanner.h"
#include "server/nats/ClusterMessage.h"
#include "tests/server/ClusterHarness.h"

namespace server {
namespace {

TEST(LineBufferTest, SplitsOnAnyLineEndAcrossReadsAndRefusesOverlongLines) {
    LineBuffer buffer(16);
    std::vector<std::string> lines;
    auto collect = [&](std::string_view line) {
        lines.emplace_back(line);
        return true;
    };
    EXPECT_TRUE(buffer.Feed("1|CALL", 6, collect));
    EXPECT_TRUE(lines.empty());
    std::string rest = "SIGN|A|\r\n\r\n2|x\r3|y\n";
    EXPECT_TRUE(buffer.Feed(rest.data(), rest.size(), collect));
    EXPECT_EQ(lines, (std::vector<std::string>{"1|CALLSIGN|A|", "2|x", "3|y"}));

    // Exactly the bound is a line; one byte more, split over two reads, is not.
    lines.clear();
    std::string full(16, 'a');
    EXPECT_TRUE(buffer.Feed((full + "\n").data(), 17, collect));
    EXPECT_EQ(lines, std::vector<std::string>{full});
    EXPECT_TRUE(buffer.Feed(full.data(), 10, collect));
    EXPECT_FALSE(buffer.Feed(full.data(), 7, collect));
    EXPECT_TRUE(buffer.Overflowed());
    EXPECT_FALSE(buffer.Feed("\n", 1, collect));

    // A handler that ends the connection stops the feeding at once.
    LineBuffer stopping(64);
    int calls = 0;
    stopping.Feed("a\nb\nc\n", 6, [&](std::string_view) { return ++calls < 2; });
    EXPECT_EQ(calls, 2);
}

TEST(StreamTextTest, NothingRelayedCanEndOrCutAMessageEarly) {
    EXPECT_EQ(StreamText("Anna", 64), "Anna");
    EXPECT_EQ(StreamText("", 64), "BLANK");
    EXPECT_EQ(StreamText(std::string("a\0b\tc\x7f", 6), 64), "abc");
    EXPECT_EQ(StreamText("x====y", 64), "x===y");
    EXPECT_EQ(StreamText("x==========y", 64), "x===y");
    // The line end turns into "====" at the receiver: a trailing "=" would join it.
    EXPECT_EQ(StreamText("x=", 64), "x");
    EXPECT_EQ(StreamText("====", 64), "BLANK");
    EXPECT_EQ(StreamText("a|b|c", 64), "a|b|c");
    EXPECT_EQ(StreamText("abcdef", 4), "abcd");
    EXPECT_EQ(StreamText("abc=def", 4), "abc");
    // What moves or hides text on a screen goes: C1 controls (U+009B starts a terminal escape, U+0085 ends
    // a line), bidirectional controls, zero-width characters, line and paragraph separators.
    EXPECT_EQ(StreamText("a\u0085b\u009b2Jc", 64), "ab2Jc");
    EXPECT_EQ(StreamText("gnp\u202e.exe\u202a\u2066\u2069\u200f", 64), "gnp.exe");
    EXPECT_EQ(StreamText("A\u200bn\u200dn\ufeffa\u2060", 64), "Anna");
    EXPECT_EQ(StreamText("one\u2028two\u2029", 64), "onetwo");
    EXPECT_EQ(StreamText("Z\u00fcrich \u65e5\u672c \U0001F6E9", 64), "Z\u00fcrich \u65e5\u672c \U0001F6E9");
    // Invalid UTF-8 (a stray continuation, a cut sequence, overlong, a surrogate, past U+10FFFF) becomes U+FFFD.
    EXPECT_EQ(StreamText("a\x80"
                         "b\xe6\x97"
                         "c",
                         64),
              "a\ufffdb\ufffdc");
    EXPECT_EQ(StreamText("\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80", 64).find("\xc0"), std::string::npos);
    EXPECT_EQ(StreamText("\xc2\x9b", 64), "BLANK");  // a C1 control encoded properly is removed, not replaced
    // A cut never splits a character.
    EXPECT_EQ(StreamText("ab\u00fc", 3), "ab");
    EXPECT_EQ(StreamText("\u65e5\u672c", 5), "\u65e5");
}

TEST(ReplayMemoryTest, AnAccountForgetsOnlyItsOwnLinesAndTheBytesStayBounded) {
    using Verdict = ReplayMemory::Verdict;
    const auto window = std::chrono::hours(1);
    ReplayMemory memory(64 * 1024, 4, window);
    TimePoint now{};
    auto carol = ReplayMemory::KeyOf(7, "Carol", "ABCDEF");
    EXPECT_EQ(carol, ReplayMemory::KeyOf(7, "Carol", "abcdef")) << "hex digits in either case";
    EXPECT_NE(carol, ReplayMemory::KeyOf(7, "Caro", "labcdef"));
    EXPECT_EQ(memory.Check(carol, 1, now), Verdict::Unseen);
    memory.Accept(carol, "Carol", 1);
    memory.End(carol, now);
    EXPECT_EQ(memory.Check(carol, 1, now), Verdict::Known);
    EXPECT_EQ(memory.Check(carol, 2, now), Verdict::OtherAddress);
    EXPECT_EQ(memory.Check(carol, 1, now + window + std::chrono::seconds(1)), Verdict::Expired);

    // One account's flood, with one of its sessions live throughout: it loses its own ended lines only.
    auto live = ReplayMemory::KeyOf(1, "Mallory", "0");
    memory.Accept(live, "Mallory", 3);
    for (int id = 2; id < 5000; ++id) {
        auto key = ReplayMemory::KeyOf(id, "Mallory", "0");
        memory.Accept(key, "Mallory", 3);
        memory.End(key, now);
    }
    EXPECT_EQ(memory.Check(carol, 2, now), Verdict::OtherAddress);
    EXPECT_EQ(memory.Check(live, 4, now), Verdict::OtherAddress);
    EXPECT_EQ(memory.Size(), 2u + 4u - 1u);
    // Many accounts: the byte bound holds, the oldest ended lines of any account go, a live one stays.
    for (int id = 0; id < 5000; ++id) {
        auto key = ReplayMemory::KeyOf(id, "user" + std::to_string(id), "0");
        memory.Accept(key, "user" + std::to_string(id), 5);
        memory.End(key, now);
        ASSERT_LE(memory.Bytes(), 64u * 1024);
    }
    EXPECT_EQ(memory.Check(carol, 2, now), Verdict::Unseen);
    EXPECT_EQ(memory.Check(live, 4, now), Verdict::OtherAddress);
}

TEST(LoginGateTest, CoolingOffGrowsToItsCapAndNewcomersGiveWayOldestFirst) {
    using std::chrono::seconds;
    RelayLimits limits;
    limits.maxLoginFailures = 3;
    limits.loginCoolOff = seconds(10);
    limits.maxPendingPerAddress = 2;
    limits.maxClients = 4;
    limits.reservedClients = 2;
    LoginGate gate(limits);
    TimePoint now = TimePoint{} + std::chrono::hours(2);
    auto failThrice = [&](std::uint32_t address) {
        gate.CountFailure(address, now);
        gate.CountFailure(address, now);
        return std::chrono::duration_cast<seconds>(gate.CountFailure(address, now)).count();
    };
    EXPECT_EQ(failThrice(1), 10);
    EXPECT_EQ(gate.Enter(1, now + seconds(9)), LoginGate::Entry::CoolingOff);
    EXPECT_EQ(gate.Enter(1, now + seconds(10)), LoginGate::Entry::Open);
    std::vector<long> coolOffs;
    for (int round = 0; round < 7; ++round) {
        now += std::chrono::minutes(20);
        coolOffs.push_back(failThrice(1));
    }
    EXPECT_EQ(coolOffs, (std::vector<long>{20, 40, 80, 160, 320, 640, 640}));
    now += std::chrono::hours(1);
    EXPECT_EQ(failThrice(1), 10) << "an hour without failures starts again";
    // Failures more than a minute apart never add up to a cooling-off.
    gate.CountFailure(2, now);
    gate.CountFailure(2, now);
    EXPECT_EQ(gate.CountFailure(2, now + std::chrono::minutes(1)), Clock::duration::zero());

    Connection first(1, 9, 64, now), second(2, 9, 64, now);
    gate.Arrive(first);
    gate.Arrive(second);
    EXPECT_EQ(gate.Enter(9, now), LoginGate::Entry::TooManyPending);
    EXPECT_EQ(gate.GivingWay(2), std::optional<ConnectionId>(1)) << "only the unreserved places wait";
    StreamMessage login;
    login.kind = StreamKind::Opening;
    login.uniqueId = 5;
    login.text = "Ann";
    login.digest = "00";
    ASSERT_EQ(gate.TakeLoginLine(first, login, now), nullptr);
    EXPECT_EQ(gate.GivingWay(2), std::nullopt);
    EXPECT_EQ(gate.GivingWay(4), std::optional<ConnectionId>(2)) << "when full, the oldest that sent nothing";
    EXPECT_EQ(gate.Checked(first.ticket), std::optional<ConnectionId>(1));
    EXPECT_EQ(gate.Checked(first.ticket), std::nullopt);
    gate.Leave(second);
    EXPECT_EQ(gate.Enter(9, now), LoginGate::Entry::Open);
    EXPECT_EQ(gate.GivingWay(4), std::nullopt) << "a connection logging in is never pushed out";
}

TEST(LogBudgetTest, ALongLineDrawsAsManyLinesAsItFills) {
    LogBudget budget(60, 3);  // a line a second, three at once
    TimePoint start = TimePoint{} + std::chrono::hours(1);
    ASSERT_TRUE(budget.Take(start));
    budget.Charge(start, 100);  // within one line
    ASSERT_TRUE(budget.Take(start));
    budget.Charge(start, 3 * LogBudget::kLineBytes);  // a line and most of three more: the budget is in debt
    EXPECT_FALSE(budget.Take(start));
    EXPECT_FALSE(budget.Take(start + std::chrono::milliseconds(1500)));
    EXPECT_TRUE(budget.Take(start + std::chrono::milliseconds(3100)));
}

TEST(CallsignsTest, TheFirstToAskKeepsANameAndLaterOnesGetASuffix) {
    Callsigns names;
    std::vector<int> displaced;
    EXPECT_EQ(names.Settle(1, "Anna", 100, &displaced), "Anna");
    EXPECT_EQ(names.Settle(2, " anna ", 200, &displaced), "anna (2)") << "without case or surrounding spaces";
    EXPECT_EQ(names.Settle(3, "ANNA", 300, &displaced), "ANNA (3)");
    EXPECT_EQ(names.Settle(4, "Anna (2)", 50, &displaced), "Anna (2) (2)") << "shown already under a name of its own";
    EXPECT_TRUE(displaced.empty());
    // Another node's pilot who asked before everyone here takes the name; its holder is settled again.
    EXPECT_EQ(names.Settle(5, "Anna", 10, &displaced), "Anna");
    ASSERT_EQ(displaced, std::vector<int>{1});
    EXPECT_EQ(names.Resettle(1, &displaced), "Anna (4)");
    // A freed name goes to whoever asks next; names already settled stay as they are.
    names.Release(5);
    EXPECT_EQ(names.Settle(6, "anna", 400, &displaced), "anna");
    EXPECT_EQ(names.Settle(3, "ANNA", 300, &displaced), "ANNA (3)") << "asking again keeps its own";

    // The server's own name is never a pilot's, however early it asked: its chat would pass for the server's.
    EXPECT_EQ(names.Settle(7, " SERVER", 1, &displaced), "SERVER (2)");
    EXPECT_EQ(names.Settle(8, "Server", 2, &displaced), "Server (3)");
    EXPECT_EQ(displaced, std::vector<int>{1});

    // Nor does a lookalike in other letters: Greek Alpha, Cyrillic O, full-width N; other scripts stay apart.
    EXPECT_EQ(names.Settle(9, "\u0391NNA", 500, &displaced), "\u0391NNA (5)");
    EXPECT_EQ(names.Settle(10, "J\u041eE", 500, &displaced), "J\u041eE");
    EXPECT_EQ(names.Settle(11, "joe", 600, &displaced), "joe (2)");
    EXPECT_EQ(names.Settle(12, "\uff2e1", 600, &displaced), "\uff2e1");
    EXPECT_EQ(names.Settle(13, "n1", 700, &displaced), "n1 (2)");
    EXPECT_EQ(names.Settle(14, "\u0436\u0436", 700, &displaced), "\u0436\u0436");
    EXPECT_EQ(FoldedName("\u0416\u0416"), "\u0416\u0416") << "no lookalike, no fold";
}

TEST(StreamTextTest, ModelPathsBecomeRelativeToTheAircraftFolder) {
    EXPECT_EQ(PortableModelPath("Aircraft/Jets/Trainer/trainer.acf"), "Aircraft/Jets/Trainer/trainer.acf");
    EXPECT_EQ(PortableModelPath("/home/pat/X-Plane 12/Aircraft/Laminar/c172.acf"), "Aircraft/Laminar/c172.acf");
    EXPECT_EQ(PortableModelPath("D:\\XP\\Aircraft\\Heavy\\B747.acf"), "Aircraft/Heavy/B747.acf");
    EXPECT_EQ(PortableModelPath("/opt/models/glider.acf"), "/opt/models/glider.acf");
    EXPECT_EQ(PortableModelPath("Custom\\plane.acf"), "Custom/plane.acf");

    // Only a relative path to an .acf file, without "..", is relayed as a model.
    EXPECT_TRUE(IsAircraftModelPath("Aircraft/Heavy/B747.ACF"));
    EXPECT_TRUE(IsAircraftModelPath("Custom/..plane/x..acf"));
    for (const char *path : {"/opt/models/glider.acf", "C:/XP/a.acf", "../../../../etc/hostname",
                             "Aircraft/../../etc/x.acf", "Aircraft/..", "/etc/passwd", ".acf", "Aircraft/a.acf.txt"}) {
        EXPECT_FALSE(IsAircraftModelPath(PortableModelPath(path))) << path;
    }
}

TEST(ClientMessageTest, ReadsEveryMessageThePluginSendsAndNothingElse) {
    StreamMessage m;
    ASSERT_TRUE(ParseStreamLine("12345|Opening Connection|an|na|0123456789abcdef0123456789abcdef|", &m));
    EXPECT_EQ(m.kind, StreamKind::Opening);
    EXPECT_EQ(m.uniqueId, 12345);
    EXPECT_EQ(m.text, "an|na");
    EXPECT_EQ(m.digest, "0123456789abcdef0123456789abcdef");
    ASSERT_TRUE(ParseStreamLine("7|Opening Connection||0123|", &m));
    EXPECT_EQ(m.text, "");

    ASSERT_TRUE(ParseStreamLine("7|Closing Connection", &m));
    EXPECT_EQ(m.kind, StreamKind::Closing);
    ASSERT_TRUE(ParseStreamLine("7|PLANE|Aircraft/a|b.acf", &m));
    EXPECT_EQ(m.kind, StreamKind::Plane);
    EXPECT_EQ(m.text, "Aircraft/a|b.acf");
    ASSERT_TRUE(ParseStreamLine("7|CALLSIGN||", &m));
    EXPECT_EQ(m.kind, StreamKind::Callsign);
    EXPECT_EQ(m.text, "");
    ASSERT_TRUE(ParseStreamLine("7|VOCALLSIGN|JAY|", &m));
    EXPECT_EQ(m.kind, StreamKind::ViewOnlyCallsign);
    EXPECT_EQ(m.text, "JAY");
    ASSERT_TRUE(ParseStreamLine("7|CREWID|ABC|2|", &m));
    EXPECT_EQ(m.kind, StreamKind::Crew);
    EXPECT_EQ(m.text, "ABC");
    EXPECT_EQ(m.position, 2);
    ASSERT_TRUE(ParseStreamLine("7|CREWID||1|", &m));
    EXPECT_EQ(m.text, "");
    ASSERT_TRUE(ParseStreamLine("7|MESSAGE|a|b", &m));
    EXPECT_EQ(m.kind, StreamKind::Chat);
    EXPECT_EQ(m.text, "a|b");

    // The number of slots is read by the relay, which refuses one out of bounds.
    ASSERT_TRUE(ParseStreamLine("7|SLOTS|63|", &m));
    EXPECT_EQ(m.kind, StreamKind::Slots);
    EXPECT_EQ(m.text, "63");

    for (const char *bad :
         {"", "|CALLSIGN|x|", "-1|CALLSIGN|x|", "2147483648|CALLSIGN|x|", "7|CREWID|ABC|-1|", "7|CREWID|ABC|x|",
          "7|CREWID|", "7|Opening Connection|nodigest", "7|callsign|x|", "7BLANK|0|"}) {
        EXPECT_FALSE(ParseStreamLine(bad, &m)) << bad;
    }
    ASSERT_TRUE(ParseStreamLine("2147483647|MESSAGE|max", &m));
    EXPECT_EQ(m.uniqueId, 2147483647);
}

TEST(ClientMessageTest, LocationDatagramsKeepTheirFieldsAndGiveTheirPosition) {
    LocationDatagram d;
    ASSERT_TRUE(ParseLocationDatagram("42|LOC|1|2|3|47.4500008|-122.5|350|0", &d));
    EXPECT_EQ(d.uniqueId, 42);
    EXPECT_FALSE(d.viewOnly);
    EXPECT_EQ(d.fields, "1|2|3|47.4500008|-122.5|350|0");
    double lat = 0, lon = 0, el = 0;
    ASSERT_TRUE(ReadWorldPosition(d.fields, &lat, &lon, &el));
    EXPECT_DOUBLE_EQ(lat, 47.4500008);
    EXPECT_DOUBLE_EQ(lon, -122.5);
    EXPECT_DOUBLE_EQ(el, 350);
    ASSERT_TRUE(ParseLocationDatagram("42|VOLOC|", &d));
    EXPECT_TRUE(d.viewOnly);
    EXPECT_FALSE(ReadWorldPosition(d.fields, &lat, &lon, &el));
    EXPECT_FALSE(ReadWorldPosition("1|2|3|nan|0|0", &lat, &lon, &el));
    EXPECT_FALSE(ReadWorldPosition("1|2|3|95|0|0", &lat, &lon, &el));
    EXPECT_FALSE(ReadWorldPosition("1|2|3|4,5|0|0", &lat, &lon, &el));
    // Off the earth: nobody is shown it, and it is nobody's nearest aircraft.
    for (const char *off : {"1|2|3|999|0|0", "1|2|3|0|180.5|0", "1|2|3|0|359|0", "1|2|3|0|0|-501", "1|2|3|0|0|30001",
                            "1|2|3|0|inf|0", "1|2|3|0|0|1e308"}) {
        EXPECT_FALSE(ReadWorldPosition(off, &lat, &lon, &el)) << off;
    }
    EXPECT_TRUE(ReadWorldPosition("1|2|3|-90|-180|-500", &lat, &lon, &el));
    EXPECT_TRUE(ReadWorldPosition("1|2|3|90|180|30000", &lat, &lon, &el));

    // A clock a day away is put on the server's time, written as a plug-in writes its own; without
    // both clock fields the location is left as it is.
    std::string fields = "1|2|3|47|8|500";
    for (int i = 6; i < 40; ++i) fields += "|0";
    EXPECT_EQ(CountFields(fields), 40u);
    std::string unchanged = fields;
    SetSenderClock(unchanged, 1765093380.25);
    EXPECT_EQ(unchanged, fields);
    fields += "|3e+38|0";
    double clock = 0;
    ASSERT_TRUE(ReadSenderClock(fields, &clock));
    EXPECT_EQ(clock, 3e38);
    SetSenderClock(fields, 1765093380.25);
    EXPECT_EQ(CountFields(fields), 42u);
    EXPECT_EQ(fields.substr(fields.size() - 24), "|0|1.76509338e+09|250000");
    EXPECT_FALSE(ParseLocationDatagram("42|loc|1", &d));
    EXPECT_FALSE(ParseLocationDatagram("42|LOCX|1", &d));
    EXPECT_FALSE(ParseLocationDatagram("x|LOC|1", &d));
}

TEST(ClusterMessageTest, LocationBatchesReadAsTheirAircraftAndCannotBeForged) {
    std::string payload;
    StartLocations(payload, "node1", 1);
    ASSERT_TRUE(AppendLocation(payload, 7, "1|2|3|47.5|8.5|500"));
    ClusterMessage one;
    // A batch of one in the first version is the message nodes sent before batching.
    ASSERT_TRUE(ParseClusterMessage(payload, &one));
    EXPECT_EQ(payload, "L\nnode1\n7\n1|2|3|47.5|8.5|500");
    StartLocations(payload, "node1");
    ASSERT_TRUE(AppendLocation(payload, 7, "1|2|3|47.5|8.5|500"));
    ASSERT_TRUE(AppendLocation(payload, 8, "4|5|6|47.6|8.6|600"));
    ClusterMessage two;
    ASSERT_TRUE(ParseClusterMessage(payload, &two));
    ASSERT_EQ(two.locations.size(), 2u);
    EXPECT_EQ(two.locations[1].uniqueId, 8);
    EXPECT_EQ(two.locations[1].fields, "4|5|6|47.6|8.6|600");
    EXPECT_EQ(EncodeClusterMessage(two), payload);

    // A client's fields with a line feed would make the rest another pilot's location.
    std::string before = payload;
    EXPECT_FALSE(AppendLocation(payload, 9, "1|2|3\n7\n9|9|9|0|0|0"));
    EXPECT_EQ(payload, before);
    // Bounded by what the nodes accept.
    std::string big(kMaxClusterPayload, '1');
    EXPECT_FALSE(AppendLocation(payload, 9, big));
    EXPECT_EQ(payload, before);
    ClusterMessage bad;
    EXPECT_FALSE(ParseClusterMessage(payload + "\n9", &bad));  // an ID without fields
    EXPECT_FALSE(ParseClusterMessage("L\nnode1\n9\n", &bad));

    // An aircraft carries when its pilot claimed its crew and its callsign; a node of the first protocol
    // version, which does not send them, is read with its login time for both.
    ClusterMessage aircraft;
    aircraft.kind = ClusterKind::Aircraft;
    aircraft.node = "node1";
    aircraft.uniqueId = 5;
    aircraft.identity.since = 100;
    aircraft.identity.crewSince = 300;
    aircraft.identity.callsignSince = 200;
    aircraft.identity.user = "anna";
    aircraft.identity.crew = "Eagle";
    ClusterMessage read;
    ASSERT_TRUE(ParseClusterMessage(EncodeClusterMessage(aircraft), &read));
    EXPECT_EQ(read.identity.crewSince, 300u);
    EXPECT_EQ(read.identity.callsignSince, 200u);
    ASSERT_TRUE(ParseClusterMessage("A\nnode1\n5\n100\n0\n0\nanna\nAnna\nBLANK\nEagle", &read));
    EXPECT_EQ(read.identity.crewSince, 100u);
    EXPECT_EQ(read.identity.callsignSince, 100u);
    EXPECT_FALSE(ParseClusterMessage(EncodeClusterMessage(aircraft) + "\n1", &read));
    EXPECT_FALSE(ParseClusterMessage("A2\nnode1\n5\n100\n0\n0\nanna\nAnna\nBLANK\nEagle", &read));
}

TEST(ClusterMessageTest, ReadsTheFirstProtocolAsRecordedAndCanStillSpeakIt) {
    std::vector<servertest::RecordedMessage> recorded = servertest::RecordedFirstProtocol();
    std::set<ClusterKind> kinds;
    for (const auto &[subject, payload] : recorded) {
        ClusterMessage message;
        ASSERT_TRUE(ParseClusterMessage(payload, &message)) << payload;
        EXPECT_EQ(message.version, 1);
        kinds.insert(message.kind);
        // What a node told to speak the first version sends is what those nodes read: the same bytes.
        EXPECT_EQ(EncodeClusterMessage(message), payload);
        // And the current version carries the same content.
        message.version = kClusterProtocol;
        std::string current = EncodeClusterMessage(message);
        EXPECT_EQ(current.substr(0, 3), payload.substr(0, 1) + std::to_string(kClusterProtocol) + "\n");
        ClusterMessage again;
        ASSERT_TRUE(ParseClusterMessage(current, &again)) << current;
        EXPECT_EQ(again.version, kClusterProtocol);
        again.version = 1;
        EXPECT_EQ(EncodeClusterMessage(again), payload);
    }
    EXPECT_EQ(kinds.size(), 8u) << "every kind of message is in the recording";

    // A newer node's message is told apart from garbage, and read by neither.
    ClusterMessage message;
    EXPECT_FALSE(ParseClusterMessage("M3\nnode1\nhello", &message));
    EXPECT_EQ(ClusterVersionOf("M3\nnode1\nhello"), 3);
    for (const char *bad :
         {"M1\nnode1\nhello", "M02\nnode1\nhello", "M2x\nnode1\nhello", "Q2\nnode1\nhello", "M9999\nnode1\nhello"}) {
        EXPECT_FALSE(ParseClusterMessage(bad, &message)) << bad;
        EXPECT_EQ(ClusterVersionOf(bad), 0) << bad;
    }
}

TEST(LogFormatTest, LinesKeepTheirPriorityTheirFieldsAndValidJson) {
    auto render = [](LogFormat format, bool journal, spdlog::level::level_enum level, const std::string &payload) {
        LineFormatter formatter(format, journal);
        spdlog::details::log_msg message(spdlog::source_loc{}, "test", level, payload);
        message.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1767225600123));
        spdlog::memory_buf_t out;
        formatter.format(message, out);
        return std::string(out.data(), out.size());
    };
    std::string refused = EventMessage("login_refused", 0xcb007109, Escaped("a\"b"), "refused login of \"a\\\"b\"");
    EXPECT_EQ(render(LogFormat::Text, false, spdlog::level::warn, refused),
              "2026-01-01T00:00:00.123Z warning 203.0.113.9 refused login of \"a\\\"b\"\n");
    // Under systemd the journal takes the priority from the line's start: `journalctl -p warning` works.
    EXPECT_EQ(render(LogFormat::Text, true, spdlog::level::err, "x").substr(0, 4), "<3>2");
    EXPECT_EQ(render(LogFormat::Text, true, spdlog::level::info, "x").substr(0, 3), "<6>");
    EXPECT_EQ(render(LogFormat::Json, false, spdlog::level::warn, refused),
              "{\"time\":\"2026-01-01T00:00:00.123Z\",\"level\":\"warning\",\"event\":\"login_refused\","
              "\"address\":\"203.0.113.9\",\"user\":\"a\\\\\\\"b\",\"message\":\"refused login of "
              "\\\"a\\\\\\\"b\\\"\"}\n");
    // A plain line with bytes that are not UTF-8 (a path, an error text) still makes valid JSON.
    EXPECT_EQ(render(LogFormat::Json, false, spdlog::level::info, "caf\xc3\xa9 \xff\x01"),
              "{\"time\":\"2026-01-01T00:00:00.123Z\",\"level\":\"info\",\"event\":\"log\",\"message\":\"caf\xc3\xa9 "
              "\\ufffd\\u0001\"}\n");
}

TEST(ViewPlannerTest, NearestWinWithPilotsForcedAndHoldersKeptAgainstSmallGains) {
    std::vector<ViewCandidate> candidates;
    for (int i = 0; i < 5; ++i) candidates.push_back({1000.0 * (i + 1), false, false, static_cast<std::uint64_t>(i)});
    auto chosen = ChooseVisible(candidates, 3);
    EXPECT_EQ(chosen, (std::vector<std::size_t>{0, 1, 2}));
    // Room for all: all, whatever the distance.
    EXPECT_EQ(ChooseVisible(candidates, 10).size(), 5u);

    // A crew's pilot far away still gets in.
    candidates[4].forced = true;
    chosen = ChooseVisible(candidates, 3);
    EXPECT_EQ(chosen, (std::vector<std::size_t>{4, 0, 1}));
    candidates[4].forced = false;

    // The holder at 3 km keeps its slot against a newcomer at 2.9 km, not against one at 1.5 km.
    candidates[2].holder = true;
    candidates[1].distance = 2900;
    candidates[0].distance = 4000;
    candidates[3].distance = 5000;
    chosen = ChooseVisible(candidates, 1);
    EXPECT_EQ(chosen, std::vector<std::size_t>{2});
    candidates[1].distance = 1500;
    chosen = ChooseVisible(candidates, 1);
    EXPECT_EQ(chosen, std::vector<std::size_t>{1});

    // Equal distances (no positions yet): login order decides, the same way every time.
    std::vector<ViewCandidate> unknown(4);
    for (std::size_t i = 0; i < 4; ++i) unknown[i].order = 10 - i;
    EXPECT_EQ(ChooseVisible(unknown, 2), (std::vector<std::size_t>{3, 2}));
}

TEST(ViewPlannerTest, DistancesAreMetresOnTheEllipsoid) {
    EarthPoint a = ToEarthPoint(47.0, 8.0, 500);
    EXPECT_NEAR(Distance(a, ToEarthPoint(47.0, 8.0, 1500)), 1000.0, 1e-6);
    // One minute of latitude is about one nautical mile.
    EXPECT_NEAR(Distance(a, ToEarthPoint(47.0 + 1.0 / 60, 8.0, 500)), 1852.0, 10.0);
    EXPECT_NEAR(Distance(ToEarthPoint(0, 179.999, 0), ToEarthPoint(0, -179.999, 0)), 222.6, 1.0);
}

}  // namespace
}  // namespace server
