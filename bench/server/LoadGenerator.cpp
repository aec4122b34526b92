// skorvale-server-load: runs N protocol clients sending R location datagrams a second each against a
// real skorvale-server process for T seconds, and reports relayed datagrams a second, relay latency,
// the server's CPU time, and the CPU cost of a bare sendto of the same size for comparison.
//
// Latency is measured from the sender's sendto to the moment the system queued the relayed datagram on
// the receiver's socket (its SO_TIMESTAMPNS stamp), both on the wall clock: when this program gets
// round to reading is not the relay's doing, so the reader can take its datagrams in batches and stay
// cheap. With --pin the servers (and NATS) run on the first core and this program on the last, so the
// generator never takes the server's core.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/accounts/Digest.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPort = 49556;
constexpr int kNatsPort = 14222;
constexpr int kHttpPort = 18480;  // the first node's /metrics; the second node's is the next port
// How long the reader rests between rounds, and the sender's pacing step.
constexpr auto kReadPause = std::chrono::milliseconds(5);
constexpr auto kSendTick = std::chrono::milliseconds(1);

// The wall clock, which the system's receive stamps use too.
std::int64_t WallNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Runs the calling thread (and what it forks) on one core; false when the machine has no such core.
bool PinToCore(int core) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

// When the system queued a datagram on its socket (wall clock, ns), or 0 without a stamp.
std::int64_t QueuedAt(msghdr &header) {
    for (cmsghdr *c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        return static_cast<std::int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
    }
    return 0;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// User plus system CPU time of a process, from /proc (clock ticks).
double ProcessCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

sockaddr_in Endpoint(const std::string &address, int port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &endpoint.sin_addr);
    return endpoint;
}

// Where client `index` of `count` flies: evenly round a circle about 10 km across, so that each one's 19
// nearest are its neighbours on the circle and every client is shown by about 19 receivers, as pilots
// spread over a region are. With `oneSpot` all stand on the same point, as at a fly-in: ties in distance
// then go to the first logged in, and those few are shown by every receiver.
struct Place {
    double latitude = 47.45, longitude = 8.562;
};
Place PlaceOf(int index, int count, bool oneSpot) {
    Place place;
    if (oneSpot) return place;
    double angle = 2 * M_PI * index / count;
    place.latitude += 0.05 * std::sin(angle);
    place.longitude += 0.05 * std::cos(angle) / std::cos(place.latitude * M_PI / 180);
    return place;
}

// What a plug-in sends, with the send time (wall clock, ns) in local x and a realistic length.
std::string LocationDatagram(int id, std::int64_t sentNs, Place place = {}) {
    char position[64];
    std::snprintf(position, sizeof position, "|%.7f|%.7f", place.latitude, place.longitude);
    std::string text = std::to_string(id) + "|LOC|" + std::to_string(sentNs) + "|-1234.56787|8765.43262" + position +
                       "|432.100006|1.5|-2.25|270.000122";
    for (int i = 0; i < 8; ++i) text += "|0.254999995";
    for (int i = 0; i < 10; ++i) text += "|1";
    text += "|1|0|1|1|0";
    for (int i = 0; i < 8; ++i) text += "|0.75";
    // The sender's clock as a plug-in writes it (the relay puts a clock a day away on its own).
    char clock[64];
    std::snprintf(clock, sizeof clock, "|%.9g|%lld", static_cast<double>(static_cast<float>(sentNs / 1000000000)),
                  static_cast<long long>(sentNs / 1000 % 1000000));
    return text + clock;
}

struct Client {
    int id = 0;
    int tcp = -1;
    int udp = -1;
    std::string lines;
};

// Microsecond histogram up to 100 ms, for percentiles without storing every sample.
class Histogram {
public:
    void Add(std::int64_t ns) {
        std::int64_t us = ns / 1000;
        buckets_[static_cast<std::size_t>(std::clamp<std::int64_t>(us, 0, kBuckets - 1))]++;
        max_ = std::max(max_, ns);
        ++count_;
    }
    double PercentileMs(double p) const {
        std::uint64_t rank = static_cast<std::uint64_t>(p * static_cast<double>(count_));
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < buckets_.size(); ++i) {
            seen += buckets_[i];
            if (seen > rank) return static_cast<double>(i + 1) / 1000.0;
        }
        return static_cast<double>(max_) / 1e6;
    }
    double MaxMs() const { return static_cast<double>(max_) / 1e6; }
    std::uint64_t Count() const { return count_; }

private:
    static constexpr std::int64_t kBuckets = 100000;
    std::vector<std::uint64_t> buckets_ = std::vector<std::uint64_t>(kBuckets);
    std::int64_t max_ = 0;
    std::uint64_t count_ = 0;
};

// CPU seconds per call of `count` bare sendto calls of `size` bytes to a loopback socket that is drained.
double BareSendtoCost(const std::string &address, std::size_t size, int count) {
    int sink = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at = Endpoint(address, 0);
    bind(sink, reinterpret_cast<sockaddr *>(&at), sizeof at);
    socklen_t length = sizeof at;
    getsockname(sink, reinterpret_cast<sockaddr *>(&at), &length);
    int buffer = 8 << 20;
    setsockopt(sink, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    int source = socket(AF_INET, SOCK_DGRAM, 0);
    std::string payload(size, 'x');
    double spent = 0;
    char drain[2048];
    for (int done = 0; done < count;) {
        double start = ThreadCpuSeconds();
        for (int i = 0; i < 1000 && done < count; ++i, ++done) {
            sendto(source, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&at), sizeof at);
        }
        spent += ThreadCpuSeconds() - start;
        while (recv(sink, drain, sizeof drain, MSG_DONTWAIT) > 0) {
        }
    }
    close(sink);
    close(source);
    return spent / count;
}

// One measured run: the nodes (one alone, or two joined through a NATS server), the clients spread
// over them, and what the receivers saw.
struct Setup {
    std::string serverPath, natsPath;
    std::vector<std::string> addresses;  // one per node
    int clients = 20, rate = 60;
    double seconds = 5;
    bool pin = false, oneSpot = false;
    int serverCore = 0, generatorCore = 0;
    std::vector<std::string> serverArguments;  // added to every node's command line
};

// The server's own relay-latency histogram (arrival on its socket to relayed), from /metrics: cumulative
// counts by upper bound in seconds.
struct ServerHistogram {
    std::vector<std::pair<double, std::uint64_t>> buckets;
    bool ok = false;
    // The smallest bound under which a share `p` of the datagrams fell, or infinity.
    double Percentile(double p) const {
        if (buckets.empty()) return 0;
        double total = static_cast<double>(buckets.back().second);
        for (const auto &[bound, count] : buckets) {
            if (static_cast<double>(count) >= p * total) return bound;
        }
        return buckets.back().first;
    }
    // The share of the datagrams relayed within `seconds`, a bucket's bound.
    double ShareWithin(double seconds) const {
        if (buckets.empty() || buckets.back().second == 0) return 0;
        for (const auto &[bound, count] : buckets) {
            if (bound >= seconds) return static_cast<double>(count) / static_cast<double>(buckets.back().second);
        }
        return 1;
    }
};

struct Result {
    bool ok = false;
    double elapsed = 0, serverCpu = 0, natsCpu = 0;
    std::uint64_t sent = 0, received = 0;
    Histogram latency;
    ServerHistogram serverLatency;
};

// GET /metrics from a node, and its relay-latency buckets.
ServerHistogram FetchServerHistogram(const std::string &address, int port) {
    ServerHistogram histogram;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at = Endpoint(address, port);
    timeval timeout{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string response;
    if (connect(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0) {
        std::string request = "GET /metrics HTTP/1.1\r\nHost: " + address + "\r\nConnection: close\r\n\r\n";
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char chunk[16384];
        ssize_t n;
        while (response.size() < (1 << 20) && (n = recv(fd, chunk, sizeof chunk, 0)) > 0) {
            response.append(chunk, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    const std::string prefix = "skorvale_relay_latency_seconds_bucket{le=\"";
    std::istringstream lines(response);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) != 0) continue;
        std::size_t close = line.find('"', prefix.size());
        if (close == std::string::npos) continue;
        std::string bound = line.substr(prefix.size(), close - prefix.size());
        double seconds = bound == "+Inf" ? std::numeric_limits<double>::infinity() : std::stod(bound);
        histogram.buckets.emplace_back(seconds, std::stoull(line.substr(line.rfind(' ') + 1)));
    }
    histogram.ok = !histogram.buckets.empty();
    return histogram;
}

// What the nodes recorded between two readings, all nodes together.
ServerHistogram Difference(const std::vector<ServerHistogram> &before, const std::vector<ServerHistogram> &after) {
    ServerHistogram sum;
    sum.ok = true;
    for (std::size_t n = 0; n < after.size(); ++n) {
        if (!after[n].ok || !before[n].ok || after[n].buckets.size() != before[n].buckets.size()) return {};
        sum.buckets.resize(after[n].buckets.size());
        for (std::size_t i = 0; i < after[n].buckets.size(); ++i) {
            sum.buckets[i].first = after[n].buckets[i].first;
            sum.buckets[i].second += after[n].buckets[i].second - before[n].buckets[i].second;
        }
    }
    return sum;
}

pid_t StartQuiet(const std::vector<std::string> &argv, int core) {
    pid_t pid = fork();
    if (pid == 0) {
        if (core >= 0) PinToCore(core);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char *> raw;
        for (const std::string &argument : argv) raw.push_back(const_cast<char *>(argument.c_str()));
        raw.push_back(nullptr);
        execvp(raw[0], raw.data());
        _exit(127);
    }
    return pid;
}

void StopProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

bool WaitAccepts(const std::string &address, int port, int timeoutMs) {
    sockaddr_in endpoint = Endpoint(address, port);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        bool ok = connect(fd, reinterpret_cast<sockaddr *>(&endpoint), sizeof endpoint) == 0;
        close(fd);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return false;
}

Result Run(const Setup &setup) {
    Result result;
    const int clients = setup.clients, rate = setup.rate;
    const std::size_t nodes = setup.addresses.size();
    // Two nodes talk through one NATS server with JetStream (for the login store) on the first address.
    pid_t nats = -1;
    char storeDir[] = "/tmp/skorvale-load-nats-XXXXXX";
    std::string natsUrl = "nats://" + setup.addresses[0] + ":" + std::to_string(kNatsPort);
    if (nodes > 1) {
        if (!mkdtemp(storeDir)) return result;
        nats = StartQuiet(
            {setup.natsPath, "-a", setup.addresses[0], "-p", std::to_string(kNatsPort), "-js", "-sd", storeDir},
            setup.pin ? setup.serverCore : -1);
        if (!WaitAccepts(setup.addresses[0], kNatsPort, 5000)) {
            std::fprintf(stderr, "skorvale-server-load: %s does not start\n", setup.natsPath.c_str());
            StopProcess(nats);
            return result;
        }
    }
    // The nodes, quiet, with the location rate lifted when the load asks for more, and all clients (one
    // address here, where they stand for many machines) allowed to log in at once.
    std::vector<pid_t> servers;
    std::string limit = std::to_string(rate == 0 || rate > 100 ? 1000000 : 100);
    for (std::size_t n = 0; n < nodes; ++n) {
        std::vector<std::string> argv = {
            setup.serverPath,   "--open", "--address",
            setup.addresses[n], "--http", setup.addresses[n] + ":" + std::to_string(kHttpPort + static_cast<int>(n))};
        argv.insert(argv.end(), setup.serverArguments.begin(), setup.serverArguments.end());
        for (const char *argument :
             {"--max-clients", "1000", "--location-rate", limit.c_str(), "--max-pending-per-address", "100000"}) {
            argv.emplace_back(argument);
        }
        if (nodes > 1) {
            for (const char *argument : {"--nats", natsUrl.c_str(), "--store-replicas", "1", "--node"}) {
                argv.emplace_back(argument);
            }
            argv.push_back("node" + std::to_string(n));
        }
        servers.push_back(StartQuiet(argv, setup.pin ? setup.serverCore : -1));
    }
    auto stopAll = [&] {
        for (pid_t pid : servers) StopProcess(pid);
        StopProcess(nats);
        if (nodes > 1) std::filesystem::remove_all(storeDir);
    };

    std::vector<Client> all(static_cast<std::size_t>(clients));
    std::vector<sockaddr_in> endpoints;
    std::vector<Place> places;
    for (int i = 0; i < clients; ++i) places.push_back(PlaceOf(i, clients, setup.oneSpot));
    for (int i = 0; i < clients; ++i) {
        Client &client = all[static_cast<std::size_t>(i)];
        client.id = 1000 + i;
        // Client i talks to node i mod N: with two nodes, half of each receiver's aircraft are remote.
        const std::string &address = setup.addresses[static_cast<std::size_t>(i) % nodes];
        endpoints.push_back(Endpoint(address, kPort));
        auto deadline = Clock::now() + std::chrono::seconds(5);
        do {
            client.tcp = socket(AF_INET, SOCK_STREAM, 0);
            if (connect(client.tcp, reinterpret_cast<sockaddr *>(&endpoints.back()), sizeof endpoints.back()) == 0) {
                break;
            }
            close(client.tcp);
            client.tcp = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (Clock::now() < deadline);
        if (client.tcp < 0) {
            std::fprintf(stderr, "skorvale-server-load: cannot connect to %s:%d\n", address.c_str(), kPort);
            stopAll();
            return result;
        }
        std::string id = std::to_string(client.id), user = "load" + id;
        std::string login = id + "|Opening Connection|" + user + "|" + server::LoginDigest(client.id, user, "") +
                            "|\n" + id + "|PLANE|Aircraft/General/load.acf\n" + id + "|CALLSIGN|L" + id + "|\n" + id +
                            "|CREWID|BLANK|0|\n";
        send(client.tcp, login.data(), login.size(), MSG_NOSIGNAL);
        client.udp = socket(AF_INET, SOCK_DGRAM, 0);
        int buffer = 8 << 20, on = 1;
        setsockopt(client.udp, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        setsockopt(client.udp, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    }
    // Until every client shows all the others it can (19 at most), report positions now and then.
    int expected = std::min(clients - 1, 19);
    std::vector<int> named(all.size(), 0);
    auto setupEnd = Clock::now() + std::chrono::seconds(15);
    auto nextReport = Clock::now();
    while (Clock::now() < setupEnd && std::any_of(named.begin(), named.end(), [&](int n) { return n < expected; })) {
        if (Clock::now() >= nextReport) {
            for (Client &client : all) {
                std::string datagram =
                    LocationDatagram(client.id, 0, places[static_cast<std::size_t>(&client - all.data())]);
                sendto(client.udp, datagram.data(), datagram.size(), 0,
                       reinterpret_cast<sockaddr *>(&endpoints[static_cast<std::size_t>(&client - all.data())]),
                       sizeof(sockaddr_in));
            }
            nextReport = Clock::now() + std::chrono::milliseconds(200);
        }
        for (std::size_t i = 0; i < all.size(); ++i) {
            char chunk[8192];
            ssize_t n = recv(all[i].tcp, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n <= 0) continue;
            all[i].lines.append(chunk, static_cast<std::size_t>(n));
            std::size_t end;
            while ((end = all[i].lines.find('\n')) != std::string::npos) {
                std::string line = all[i].lines.substr(0, end);
                all[i].lines.erase(0, end + 1);
                if (line.find("|c|") != std::string::npos && line.find("BLANK") == std::string::npos) ++named[i];
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (std::any_of(named.begin(), named.end(), [&](int n) { return n < expected; })) {
        std::fprintf(stderr, "skorvale-server-load: the clients did not all see each other within 15 s\n");
        stopAll();
        return result;
    }
    // Drop the set-up traffic.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    char scratch[2048];
    for (Client &client : all) {
        while (recv(client.udp, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
        }
    }

    std::atomic<bool> running{true};
    Histogram &latency = result.latency;
    std::uint64_t &received = result.received;
    std::thread receiver([&] {
        if (setup.pin) PinToCore(setup.generatorCore);
        constexpr unsigned kBatch = 64;
        struct alignas(cmsghdr) Control {
            char bytes[CMSG_SPACE(sizeof(timespec))];
        };
        std::vector<std::array<char, 2048>> buffers(kBatch);
        std::vector<mmsghdr> headers(kBatch);
        std::vector<iovec> iov(kBatch);
        std::vector<Control> controls(kBatch);
        // Every socket in turn, then a rest, as a plug-in reads its socket once a frame. No epoll: each
        // datagram then costs the server's send nothing for waking a waiter, as it costs nothing with a
        // real plug-in, and every datagram carries its own arrival stamp, so the rest costs the
        // measurement nothing.
        while (running.load(std::memory_order_relaxed)) {
            for (Client &client : all) {
                for (;;) {
                    for (unsigned i = 0; i < kBatch; ++i) {
                        iov[i] = {buffers[i].data(), buffers[i].size()};
                        headers[i] = mmsghdr{};
                        headers[i].msg_hdr.msg_iov = &iov[i];
                        headers[i].msg_hdr.msg_iovlen = 1;
                        headers[i].msg_hdr.msg_control = controls[i].bytes;
                        headers[i].msg_hdr.msg_controllen = sizeof controls[i].bytes;
                    }
                    int got = recvmmsg(client.udp, headers.data(), kBatch, MSG_DONTWAIT, nullptr);
                    if (got <= 0) break;
                    for (int i = 0; i < got; ++i) {
                        const char *text = buffers[static_cast<std::size_t>(i)].data();
                        const char *tag = static_cast<const char *>(std::memchr(text, 'l', 8));
                        std::int64_t queued = QueuedAt(headers[static_cast<std::size_t>(i)].msg_hdr);
                        if (!tag || queued == 0) continue;
                        latency.Add(queued - std::strtoll(tag + 2, nullptr, 10));
                        ++received;
                    }
                    if (static_cast<unsigned>(got) < kBatch) break;
                }
            }
            std::this_thread::sleep_for(kReadPause);
        }
    });

    // Paced senders: client i sends at times start + (k + i / N) / R, spread evenly.
    std::uint64_t &sent = result.sent;
    auto serversCpu = [&] {
        double total = 0;
        for (pid_t pid : servers) total += ProcessCpuSeconds(pid);
        return total;
    };
    auto histograms = [&] {
        std::vector<ServerHistogram> all;
        for (std::size_t n = 0; n < nodes; ++n) {
            all.push_back(FetchServerHistogram(setup.addresses[n], kHttpPort + static_cast<int>(n)));
        }
        return all;
    };
    std::vector<ServerHistogram> histogramsBefore = histograms();
    double serverCpuStart = serversCpu(), natsCpuStart = nodes > 1 ? ProcessCpuSeconds(nats) : 0;
    auto start = Clock::now();
    auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(setup.seconds));
    std::int64_t round = 0;
    while (Clock::now() < end) {
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (rate > 0) {
                auto due = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                       (static_cast<double>(round) + static_cast<double>(i) / clients) / rate));
                if (due >= end) break;
                // One wake-up for every millisecond's worth of datagrams, not one for each: the send stamp
                // is taken when it really goes, so a datagram sent a little late is measured fairly.
                auto now = Clock::now();
                if (due > now) std::this_thread::sleep_until(std::max(due, now + kSendTick));
            }
            std::string datagram = LocationDatagram(all[i].id, WallNs(), places[i]);
            sendto(all[i].udp, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&endpoints[i]),
                   sizeof(sockaddr_in));
            ++sent;
        }
        ++round;
    }
    result.elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    result.serverCpu = serversCpu() - serverCpuStart;
    if (nodes > 1) result.natsCpu = ProcessCpuSeconds(nats) - natsCpuStart;
    result.serverLatency = Difference(histogramsBefore, histograms());
    running = false;
    receiver.join();
    for (Client &client : all) {
        close(client.tcp);
        close(client.udp);
    }
    stopAll();
    result.ok = true;
    return result;
}

void Report(const char *title, const Result &result, const Setup &setup, double bare) {
    std::size_t size = LocationDatagram(1000, WallNs()).size() - 5;  // as relayed: "<slot>|l|" + fields
    double elapsed = result.elapsed;
    double perRelayed = result.received ? result.serverCpu / static_cast<double>(result.received) : 0;
    std::printf("== %s\n", title);
    std::printf("clients %d, rate %s, %.1f s, datagram %zu bytes\n", setup.clients,
                setup.rate ? (std::to_string(setup.rate) + "/s each").c_str() : "as fast as possible", elapsed, size);
    std::printf("sent %llu location datagrams (%.0f/s), relayed %llu (%.0f/s)\n",
                static_cast<unsigned long long>(result.sent), static_cast<double>(result.sent) / elapsed,
                static_cast<unsigned long long>(result.received), static_cast<double>(result.received) / elapsed);
    // The histogram ends at 100 ms; a percentile there means "at least".
    auto percentile = [&](double p) {
        double ms = result.latency.PercentileMs(p);
        char text[32];
        std::snprintf(text, sizeof text, ms >= 100.0 ? ">= %.0f ms" : "%.3f ms", ms);
        return std::string(text);
    };
    double expected = static_cast<double>(result.sent) * std::min(setup.clients - 1, 19);
    std::printf("delivered %.2f%% of what the receivers should get\n",
                expected > 0 ? 100.0 * static_cast<double>(result.received) / expected : 0.0);
    std::printf("relay latency, sendto to the receiver's socket: p50 %s, p99 %s, max %.3f ms\n",
                percentile(0.50).c_str(), percentile(0.99).c_str(), result.latency.MaxMs());
    if (result.serverLatency.ok) {
        auto bound = [&](double p) {
            double seconds = result.serverLatency.Percentile(p);
            char text[32];
            std::snprintf(text, sizeof text, std::isinf(seconds) ? "> 50 ms" : "<= %g ms", seconds * 1e3);
            return std::string(text);
        };
        std::printf("server's own histogram, arrival to relayed: p50 %s, p99 %s, %.2f%% within 1 ms\n",
                    bound(0.50).c_str(), bound(0.99).c_str(), 100.0 * result.serverLatency.ShareWithin(1e-3));
    }
    std::printf("server CPU (all nodes): %.2f s in %.2f s = %.1f%% of one core; %.2f us per relayed datagram\n",
                result.serverCpu, elapsed + 0.3, 100.0 * result.serverCpu / (elapsed + 0.3), perRelayed * 1e6);
    if (setup.addresses.size() > 1) {
        std::printf("NATS server CPU: %.2f s = %.2f us per relayed datagram\n", result.natsCpu,
                    result.received ? result.natsCpu / static_cast<double>(result.received) * 1e6 : 0.0);
    }
    std::printf("bare sendto of %zu bytes: %.2f us; server per relayed datagram / bare sendto = %.2f\n", size,
                bare * 1e6, bare > 0 ? perRelayed / bare : 0.0);
}

// The address after `address` (127.a.b.c + 1), for the second node.
std::string NextAddress(const std::string &address) {
    in_addr parsed{};
    inet_pton(AF_INET, address.c_str(), &parsed);
    parsed.s_addr = htonl(ntohl(parsed.s_addr) + 1);
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &parsed, text, sizeof text);
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"skorvale-server-load: load generator for skorvale-server (loopback only)"};
    Setup setup;
    setup.serverPath = SKORVALE_SERVER_PATH;
    setup.natsPath = "nats-server";
    std::string address = "127.0.0.50";
    std::string nodes = "1";
    app.add_option("--server", setup.serverPath, "The skorvale-server program")->capture_default_str();
    app.add_option("--nats-server", setup.natsPath, "The nats-server program, for --nodes 2")->capture_default_str();
    app.add_option("--address", address, "Loopback address for the server (a second node takes the next one)")
        ->capture_default_str();
    app.add_option("--nodes", nodes,
                   "1: one node; 2: clients spread over two nodes joined through NATS; both: one run of each")
        ->capture_default_str()
        ->check(CLI::IsMember({"1", "2", "both"}));
    app.add_option("--clients", setup.clients, "Protocol clients")->capture_default_str()->check(CLI::Range(2, 200));
    std::vector<int> rates{60};
    app.add_option("--rate", rates,
                   "Location datagrams a second per client; 0 for as fast as possible. Several (--rate 60 120 240) "
                   "make one run each, for finding the saturation point")
        ->capture_default_str()
        ->check(CLI::Range(0, 100000));
    app.add_flag("--one-spot", setup.oneSpot,
                 "All clients on one point (a fly-in): the first logged in are shown by every receiver");
    app.add_flag("--pin", setup.pin, "Run the servers and NATS on the first core and this program on the last");
    app.add_option("--server-arg", setup.serverArguments, "An argument added to every node's command line (repeatable)")
        ->allow_extra_args(false);
    app.add_option("--seconds", setup.seconds, "Length of the measurement")
        ->capture_default_str()
        ->check(CLI::Range(0.5, 120.0));
    CLI11_PARSE(app, argc, argv);
    if (address.rfind("127.", 0) != 0 || NextAddress(address).rfind("127.", 0) != 0) {
        std::fprintf(stderr, "skorvale-server-load: only loopback addresses (127.0.0.0/8)\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    if (setup.pin) {
        long cores = sysconf(_SC_NPROCESSORS_ONLN);
        setup.generatorCore = static_cast<int>(cores - 1);
        if (cores < 2 || !PinToCore(setup.generatorCore)) {
            std::fprintf(stderr, "skorvale-server-load: --pin needs two cores\n");
            return 2;
        }
    }

    std::size_t size = LocationDatagram(1000, WallNs()).size() - 5;
    double bare = BareSendtoCost(address, size, 200000);
    for (int rate : rates) {
        setup.rate = rate;
        if (nodes != "2") {
            setup.addresses = {address};
            Result one = Run(setup);
            if (!one.ok) return 1;
            Report("one node", one, setup, bare);
        }
        if (nodes != "1") {
            setup.addresses = {address, NextAddress(address)};
            Result two = Run(setup);
            if (!two.ok) return 1;
            Report("two nodes through NATS, half of each receiver's aircraft on the other node", two, setup, bare);
        }
    }
    return 0;
}
