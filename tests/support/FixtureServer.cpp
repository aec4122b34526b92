// The loopback fixture server: one thread polls the listener, the datagram socket and every connection.
#include "tests/support/FixtureServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace testsupport {

namespace {

constexpr int kSendLimitMs = 2000;
// Datagrams taken per wake-up, so a flood cannot starve the stream connections.
constexpr int kDatagramsPerRound = 256;

void CloseFd(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

bool MakeAddress(const std::string &address, int port, sockaddr_in *out) {
    std::memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    out->sin_port = htons((uint16_t)port);
    return inet_pton(AF_INET, address.c_str(), &out->sin_addr) == 1;
}

FixtureServer::FixtureServer(const std::string &address, int port) : address_(address), port_(port) {
    sockaddr_in local;
    if (!MakeAddress(address, port, &local)) return;

    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    // Connections the fixture closed first linger in TIME_WAIT; the next fixture on this address must still bind.
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listenFd_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 || listen(listenFd_, 16) != 0)
        CloseFd(listenFd_);

    udpFd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (bind(udpFd_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) CloseFd(udpFd_);

    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!Ok() || wakeFd_ < 0) {
        CloseFd(listenFd_);
        CloseFd(udpFd_);
        CloseFd(wakeFd_);
        return;
    }
    thread_ = std::thread(&FixtureServer::Serve, this);
}

FixtureServer::~FixtureServer() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        Wake();
        thread_.join();
    }
    for (Connection &connection : connections_) CloseFd(connection.fd);
    CloseFd(listenFd_);
    CloseFd(udpFd_);
    CloseFd(wakeFd_);
}

void FixtureServer::Wake() {
    uint64_t one = 1;
    ssize_t written = write(wakeFd_, &one, sizeof one);
    (void)written;  // a full counter already means "wake up"
}

// Only this thread closes connection sockets, so a descriptor it polls can never be reused under it.
void FixtureServer::Serve() {
    std::vector<pollfd> fds;
    std::vector<size_t> owners;  // connection index of each entry from the fourth on
    for (;;) {
        fds.clear();
        owners.clear();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            CloseRequested();
            fds.push_back({wakeFd_, POLLIN, 0});
            fds.push_back({listenFd_, POLLIN, 0});
            fds.push_back({udpFd_, POLLIN, 0});
            for (size_t i = 0; i < connections_.size(); i++) {
                if (connections_[i].fd < 0) continue;
                fds.push_back({connections_[i].fd, POLLIN, 0});
                owners.push_back(i);
            }
        }
        if (poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR: look again

        if (fds[0].revents != 0) {
            uint64_t count;
            ssize_t got = read(wakeFd_, &count, sizeof count);
            (void)got;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (fds[1].revents != 0) AcceptPending();
        if (fds[2].revents != 0) ReceiveDatagrams();
        for (size_t i = 3; i < fds.size(); i++)
            if (fds[i].revents != 0) ReceiveStream(owners[i - 3]);
        changed_.notify_all();
    }
}

void FixtureServer::AcceptPending() {
    for (;;) {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        Connection connection;
        connection.fd = fd;
        connections_.push_back(connection);
    }
}

void FixtureServer::ReceiveDatagrams() {
    char buffer[65536];
    for (int i = 0; i < kDatagramsPerRound; i++) {
        Datagram datagram;
        socklen_t length = sizeof datagram.source;
        ssize_t got =
            recvfrom(udpFd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&datagram.source), &length);
        if (got < 0) return;
        datagram.bytes.assign(buffer, (size_t)got);
        lastSource_ = datagram.source;
        haveSource_ = true;
        datagrams_.push_back(std::move(datagram));
    }
}

void FixtureServer::ReceiveStream(size_t index) {
    Connection &connection = connections_[index];
    char buffer[65536];
    ssize_t got = recv(connection.fd, buffer, sizeof buffer, 0);
    if (got > 0) {
        connection.received.append(buffer, (size_t)got);
    } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        connection.peerClosed = true;
        CloseFd(connection.fd);
    }
}

void FixtureServer::CloseRequested() {
    for (Connection &connection : connections_) {
        if (!connection.closeRequested || connection.fd < 0) continue;
        if (connection.resetRequested) {
            linger abortive{1, 0};
            setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
        CloseFd(connection.fd);
    }
    changed_.notify_all();
}

bool FixtureServer::WaitUntil(int timeoutMs, const std::function<bool()> &condition) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), condition);
}

size_t FixtureServer::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_.size();
}

bool FixtureServer::WaitForConnections(size_t count, int timeoutMs) const {
    return WaitUntil(timeoutMs, [&] { return connections_.size() >= count; });
}

std::string FixtureServer::StreamBytes(size_t connection) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connection < connections_.size() ? connections_[connection].received : std::string();
}

bool FixtureServer::WaitForStreamBytes(size_t count, int timeoutMs, size_t connection) const {
    return WaitUntil(timeoutMs, [&] {
        return connection < connections_.size() && connections_[connection].received.size() >= count;
    });
}

bool FixtureServer::WaitForStreamLines(size_t lines, int timeoutMs, size_t connection) const {
    return WaitUntil(timeoutMs, [&] {
        if (connection >= connections_.size()) return false;
        const std::string &bytes = connections_[connection].received;
        size_t seen = 0;
        for (char c : bytes)
            if (c == '\n') seen++;
        return seen >= lines;
    });
}

bool FixtureServer::WaitForStreamClosed(int timeoutMs, size_t connection) const {
    return WaitUntil(timeoutMs,
                     [&] { return connection < connections_.size() && connections_[connection].peerClosed; });
}

bool FixtureServer::StreamClosedByPeer(size_t connection) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connection < connections_.size() && connections_[connection].peerClosed;
}

// Sends under the lock: the serving thread may close a connection at any time, and must not do so
// (letting the number be reused) while this send still uses it.
bool FixtureServer::SendStream(const std::string &text, size_t connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection >= connections_.size() || connections_[connection].fd < 0) return false;
    int fd = connections_[connection].fd;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendLimitMs);
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += (size_t)n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd entry{fd, POLLOUT, 0};
        poll(&entry, 1, (int)left.count());
    }
    return true;
}

void FixtureServer::CloseStream(size_t connection, bool reset) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (connection >= connections_.size()) return;
        connections_[connection].closeRequested = true;
        connections_[connection].resetRequested = reset;
    }
    Wake();
    WaitUntil(kSendLimitMs, [&] { return connections_[connection].fd < 0; });
}

size_t FixtureServer::DatagramCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return datagrams_.size();
}

std::vector<FixtureServer::Datagram> FixtureServer::Datagrams() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return datagrams_;
}

bool FixtureServer::WaitForDatagrams(size_t count, int timeoutMs) const {
    return WaitUntil(timeoutMs, [&] { return datagrams_.size() >= count; });
}

bool FixtureServer::SendDatagram(const std::string &bytes) {
    sockaddr_in target;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!haveSource_) return false;
        target = lastSource_;
    }
    return sendto(udpFd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&target), sizeof target) ==
           (ssize_t)bytes.size();
}

bool FixtureServer::SendDatagramTo(const std::string &bytes, const std::string &address, int port) {
    sockaddr_in target;
    if (!MakeAddress(address, port, &target)) return false;
    return sendto(udpFd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&target), sizeof target) ==
           (ssize_t)bytes.size();
}

SilentListener::SilentListener(const std::string &address, int port) {
    sockaddr_in local;
    if (!MakeAddress(address, port, &local)) return;
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listenFd_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 || listen(listenFd_, 0) != 0) {
        CloseFd(listenFd_);
        return;
    }
    // Linux queues one connection more than the backlog; once it sits there unaccepted the listener
    // drops every further handshake without a reply. The second filler makes sure of it.
    for (int i = 0; i < 2; i++) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
        fillers_.push_back(fd);
    }
    pollfd first{fillers_[0], POLLOUT, 0};
    ok_ = poll(&first, 1, 2000) == 1 && (first.revents & POLLOUT) != 0;
}

SilentListener::~SilentListener() {
    for (int fd : fillers_) close(fd);
    if (listenFd_ >= 0) close(listenFd_);
}

}  // namespace testsupport
