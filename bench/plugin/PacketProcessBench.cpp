// Costs of the packet processor and the location sender against the bare socket calls they are built on.
//
// A loopback peer stands in for the server on an address of this process's own. Run with
//   bench_plugin --benchmark_counters_tabular=true
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <pcrecpp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/plugin/LoopbackPeer.h"
#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/ModelPath.h"
#include "net/PacketProcess.h"
#include "net/StreamPhase.h"
#include "simhost/Host.h"
#include "tests/support/Loopback.h"
#include "traffic/AircraftUtils.h"
#include "traffic/OwnAircraft.h"

namespace {

// The peer, with room in its receive buffer for everything the plug-in sends while a benchmark runs.
struct Peer : benchsupport::LoopbackPeer {
    Peer() : LoopbackPeer("bench_plugin") {
        int big = 4 << 20;
        setsockopt(udp, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    }

    void SendDatagram(const std::string &text) const {
        sendto(udp, text.data(), text.size(), 0, reinterpret_cast<const sockaddr *>(&plugin), sizeof plugin);
    }
};

Peer &ThePeer() {
    static Peer peer;
    return peer;
}

std::string Location(int slot, int heading) {
    return std::to_string(slot) + "|l|100.5|200.25|-300.75|47.4500008|-122.309998|1234.5|2.5|-3.5|" +
           std::to_string(heading) +
           "|0.5|0.25|0.125|0.75|0.375|0.1|-0.2|0.3|1|0.9|0.8|0.7|0.6|0.5|0.4|0.3|0.2|0.1|1|0|1|1|0|"
           "0.11|0.22|0.33|0.44|0.55|0.66|0.77|0.88|1.76509338e+09|123456";
}

// The floor: the 190 non-blocking receives one call makes when nothing is waiting.
void BM_EmptyReceives190(benchmark::State &state) {
    ThePeer();
    char buffer[1400];
    for (auto _ : state) {
        for (int i = 0; i < 90; i++) {
            sockaddr_in source;
            socklen_t length = sizeof source;
            benchmark::DoNotOptimize(
                recvfrom(sockfd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&source), &length));
        }
        for (int i = 0; i < 100; i++) benchmark::DoNotOptimize(recv(tsockfd, buffer, sizeof buffer, MSG_DONTWAIT));
    }
}
BENCHMARK(BM_EmptyReceives190);

void BM_PacketProcessIdle(benchmark::State &state) {
    ThePeer();
    for (auto _ : state) benchmark::DoNotOptimize(SkorvalePacketProcess(0.03f, 0.03f, 0, nullptr));
}
BENCHMARK(BM_PacketProcessIdle);

void BM_PacketProcess90Datagrams(benchmark::State &state) {
    Peer &peer = ThePeer();
    std::string datagrams[90];
    for (int i = 0; i < 90; i++) datagrams[i] = Location(i % 19 + 1, i);
    for (auto _ : state) {
        state.PauseTiming();
        for (const std::string &text : datagrams) peer.SendDatagram(text);
        state.ResumeTiming();
        SkorvalePacketProcess(0.03f, 0.03f, 0, nullptr);
    }
    // Each call must have applied all 90: the last one went to slot 90 % 19 = 14 with heading 89.
    if (AircraftList[14].psi != 89.0f) state.SkipWithError("not every datagram was applied");
    state.SetItemsProcessed(state.iterations() * 90);
    state.counters["us_per_datagram"] =
        benchmark::Counter((double)state.iterations() * 90, benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                           benchmark::Counter::kIs1000);
}
BENCHMARK(BM_PacketProcess90Datagrams)->Unit(benchmark::kMicrosecond);

void BM_PacketProcess100StreamMessages(benchmark::State &state) {
    Peer &peer = ThePeer();
    std::string messages;
    for (int i = 0; i < 100; i++) messages += std::to_string(i % 19 + 1) + "|c|Callsign" + std::to_string(i) + "\n";
    for (auto _ : state) {
        state.PauseTiming();
        if (send(peer.stream, messages.data(), messages.size(), 0) != (ssize_t)messages.size())
            state.SkipWithError("short send");
        int waiting = 0;
        for (int spin = 0; spin < 1000 && waiting < (int)messages.size(); spin++) ioctl(tsockfd, FIONREAD, &waiting);
        state.ResumeTiming();
        SkorvalePacketProcess(0.03f, 0.03f, 0, nullptr);
    }
    if (Callsigns[100 % 19] != "Callsign99" && Callsigns[99 % 19 + 1] != "Callsign99")
        state.SkipWithError("the last message was not handled");
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_PacketProcess100StreamMessages)->Unit(benchmark::kMicrosecond);

// Model messages whose path is made of "/." pieces, the shape that makes a backtracking name pattern
// try every split, handled as the stream phase handles them (without the socket). 4 KB is over the
// path limit; 1 KB is the longest path still read.
std::string CraftedPath(size_t bytes) {
    std::string path;
    while (path.size() < bytes) path += "/.";
    return path;
}

void BM_CraftedModelMessage(benchmark::State &state) {
    ThePeer();
    std::string line = "4|p|" + CraftedPath((size_t)state.range(0)) + "\n";
    for (auto _ : state) {
        Planes[4] = "Plane 4";
        TakeStreamBytes(line.data(), line.size());
    }
    if (!tcpBuffer.empty()) state.SkipWithError("the line was not handled");
}
BENCHMARK(BM_CraftedModelMessage)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);

// The name of a crafted path: the one-pass reader against the pattern it stands for.
void BM_ModelNameOnePass(benchmark::State &state) {
    std::string path = CraftedPath((size_t)state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(ModelName(path));
}
BENCHMARK(BM_ModelNameOnePass)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);

void BM_ModelNamePattern(benchmark::State &state) {
    static const pcrecpp::RE pattern("^.*\\/(.*?)\\.[aA][cC][fF]");
    std::string path = CraftedPath((size_t)state.range(0));
    std::string name;
    for (auto _ : state) benchmark::DoNotOptimize(pattern.PartialMatch(path, &name));
}
BENCHMARK(BM_ModelNamePattern)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);

// The per-frame location message: read the own state, format it, send it.
void BM_LocationMessage(benchmark::State &state) {
    Peer &peer = ThePeer();
    long sent = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SendLocationMessage());
        if (++sent % 256 == 0) {
            state.PauseTiming();
            peer.Drain();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_LocationMessage);

// The bare send of a datagram as long as a location message.
void BM_BareSendto(benchmark::State &state) {
    Peer &peer = ThePeer();
    SendLocationMessage();
    char buffer[2048];
    ssize_t length = recv(peer.udp, buffer, sizeof buffer, 0);
    if (length <= 0) state.SkipWithError("no location datagram to copy");
    long sent = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sendto(sockfd, buffer, (size_t)length, MSG_DONTWAIT | MSG_NOSIGNAL,
                                        reinterpret_cast<const sockaddr *>(&serverAddress), sizeof serverAddress));
        if (++sent % 256 == 0) {
            state.PauseTiming();
            peer.Drain();
            state.ResumeTiming();
        }
    }
    state.counters["bytes"] = (double)length;
}
BENCHMARK(BM_BareSendto);

// The whole plug-in's work in one simulator frame at 60 Hz with 19 peers, each sending a location a frame,
// and the plane list open: every flight loop, drawing phase and window callback the host runs.
void BM_FrameWith19Peers(benchmark::State &state) {
    Peer &peer = ThePeer();
    simhost::Host &host = simhost::TheHost();
    std::string names;
    for (int slot = 1; slot <= 19; slot++) names += std::to_string(slot) + "|c|Pilot" + std::to_string(slot) + "\n";
    send(peer.stream, names.data(), names.size(), 0);
    if (!showPlaneWindow && !host.ChooseMenuItem({"Skorvale", "Toggle Plane List"}))
        state.SkipWithError("no plane list");
    int frame = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int slot = 1; slot <= 19; slot++) peer.SendDatagram(Location(slot, frame % 360));
        if (++frame % 256 == 0) peer.Drain();
        state.ResumeTiming();
        host.RunFrame();
    }
    state.counters["us_per_frame"] =
        benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                           benchmark::Counter::kIs1000);
}
BENCHMARK(BM_FrameWith19Peers)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
