// The relay-server test harness: child process control and protocol clients on loopback sockets.
#include "tests/server/ServerHarness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "server/accounts/Digest.h"
#include "tests/support/Command.h"
#include "tests/support/Paths.h"

namespace servertest {

namespace {

constexpr int kPort = 49556;

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

sockaddr_in ServerEndpoint(const std::string &address) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(kPort);
    inet_pton(AF_INET, address.c_str(), &endpoint.sin_addr);
    return endpoint;
}

void BindSource(int fd, const std::string &source) {
    if (source.empty()) return;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
}

int ConnectStream(const std::string &address, const std::string &source) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    BindSource(fd, source);
    sockaddr_in endpoint = ServerEndpoint(address);
    if (connect(fd, reinterpret_cast<sockaddr *>(&endpoint), sizeof endpoint) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

ServerProcess::ServerProcess(const std::string &address, const std::vector<std::string> &arguments)
    : address_(address) {
    char pattern[] = "/tmp/skorvale-server-log-XXXXXX";
    int logFd = mkstemp(pattern);
    logPath_ = pattern;
    // SKORVALE_TEST_SERVER runs the suite against another build of the server, to compare the two.
    const char *other = std::getenv("SKORVALE_TEST_SERVER");
    std::vector<std::string> argv = {other && *other ? other : testsupport::ServerPath(), "--address", address};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    pid_ = fork();
    if (pid_ == 0) {
        dup2(logFd, 2);
        std::vector<char *> raw;
        for (auto &argument : argv) raw.push_back(argument.data());
        raw.push_back(nullptr);
        execv(raw[0], raw.data());
        _exit(127);
    }
    close(logFd);
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (Log().find("listening on") != std::string::npos) {
            ready_ = true;
            break;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    unlink(logPath_.c_str());
}

int ServerProcess::Stop(int signal) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

int HttpGet(const std::string &addressAndPort, const std::string &path, std::string *body) {
    std::size_t colon = addressAndPort.rfind(':');
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<std::uint16_t>(std::stoi(addressAndPort.substr(colon + 1))));
    inet_pton(AF_INET, addressAndPort.substr(0, colon).c_str(), &remote.sin_addr);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval timeout{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string response;
    if (connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) == 0) {
        std::string request = "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0 && response.size() < (4u << 20);) {
                response.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    close(fd);
    if (response.rfind("HTTP/1.1 ", 0) != 0) return 0;
    std::size_t bodyAt = response.find("\r\n\r\n");
    if (body) *body = bodyAt == std::string::npos ? std::string() : response.substr(bodyAt + 4);
    return std::atoi(response.c_str() + 9);
}

std::string ServerProcess::Log() const { return testsupport::ReadFile(logPath_); }

std::size_t ServerProcess::CountInLog(const std::string &text) const {
    std::string log = Log();
    std::size_t count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size())) ++count;
    return count;
}

bool ServerProcess::WaitForLog(const std::string &text, int timeoutMs, std::size_t occurrences) const {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (CountInLog(text) >= occurrences) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < deadline);
    return false;
}

std::string LocationFields(double latitude, double longitude, double elevation, int marker) {
    char head[160];
    std::snprintf(head, sizeof head, "%d|0|0|%.9g|%.9g|%.9g|1.5|-2|270", marker, latitude, longitude, elevation);
    std::string fields = head;
    for (int i = 0; i < 8; ++i) fields += "|0.25";  // flaps, brakes, sweep, controls
    for (int i = 0; i < 10; ++i) fields += "|1";    // gear
    fields += "|1|0|1|1|0";                         // lights
    for (int i = 0; i < 8; ++i) fields += "|0.75";  // throttles
    // The clock fields as a plug-in writes them (whole seconds of the wall clock as a float, microseconds),
    // taken once, so that a test can build the same fields again; the relay takes a clock within a day.
    static const std::string clock = [] {
        auto wall =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        char text[64];
        std::snprintf(text, sizeof text, "|%.9g|%lld", static_cast<double>(static_cast<float>(wall / 1000000)),
                      static_cast<long long>(wall % 1000000));
        return std::string(text);
    }();
    fields += clock;
    return fields;
}

ProtocolClient::ProtocolClient(const std::string &serverAddress, int uniqueId, const std::string &source)
    : serverAddress_(serverAddress), source_(source), id_(uniqueId) {
    auto deadline = Clock::now() + std::chrono::seconds(3);
    while ((tcp_ = ConnectStream(serverAddress, source)) < 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    udp_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    BindSource(udp_, source);
}

void ProtocolClient::RebindDatagramPort() {
    int fresh = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    BindSource(fresh, source_);
    close(udp_);
    udp_ = fresh;
}

ProtocolClient::~ProtocolClient() {
    if (tcp_ >= 0) close(tcp_);
    if (udp_ >= 0) close(udp_);
}

void ProtocolClient::Login(const std::string &user, const std::string &password) {
    SendLine(std::to_string(id_) + "|Opening Connection|" + user + "|" + server::LoginDigest(id_, user, password) +
             "|");
}

void ProtocolClient::SendLine(const std::string &line) { SendRaw(line + "\n"); }

void ProtocolClient::SendRaw(const std::string &bytes) {
    if (tcp_ < 0) return;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(tcp_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

void ProtocolClient::SendLocation(double latitude, double longitude, double elevation, int marker, bool viewOnly) {
    SendDatagram(std::to_string(id_) + (viewOnly ? "|VOLOC|" : "|LOC|") +
                 LocationFields(latitude, longitude, elevation, marker));
}

void ProtocolClient::SendDatagram(const std::string &bytes) {
    sockaddr_in endpoint = ServerEndpoint(serverAddress_);
    sendto(udp_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&endpoint), sizeof endpoint);
}

void ProtocolClient::SendIdentity(const std::string &callsign, const std::string &plane, const std::string &crew,
                                  int position) {
    std::string id = std::to_string(id_);
    SendRaw(id + "|PLANE|" + plane + "\n" + id + "|CALLSIGN|" + callsign + "|\n" + id + "|CREWID|" + crew + "|" +
            std::to_string(position) + "|\n");
}

void ProtocolClient::CloseStream() {
    if (tcp_ >= 0) close(tcp_);
    tcp_ = -1;
}

std::optional<std::string> ProtocolClient::ReadLine(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return line;
        }
        if (tcp_ < 0) return std::nullopt;
        pollfd fd{tcp_, POLLIN, 0};
        if (poll(&fd, 1, MillisecondsLeft(deadline)) <= 0) return std::nullopt;
        char chunk[65536];
        ssize_t n = recv(tcp_, chunk, sizeof chunk, 0);
        if (n <= 0) return std::nullopt;
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

bool ProtocolClient::WaitForLine(const std::string &line, int timeoutMs, std::vector<std::string> *seen) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (auto next = ReadLine(MillisecondsLeft(deadline))) {
        if (seen) seen->push_back(*next);
        if (*next == line) return true;
    }
    return false;
}

int ProtocolClient::WaitForSlot(const std::string &callsign, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::regex pattern("^(\\d+)\\|c\\|" + callsign + "$");
    while (auto next = ReadLine(MillisecondsLeft(deadline))) {
        std::smatch match;
        if (std::regex_match(*next, match, pattern)) return std::stoi(match[1]);
    }
    return 0;
}

std::vector<std::string> ProtocolClient::DrainLines(int ms) {
    std::vector<std::string> lines;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (auto next = ReadLine(MillisecondsLeft(deadline))) lines.push_back(*next);
    return lines;
}

std::vector<std::string> ProtocolClient::TakeLines(std::size_t maxBytes) {
    std::size_t taken = 0;
    while (tcp_ >= 0 && taken < maxBytes) {
        char chunk[1400];
        ssize_t n = recv(tcp_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            CloseStream();
            break;
        }
        if (n < 0) break;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        taken += static_cast<std::size_t>(n);
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = buffer_.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(buffer_.substr(start, end - start));
    }
    buffer_.erase(0, start);
    return lines;
}

std::optional<std::string> ProtocolClient::ReadDatagram(int timeoutMs) {
    pollfd fd{udp_, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0) return std::nullopt;
    char datagram[2048];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t n = recvfrom(udp_, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (n < 0) return std::nullopt;
    // The plug-in drops what does not come from the server's address; so does this client.
    char source[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &from.sin_addr, source, sizeof source);
    if (serverAddress_ != source || ntohs(from.sin_port) != kPort) return std::string("<foreign>");
    return std::string(datagram, static_cast<std::size_t>(n));
}

std::optional<std::string> ProtocolClient::WaitForDatagram(const std::string &prefix, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (auto next = ReadDatagram(MillisecondsLeft(deadline))) {
        if (next->compare(0, prefix.size(), prefix) == 0) return next;
    }
    return std::nullopt;
}

void ProtocolClient::DrainDatagrams(int ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (ReadDatagram(MillisecondsLeft(deadline))) {
    }
}

bool ProtocolClient::WaitClosed(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (tcp_ >= 0) {
        pollfd fd{tcp_, POLLIN, 0};
        if (poll(&fd, 1, MillisecondsLeft(deadline)) <= 0) return false;
        char chunk[65536];
        ssize_t n = recv(tcp_, chunk, sizeof chunk, 0);
        if (n <= 0) return true;
    }
    return true;
}

}  // namespace servertest

#include "tests/support/Loopback.h"

namespace servertest {

void ServerTest::StartServer(const std::vector<std::string> &arguments) {
    address_ = testsupport::UniqueLoopbackAddress();
    std::vector<std::string> resolved = arguments;
    for (std::string &argument : resolved) {
        for (std::size_t at = argument.find("@:"); at != std::string::npos; at = argument.find("@:", at)) {
            argument.replace(at, 1, address_);
        }
    }
    server_ = std::make_unique<ServerProcess>(address_, resolved);
    ASSERT_TRUE(server_->Ready()) << server_->Log();
}

std::unique_ptr<ProtocolClient> ServerTest::Join(int id, const std::string &callsign, double latitude, double longitude,
                                                 const std::string &plane, const std::string &source) {
    return JoinAt(*server_, id, callsign, latitude, longitude, plane, source);
}

std::unique_ptr<ProtocolClient> JoinAt(const ServerProcess &server, int id, const std::string &callsign,
                                       double latitude, double longitude, const std::string &plane,
                                       const std::string &source) {
    std::string loggedIn = "client " + std::to_string(id) + " (" + callsign + ") logged in";
    std::string learned = "client " + std::to_string(id) + " sends its datagrams from";
    std::size_t logins = server.CountInLog(loggedIn), endpoints = server.CountInLog(learned);
    auto client = std::make_unique<ProtocolClient>(server.Address(), id, source);
    client->Login(callsign);
    client->SendIdentity(callsign, plane.empty() ? "Aircraft/General/" + callsign + "/" + callsign + ".acf" : plane);
    // A datagram that overtakes the login is dropped, as it would be for a plug-in (which sends the next
    // one a frame later): wait for the login before the first position.
    EXPECT_TRUE(server.WaitForLog(loggedIn, 3000, logins + 1));
    client->SendLocation(latitude, longitude, 500, id);
    EXPECT_TRUE(server.WaitForLog(learned, 3000, endpoints + 1));
    return client;
}

}  // namespace servertest

namespace servertest {

long ServerTest::ServerMemoryKb() const {
    std::ifstream status("/proc/" + std::to_string(server_->Pid()) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

}  // namespace servertest
