// The network test harness: nats-server child processes and relay nodes joined to them.
#include "tests/server/ClusterHarness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/Command.h"
#include "tests/support/Loopback.h"
#include "tests/support/Paths.h"

namespace servertest {

namespace {

constexpr int kClientPort = 14222;
constexpr int kRoutePort = 16222;

bool Accepts(const std::string &address, int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &endpoint.sin_addr);
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&endpoint), sizeof endpoint) == 0;
    close(fd);
    return ok;
}

}  // namespace

NatsCluster::NatsCluster(int count, const std::vector<std::string> &extra)
    : address_(testsupport::UniqueLoopbackAddress()) {
    dir_ = testsupport::MakeTempDir("nats");
    for (int i = 0; i < count; ++i) {
        std::string routes;
        for (int j = 0; j < count; ++j) {
            if (j == i) continue;
            if (!routes.empty()) routes += ",";
            routes += "nats://" + address_ + ":" + std::to_string(kRoutePort + j);
        }
        std::string name = "n" + std::to_string(i);
        std::vector<std::string> argv = {"nats-server",
                                         "-a",
                                         address_,
                                         "-p",
                                         std::to_string(kClientPort + i),
                                         "-n",
                                         name,
                                         "-js",
                                         "-sd",
                                         dir_ + "/" + name,
                                         "--cluster_name",
                                         "skorvale-test",
                                         "--cluster",
                                         "nats://" + address_ + ":" + std::to_string(kRoutePort + i),
                                         "--routes",
                                         routes};
        if (count == 1) argv.resize(10);  // no cluster of one
        argv.insert(argv.end(), extra.begin(), extra.end());
        std::string log = dir_ + "/" + name + ".log";
        pid_t pid = fork();
        if (pid == 0) {
            int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 1);
            dup2(fd, 2);
            std::vector<char *> raw;
            for (auto &argument : argv) raw.push_back(argument.data());
            raw.push_back(nullptr);
            execvp(raw[0], raw.data());
            _exit(127);
        }
        pids_.push_back(pid);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int i = 0; i < count; ++i) {
        while (!Accepts(address_, kClientPort + i) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ready_ = true;
    for (int i = 0; i < count; ++i) ready_ = ready_ && Accepts(address_, kClientPort + i);
}

NatsCluster::~NatsCluster() {
    for (std::size_t i = 0; i < pids_.size(); ++i) Kill(static_cast<int>(i));
    testsupport::RemoveTree(dir_);
}

std::string NatsCluster::Url(int index) const {
    return "nats://" + address_ + ":" + std::to_string(kClientPort + index);
}

std::string NatsCluster::Urls(int first) const {
    std::string urls;
    int count = static_cast<int>(pids_.size());
    for (int k = 0; k < count; ++k) {
        if (!urls.empty()) urls += ",";
        urls += Url((first + k) % count);
    }
    return urls;
}

void NatsCluster::Kill(int index) {
    pid_t &pid = pids_[static_cast<std::size_t>(index)];
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string NatsCluster::Log(int index) const {
    return testsupport::ReadFile(dir_ + "/n" + std::to_string(index) + ".log");
}

bool NatsCluster::Publish(int index, const std::string &subject, const std::string &payload) const {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(static_cast<std::uint16_t>(kClientPort + index));
    inet_pton(AF_INET, address_.c_str(), &endpoint.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr *>(&endpoint), sizeof endpoint) != 0) {
        close(fd);
        return false;
    }
    std::string request = "CONNECT {\"verbose\":false,\"pedantic\":false}\r\nPUB " + subject + " " +
                          std::to_string(payload.size()) + "\r\n" + payload + "\r\nPING\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    // The server answers PING with PONG once it has handled everything before it.
    std::string answer;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (answer.find("PONG") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        char chunk[4096];
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        answer.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return answer.find("PONG") != std::string::npos;
}

std::vector<RecordedMessage> RecordedFirstProtocol() {
    std::ifstream file(std::string(testsupport::SourceDir()) + "/tests/server/fixtures/cluster-protocol-1.txt");
    std::vector<RecordedMessage> messages;
    std::string line;
    while (std::getline(file, line)) {
        std::size_t space = line.find(' ');
        if (line.empty() || line[0] == '#' || space == std::string::npos) continue;
        RecordedMessage message{line.substr(0, space), ""};
        for (std::size_t i = space + 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
                message.payload += line[i] == 'n' ? '\n' : line[i];
            } else {
                message.payload += line[i];
            }
        }
        messages.push_back(std::move(message));
    }
    return messages;
}

std::unique_ptr<ServerProcess> StartNode(const std::string &address, const std::string &node, const std::string &urls,
                                         const std::vector<std::string> &extra) {
    std::vector<std::string> arguments = {"--nats", urls, "--node", node};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    auto server = std::make_unique<ServerProcess>(address, arguments);
    // A fresh cluster elects its JetStream leader first; logins wait for that.
    EXPECT_TRUE(server->WaitForLog("login store ready", 15000)) << server->Log();
    return server;
}

}  // namespace servertest
