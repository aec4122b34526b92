// The plug-in's per-frame cost of instanced traffic: instances placed, TCAS targets written, labels drawn.
//
// 19 peers (what the relay hands a plug-in that does not ask) and 63 (every TCAS target, what instanced
// traffic asks for) fly near the user as instances, a third of them on the ground (terrain probes), with
// the TCAS override set and the labels on; the host's SDK calls are real.
// Run build/bench/plugin/bench_instanced_traffic; a 60 fps frame is 16.7 ms, so the target of 0.3 % of
// it is 50 microseconds a frame.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/SkorvaleSE.h"
#include "simhost/Host.h"
#include "traffic/AircraftUtils.h"
#include "traffic/InstancedTraffic.h"
#include "traffic/PlaneAccess.h"
#include "traffic/TcasTargets.h"
#include "ui/TrafficLabels.h"

namespace {

// Once per process: Google Benchmark runs the function several times, and the plug-in's state lives on.
void SetUpTraffic() {
    static bool done = false;
    if (done) return;
    done = true;
    simhost::Host &host = simhost::TheHost();
    host.Reset();
    host.SetTerrain(simhost::Terrain::Hills);
    // X-Plane's folder with the zip's layout: the models beside the plug-in.
    char folder[] = "/tmp/skorvale-bench-XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    const std::string root = folder;
    mkdir((root + "/Resources").c_str(), 0700);
    mkdir((root + "/Resources/plugins").c_str(), 0700);
    mkdir((root + "/Resources/plugins/Skorvale").c_str(), 0700);
    if (symlink(SKORVALE_MODELS_DIR, (root + "/Resources/plugins/Skorvale/models").c_str()) != 0) std::abort();
    host.SetSystemPath(root);
    // The models load while the peers first fly (Fly), so the folder goes only at exit.
    static std::string folderToRemove;
    folderToRemove = root;
    std::atexit([] { std::system(("rm -rf '" + folderToRemove + "'").c_str()); });
    for (int i = 0; i < kSlotCount; i++) AircraftList[i].set(i);
    StartInstancedTraffic();
    StartTrafficLabels();
    trafficModels = 1;
    tcpconnected = 1;
    AcquirePlanes();
    const double ux = host.GetDataRef("sim/flightmodel/position/local_x");
    const double uz = host.GetDataRef("sim/flightmodel/position/local_z");
    for (int slot = 1; slot < kSlotCount; slot++) {
        Aircraft &a = AircraftList[slot];
        a.x = static_cast<float>(ux + 400.0 * slot * (slot % 2 ? 1 : -1));
        a.z = static_cast<float>(uz - 300.0 * slot);
        a.y = slot % 3 == 0 ? 60 : 800;
        a.psi = 10.0f * slot;
        for (float &g : a.gear) g = slot % 3 == 0 ? 1.0f : 0.0f;
        a.nav = a.beacon = a.strobe = 1;
        Callsigns[slot] = "PEER" + std::to_string(slot);
    }
}

// Slots 1..`peers` fly, the others are empty; returns once each flying peer is an instance (the models
// load over a few frames).
void Fly(int peers) {
    simhost::Host &host = simhost::TheHost();
    for (int slot = 1; slot < kSlotCount; slot++) {
        if (slot > peers) {
            ForgetTrafficSlot(slot);
            continue;
        }
        NoteTrafficModelPath(slot, slot % 2 ? "Aircraft/Laminar Research/Boeing 737-800/b738.acf" : "");
        NoteTrafficLocation(slot);
    }
    for (int frame = 0; frame < 120 && InstanceCount() != peers; frame++) {
        InstancedTrafficFrame(1.0f / 60);
        host.RunFrame();
    }
    if (InstanceCount() != peers) {
        std::fprintf(stderr, "bench_instanced_traffic: %d instances, not %d\n", InstanceCount(), peers);
        for (const std::string &p : host.Instancing().loadProblems) std::fprintf(stderr, "  %s\n", p.c_str());
        std::exit(1);
    }
}

// One frame's work: the frame loop's instanced traffic and TCAS targets, then the labels' draw callback.
void BM_InstancedTrafficFrame(benchmark::State &state) {
    SetUpTraffic();
    const int peers = static_cast<int>(state.range(0));
    Fly(peers);
    simhost::Host &host = simhost::TheHost();
    long frames = 0;
    for (auto _ : state) {
        InstancedTrafficFrame(1.0f / 60);
        TcasTargetsFrame();
        DrawTrafficLabels(xplm_Phase_Window, 1, nullptr);
        // The host's frame (draw record, clock) outside the measurement, now and then.
        if (++frames % 600 == 0) {
            state.PauseTiming();
            host.RunFrame();
            for (int slot = 1; slot <= peers; slot++) NoteTrafficLocation(slot);
            state.ResumeTiming();
        }
    }
    state.counters["peers"] = peers;
    state.counters["instances"] = InstanceCount();
    state.counters["tcasTargets"] = static_cast<double>(host.Tcas().targets.size());
}
BENCHMARK(BM_InstancedTrafficFrame)->Arg(kDefaultPeers)->Arg(kInstancedPeers)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
