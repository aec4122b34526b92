// The web observer's feed and JSON: bounded live streams, and only what the public may see.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "server/http/TrafficFeed.h"
#include "server/http/TrafficJson.h"

namespace {

using namespace std::chrono_literals;
using server::TrafficFeed;
using server::TrafficSnapshot;

TrafficSnapshot WithChat(int lines, std::size_t length) {
    TrafficSnapshot snapshot;
    for (int i = 0; i < lines; ++i) snapshot.chat.push_back({"ALPHA1", std::to_string(i) + std::string(length, 'x')});
    return snapshot;
}

// Publishes and waits (bounded) until the renderer has handed the snapshot out, seen through the pilot
// count it carries into the metrics.
void PublishAndWait(TrafficFeed &feed, TrafficSnapshot snapshot, std::size_t marker) {
    snapshot.clients.pilots = marker;
    feed.Publish(std::move(snapshot));
    std::string line = "skorvale_clients{kind=\"pilot\"} " + std::to_string(marker) + "\n";
    for (int i = 0; i < 200 && feed.Metrics().find(line) == std::string::npos; ++i) std::this_thread::sleep_for(10ms);
}

TEST(TrafficFeed, StreamsAreBoundedAndOneThatFallsBehindIsClosed) {
    server::FeedLimits limits;
    limits.maxStreams = 2;
    limits.maxQueuedBytes = 4096;
    TrafficFeed feed(limits);
    auto reader = feed.Open();
    auto stuck = feed.Open();
    ASSERT_TRUE(reader && stuck);
    EXPECT_EQ(feed.Open(), nullptr) << "a third stream over the limit of two";

    std::string events;
    ASSERT_TRUE(reader->Next(events, 1s));
    EXPECT_EQ(events, "event: traffic\ndata: {\"aircraft\":[]}\n\n");

    // Several snapshots while the reader is not looking: it gets every chat line but only the newest traffic.
    for (int round = 0; round < 3; ++round) {
        TrafficSnapshot snapshot = WithChat(1, 10);
        snapshot.chat[0].text = "line " + std::to_string(round);
        snapshot.aircraft.push_back({7, "ALPHA1", "Aircraft/a.acf", "0|0|0|47|8|100|0|0|" + std::to_string(round)});
        PublishAndWait(feed, std::move(snapshot), 10 + static_cast<std::size_t>(round));
    }
    ASSERT_TRUE(reader->Next(events, 1s));
    EXPECT_LT(events.find("line 0"), events.find("line 1"));
    EXPECT_LT(events.find("line 1"), events.find("line 2"));
    EXPECT_EQ(events.find("event: traffic"), events.rfind("event: traffic")) << events;
    EXPECT_NE(events.find("\"heading\":2.0"), std::string::npos) << events;

    // One snapshot with more chat than a stream may hold, quotes doubling in JSON: a reader that takes
    // everything stays, and gets the newest lines of it, cut to a bounded size.
    TrafficSnapshot burst = WithChat(64, 1000);
    for (auto &line : burst.chat) line.text.replace(4, 996, 996, '"');
    PublishAndWait(feed, std::move(burst), 15);
    ASSERT_TRUE(reader->Next(events, 1s));
    EXPECT_GT(events.size(), limits.maxQueuedBytes);
    EXPECT_LT(events.size(), 20u * 1024);
    EXPECT_NE(events.find("\"63xx\\\""), std::string::npos) << "the newest line";

    // The stuck stream never takes anything: past its byte limit it is closed, and its place is free again.
    // The reader keeps up and stays.
    for (int round = 0; round < 4; ++round) {
        PublishAndWait(feed, WithChat(1, 1500), 20 + static_cast<std::size_t>(round));
        ASSERT_TRUE(reader->Next(events, 1s)) << round;
    }
    EXPECT_FALSE(stuck->Next(events, 100ms));
    stuck->Close();
    EXPECT_NE(feed.Open(), nullptr);
    std::string metrics = feed.Metrics();
    EXPECT_NE(metrics.find("skorvale_web_streams_dropped_total{reason=\"limit\"} 1\n"), std::string::npos);
    EXPECT_NE(metrics.find("skorvale_web_streams_dropped_total{reason=\"fell_behind\"} 1\n"), std::string::npos);

    // Stopping ends the streams that are still open.
    feed.Stop();
    EXPECT_FALSE(reader->Next(events, 1s));
}

TEST(TrafficJson, ShowsPlacedAircraftWithTheirNamesOnly) {
    TrafficSnapshot snapshot;
    snapshot.aircraft.push_back({1, "BLANK", "Aircraft/Heavy/B747.ACF", "0|0|0|-33.5|-1|12.5|0|0|-90|1"});
    snapshot.aircraft.push_back({2, "NOPOS", "Aircraft/a.acf", "0|0|0|north|8|100|0|0|0"});
    snapshot.aircraft.push_back({3, "BAD\xff", "BLANK", "0|0|0|95|8|100|0|0|0"});
    snapshot.aircraft.push_back({4, "\xc3\x28ok", "C:\\plane", "0|0|0|10|20|30|0|0|x"});
    snapshot.aircraft.push_back({5, "EAST", "BLANK", "0|0|0|10|359|30|0|0|0"});
    snapshot.aircraft.push_back({6, "DEEP", "BLANK", "0|0|0|10|20|-600|0|0|0"});
    auto json = nlohmann::json::parse(server::TrafficJson(snapshot));
    const auto &aircraft = json["aircraft"];
    ASSERT_EQ(aircraft.size(), 2u) << json.dump()
                                   << ": a position that does not read, or is off the earth, is left out";
    EXPECT_EQ(aircraft[0]["callsign"], "");
    EXPECT_EQ(aircraft[0]["model"], "B747");
    EXPECT_DOUBLE_EQ(aircraft[0]["lon"].get<double>(), -1.0);
    EXPECT_DOUBLE_EQ(aircraft[0]["heading"].get<double>(), 270.0);
    EXPECT_EQ(aircraft[1]["callsign"], "\xef\xbf\xbd(ok") << "bytes that are not UTF-8 are replaced";
    EXPECT_DOUBLE_EQ(aircraft[1]["heading"].get<double>(), 0.0);
    EXPECT_EQ(server::ChatJson({"BLANK", "hi"}), "{\"callsign\":\"\",\"text\":\"hi\"}");
}

}  // namespace
