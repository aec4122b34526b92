// One GET over a plain socket, with timeouts on connect, send and receive.
#include "server/http/HealthProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "server/http/HttpObserver.h"

namespace server {

namespace {

constexpr int kTimeoutMs = 3000;
constexpr std::size_t kMaxAnswer = 64 * 1024;

}  // namespace

int ProbeHealth(const std::string &addressAndPort, const std::string &path, std::string *body) {
    std::string address;
    std::uint16_t port = 0;
    if (!ParseHttpAddress(addressAndPort, &address, &port)) return 0;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &remote.sin_addr);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return 0;
    std::string answer;
    pollfd wait{fd, POLLOUT, 0};
    bool connected = connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) == 0 ||
                     (errno == EINPROGRESS && poll(&wait, 1, kTimeoutMs) == 1 && (wait.revents & POLLOUT));
    int error = 0;
    socklen_t size = sizeof error;
    if (connected && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
        std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + addressAndPort + "\r\nConnection: close\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            wait.events = POLLIN;
            while (answer.size() < kMaxAnswer && poll(&wait, 1, kTimeoutMs) == 1) {
                ssize_t got = recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                answer.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    close(fd);
    if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) return 0;
    std::size_t bodyAt = answer.find("\r\n\r\n");
    if (body) *body = bodyAt == std::string::npos ? std::string() : answer.substr(bodyAt + 4);
    return std::atoi(answer.c_str() + 9);
}

}  // namespace server
