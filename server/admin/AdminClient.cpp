// The admin command's side of the control socket.
#include "server/admin/AdminClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>

namespace server {

int RunAdminCommand(const std::string &socketPath, const std::vector<std::string> &words) {
    if (words.empty()) {
        std::cerr << "skorvale-server admin: give a command (skorvale-server admin --help lists them)\n";
        return 2;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        std::cerr << "skorvale-server admin: socket path too long: " << socketPath << "\n";
        return 2;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::cerr << "skorvale-server admin: cannot reach the server at " << socketPath << ": " << std::strerror(errno)
                  << " (is it running with --admin-socket, and are you its user?)\n";
        if (fd >= 0) ::close(fd);
        return 1;
    }
    std::string request;
    for (const std::string &word : words) request += word + '\0';
    for (std::size_t sent = 0; sent < request.size();) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    std::string answer;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
        char chunk[65536];
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        answer.append(chunk, static_cast<std::size_t>(n));
        if (answer.size() > (16 << 20)) break;
    }
    ::close(fd);
    if (answer.rfind("ok\n", 0) == 0) {
        std::cout << answer.substr(3);
        return 0;
    }
    if (answer.empty()) {
        std::cerr << "skorvale-server admin: no answer from the server (not its user?)\n";
    } else {
        std::cerr << "skorvale-server admin: " << answer;
    }
    return 1;
}

}  // namespace server
