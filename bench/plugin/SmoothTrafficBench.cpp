// How smoothly another aircraft moves in the host, with smooth traffic off and on, over real loopback sockets.
//
// A loopback peer stands in for the server and flies slot 1 straight at 100 m/s, then in a 3 degree a
// second turn, sending 60 locations a second with 0 to 10 ms of random delay and 5 % lost; the host
// runs at 60 frames a second in real time. Run with
//   bench_smooth_traffic [STRAIGHT_SECONDS TURN_SECONDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/plugin/LoopbackPeer.h"
#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/PacketProcess.h"
#include "net/Protocol.h"
#include "simhost/Geo.h"
#include "simhost/Host.h"
#include "tests/support/Loopback.h"
#include "traffic/OwnAircraft.h"

namespace {

constexpr double kSpeed = 100.0;                  // m/s
constexpr double kTurnRate = 3.0 * M_PI / 180.0;  // rad/s
constexpr double kRadius = kSpeed / kTurnRate;    // m
constexpr double kStartX = -300.0, kAltitude = 500.0;
constexpr double kRate = 60.0;

[[noreturn]] void Fail(const char *what) { benchsupport::Fail("bench_smooth_traffic", what); }

double Wall() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

void SleepUntilWall(double when) {
    double wait = when - Wall();
    if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
}

// The peer's true path: east along z = 0 for `straight` seconds, then turning right (towards +z).
struct Path {
    double start = 0, straight = 0;
    void At(double t, double *x, double *z, double *heading) const {
        double s = std::max(0.0, t - start);
        if (s <= straight) {
            *x = kStartX + kSpeed * s;
            *z = 0;
            *heading = 90;
            return;
        }
        double a = kTurnRate * (s - straight);
        *x = kStartX + kSpeed * straight + kRadius * std::sin(a);
        *z = kRadius * (1 - std::cos(a));
        *heading = std::fmod(90 + a * 180 / M_PI, 360.0);
    }
};

struct Peer : benchsupport::LoopbackPeer {
    Peer() : LoopbackPeer("bench_smooth_traffic") {}
};

std::string Location(double senderTime, double x, double z, double heading) {
    simhost::Host &host = simhost::TheHost();
    double lat = 0, lon = 0, el = 0;
    simhost::LocalToWorldAbout(host.OriginLatitude(), host.OriginLongitude(), x, kAltitude, z, lat, lon, el);
    long long seconds = (long long)std::floor(senderTime);
    long micros = (long)((senderTime - (double)seconds) * 1e6);
    char text[512];
    std::snprintf(text, sizeof text,
                  "1|l|%.9g|%.9g|%.9g|%.9f|%.9f|%.9g|0|0|%.9g|0.5|0.25|0.125|0.75|0.375|0.1|-0.2|0.3|1|0.9|0.8|0.7|"
                  "0.6|0.5|0.4|0.3|0.2|0.1|1|0|1|1|0|0.11|0.22|0.33|0.44|0.55|0.66|0.77|0.88|%.9g|%ld",
                  x, kAltitude, z, lat, lon, el, heading, (double)(float)seconds, micros);
    return text;
}

// Sends the path's locations at 60 a second until `end`, each delayed 0 to 10 ms, 5 % of them lost.
void Send(const Peer &peer, const Path &path, double end, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> delay(0.0, 0.010), chance(0.0, 1.0);
    std::multimap<double, std::string> due;
    long k = 0;
    while (true) {
        double next = path.start + (double)k / kRate;
        double wake = due.empty() ? next : std::min(next, due.begin()->first);
        if (wake > end) break;
        SleepUntilWall(wake);
        double now = Wall();
        if (now >= next) {
            double x, z, heading;
            path.At(next, &x, &z, &heading);
            if (chance(random) >= 0.05) due.emplace(next + delay(random), Location(next, x, z, heading));
            k++;
        }
        while (!due.empty() && due.begin()->first <= Wall()) {
            const std::string &text = due.begin()->second;
            sendto(peer.udp, text.data(), text.size(), 0, reinterpret_cast<const sockaddr *>(&peer.plugin),
                   sizeof peer.plugin);
            due.erase(due.begin());
        }
    }
}

struct Frame {
    double wall, x, z;
};

double Mean(const std::vector<double> &v) {
    double sum = 0;
    for (double d : v) sum += d;
    return v.empty() ? 0 : sum / (double)v.size();
}

double Std(const std::vector<double> &v) {
    double m = Mean(v), sum = 0;
    for (double d : v) sum += (d - m) * (d - m);
    return v.empty() ? 0 : std::sqrt(sum / (double)v.size());
}

double Percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, (size_t)(q * (double)v.size()))];
}

void Measure(const Peer &peer, int smooth, double straight, double turn) {
    smoothTraffic = smooth;
    simhost::Host &host = simhost::TheHost();
    Path path{Wall() + 0.3, straight};
    double end = path.start + straight + turn;
    std::thread sender(Send, std::cref(peer), std::cref(path), end, 24u);
    std::vector<Frame> frames;
    double next = Wall();
    while (Wall() < end) {
        host.RunFrame();
        frames.push_back({Wall(), host.GetDataRef("sim/multiplayer/position/plane1_x"),
                          host.GetDataRef("sim/multiplayer/position/plane1_z")});
        peer.Drain();
        next += 1.0 / kRate;
        SleepUntilWall(next);
    }
    sender.join();

    // The first second settles the delay; only frames from then on count.
    std::vector<double> steps, lags, cross;
    int still = 0;
    const double turnX = kStartX + kSpeed * straight;
    for (size_t i = 1; i < frames.size(); i++) {
        const Frame &f = frames[i], &p = frames[i - 1];
        if (f.wall < path.start + 1.0) continue;
        double step = std::hypot(f.x - p.x, f.z - p.z);
        steps.push_back(step);
        if (step < 1e-4) still++;
        if (f.x < turnX && f.z < 1e-3 && f.wall < path.start + straight)
            lags.push_back(f.wall - (path.start + (f.x - kStartX) / kSpeed));
        if (f.wall > path.start + straight + 0.5)
            cross.push_back(std::fabs(std::hypot(f.x - turnX, f.z - kRadius) - kRadius));
    }
    std::printf("%-4s %7zu %10.3f %6d %9.1f %9.1f %9.3f %9.3f\n", smooth ? "on" : "off", steps.size(),
                Std(steps) / Mean(steps), still, Mean(lags) * 1000, Percentile(lags, 0.95) * 1000, Mean(cross),
                Percentile(cross, 1.0));
}

}  // namespace

int main(int argc, char **argv) {
    double straight = argc > 1 ? std::atof(argv[1]) : 6.0;
    double turn = argc > 2 ? std::atof(argv[2]) : 6.0;
    if (!(straight >= 2 && straight <= 60 && turn >= 1 && turn <= 60)) Fail("seconds out of range (2-60, 1-60)");
    Peer peer;
    std::printf("smooth frames step_cv still lag_ms lag95_ms xtrack_m xtrackmax_m\n");
    Measure(peer, 0, straight, turn);
    Measure(peer, 1, straight, turn);
    XPluginDisable();
    XPluginStop();
    return 0;
}
