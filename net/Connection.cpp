// The server connection: sockets, login and logout, and the one way every sender writes to the stream.
#include "net/Connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/SkorvaleSE.h"
#include "net/Md5.h"
#include "net/Protocol.h"
#include "net/StreamPhase.h"
#include "traffic/CrewRedirect.h"
#include "traffic/PlaneAccess.h"

#ifndef SKORVALE_SERVER_ADDRESS
#define SKORVALE_SERVER_ADDRESS "127.0.0.1"
#endif

namespace {

// The build names the server; the environment may name another one (a local server, a test fixture).
// Only a valid dotted quad counts, so a typo falls back to the built-in address instead of to 0.0.0.0.
in_addr ServerIPv4() {
    in_addr address{};
    const char *override = std::getenv("SKORVALE_SERVER_ADDRESS");
    if (override != nullptr && inet_pton(AF_INET, override, &address) == 1) return address;
    inet_pton(AF_INET, SKORVALE_SERVER_ADDRESS, &address);
    return address;
}

// Descriptor 0 means "closed" throughout the plug-in, so a socket that lands on 0 (a host started
// with standard input closed) is moved to a higher number.
int OffZero(int fd) {
    if (fd != 0) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    return moved;
}

long long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// A blocking connect to a server whose accept queue is full, or whose packets vanish, would freeze the
// simulator for the system's whole SYN retry schedule (minutes). Connecting non-blocking and polling
// for writability bounds that. The socket is non-blocking afterwards, as the stream channel needs.
bool ConnectWithin(int fd, const sockaddr_in &address, int timeoutMs) {
    fcntl(fd, F_SETFL, O_NONBLOCK);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;

    long long deadline = NowMs() + timeoutMs;
    for (;;) {
        long long left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd entry{fd, POLLOUT, 0};
        int ready = poll(&entry, 1, (int)left);
        if (ready > 0) break;
        if (ready == 0 || errno != EINTR) return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    return error == 0;
}

std::string PasswordDigest() {
    std::string input;
    AddIntToString(&input, "", uniqueID);
    input += userID;
    input += password;

    md5_state_t state;
    md5_byte_t digest[16];
    md5_init(&state);
    md5_append(&state, reinterpret_cast<const md5_byte_t *>(input.data()), (int)input.size());
    md5_finish(&state, digest);

    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (md5_byte_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0f];
    }
    return text;
}

// Back to the closed state: both sockets closed, descriptors 0, no server address, not connected.
void CloseSockets() {
    if (tsockfd > 0) close(tsockfd);
    if (sockfd > 0) close(sockfd);
    tsockfd = 0;
    sockfd = 0;
    std::memset(&serverAddress, 0, sizeof serverAddress);
    tcpconnected = 0;
}

}  // namespace

ssize_t SendOnStream(const std::string &message) {
    if (tsockfd <= 0) {
        errno = EBADF;
        return -1;
    }
    return sendto(tsockfd, message.data(), message.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr *>(&serverAddress), sizeof serverAddress);
}

int ConnectToServer() {
    if (tcpconnected) return tcpconnected;

    tsockfd = OffZero(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    sockfd = OffZero(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));

    std::memset(&serverAddress, 0, sizeof serverAddress);
    serverAddress.sin_family = AF_INET;
    serverAddress.sin_port = htons(kServerPort);
    serverAddress.sin_addr = ServerIPv4();

    // Succeeds only where this machine is the server itself; elsewhere the datagram socket gets an
    // ephemeral port at its first send, and that is where the server's datagrams come back to.
    bind(sockfd, reinterpret_cast<const sockaddr *>(&serverAddress), sizeof serverAddress);
    fcntl(sockfd, F_SETFL, O_NONBLOCK);

    bool reached = tsockfd > 0 && sockfd > 0 && ConnectWithin(tsockfd, serverAddress, kConnectTimeoutMs);

    std::string opening;
    AddIntToString(&opening, "", uniqueID);
    opening += "|Opening Connection|";
    opening += userID;
    opening += "|";
    opening += PasswordDigest();
    opening += "|\n";

    tcptx = "Tx";
    // One send; a short one still counts, as the server reads the rest of the line when it comes.
    if (reached && SendOnStream(opening) > 0) {
        // Nothing of an earlier connection's stream may join this one's first message.
        ResetStreamPhase();
        tcpconnected = 1;
        // Online now: the multiplayer aircraft are ours to show the other pilots in.
        AcquirePlanes();
        return tcpconnected;
    }

    // A failed attempt gives its sockets back at once, so repeated attempts cannot pile them up.
    CloseSockets();
    return tcpconnected;
}

void CloseServerConnection() {
    CloseSockets();
    // The user's aircraft goes back to the host whether or not a connection was open, and the
    // multiplayer aircraft to X-Plane's AI and other plug-ins.
    ReleasePlanePath();
    ReleasePlanes();
}

int DisconnectFromServer() {
    if (tcpconnected) {
        std::string closing;
        AddIntToString(&closing, "", uniqueID);
        closing += "|Closing Connection\n";
        SendOnStream(closing);  // the server may be gone already; the state is cleared regardless
    }
    CloseServerConnection();
    return 1;
}
