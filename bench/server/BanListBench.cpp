// The login check against a ban list of 100,000 entries: user IDs, single addresses and networks of every
// length from /16 on, as a login finds them (not banned: every length looked at; banned by user).
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "server/core/BanList.h"

namespace {

constexpr std::int64_t kNow = 1767225600;

server::BanList &HundredThousandBans() {
    static server::BanList list = [] {
        server::BanList bans;
        std::mt19937 random(7);
        for (int i = 0; i < 100000; ++i) {
            server::Ban ban;
            std::string error;
            if (i % 2 == 0) {
                server::ParseBanTarget("pilot" + std::to_string(i), &ban, &error);
            } else {
                // Every network length from /16 to /32 in use, so a check looks at each.
                int prefix = 16 + i % 17;
                std::uint32_t address = static_cast<std::uint32_t>(random()) & (prefix == 0 ? 0 : ~0u << (32 - prefix));
                std::string text = std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
                                   std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255) + "/" +
                                   std::to_string(prefix);
                server::ParseBanTarget(text, &ban, &error);
            }
            ban.since = kNow;
            ban.until = i % 3 == 0 ? 0 : kNow + 86400;
            ban.reason = "benchmark";
            bans.Add(ban);
        }
        return bans;
    }();
    return list;
}

void BM_LoginCheckNotBanned(benchmark::State &state) {
    server::BanList &bans = HundredThousandBans();
    // Addresses no ban covers, so every network length is looked at.
    std::vector<std::uint32_t> addresses;
    std::mt19937 random(11);
    for (int tries = 0; addresses.size() < 1024 && tries < 1000000; ++tries) {
        std::uint32_t address = static_cast<std::uint32_t>(random());
        if (!bans.FindAddress(address, kNow)) addresses.push_back(address);
    }
    std::size_t next = 0, found = 0;
    for (auto _ : state) {
        found += bans.Find("anna", addresses[next], kNow) != nullptr;
        next = (next + 1) % addresses.size();
    }
    benchmark::DoNotOptimize(found);
    state.counters["bans"] = static_cast<double>(bans.Size());
}
BENCHMARK(BM_LoginCheckNotBanned);

void BM_LoginCheckBannedUser(benchmark::State &state) {
    server::BanList &bans = HundredThousandBans();
    for (auto _ : state) benchmark::DoNotOptimize(bans.Find("pilot4242", 0x0a000001, kNow));
}
BENCHMARK(BM_LoginCheckBannedUser);

}  // namespace

BENCHMARK_MAIN();
