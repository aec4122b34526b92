// The socket calls on Linux, macOS and the BSDs.
#if !defined(_WIN32)

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/ReceiveLoop.h"
#include "platform/Socket.h"

namespace {

// Linux refuses SIGPIPE per call; macOS and the BSDs per socket (SO_NOSIGPIPE, set at its making).
#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_DONTWAIT | MSG_NOSIGNAL;
#else
constexpr int kSendFlags = MSG_DONTWAIT;
#endif

// Descriptor 0 means "closed" throughout the plug-in, so a socket that lands on 0 (a host started
// with standard input closed) is moved to a higher number.
int OffZero(int fd) {
    if (fd != 0) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    return moved;
}

int OpenSocket(int type, int protocol) {
#if defined(SOCK_CLOEXEC)
    int fd = OffZero(socket(AF_INET, type | SOCK_CLOEXEC, protocol));
#else
    int fd = OffZero(socket(AF_INET, type, protocol));
    if (fd > 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
#endif
    if (fd <= 0) return 0;
#if defined(SO_NOSIGPIPE)
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

#if !defined(__linux__)
ReceiveOutcome ReceiveOneDatagram(int socket, Datagram *out) {
    socklen_t length = sizeof out->source;
    ssize_t n = recvfrom(socket, out->bytes, sizeof out->bytes, MSG_DONTWAIT,
                         reinterpret_cast<sockaddr *>(&out->source), &length);
    if (n < 0) return PosixReceiveError(errno);
    if (length < sizeof out->source || out->source.sin_family != AF_INET) out->source.sin_family = 0;
    out->length = (size_t)n;
    return ReceiveOutcome::kDatagram;
}
#endif

}  // namespace

void StartNetworking() {}
void StopNetworking() {}

int OpenStreamSocket() { return OpenSocket(SOCK_STREAM, IPPROTO_TCP); }
int OpenDatagramSocket() {
    int socket = OpenSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (socket == 0) return 0;
    int size = kDatagramReceiveBuffer;
    setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return socket;
}

void CloseSocket(int socket) {
    if (socket > 0) close(socket);
}

bool BindSocket(int socket, const sockaddr_in &address) {
    return bind(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

namespace {

std::string ConnectErrorText(int code) {
    switch (code) {
        case ECONNREFUSED:
            return "connection refused";
        case ETIMEDOUT:
            return "timed out";
        case ENETUNREACH:
            return "network unreachable";
        case EHOSTUNREACH:
            return "host unreachable";
        case EADDRNOTAVAIL:
            return "address not available";
        case ECONNRESET:
            return "connection reset";
        default:
            return "system error " + std::to_string(code);
    }
}

}  // namespace

ConnectProgress StartConnect(int socket, const sockaddr_in &address, std::string *error) {
    if (connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        return ConnectProgress::Connected;
    }
    if (errno == EINPROGRESS || errno == EINTR) return ConnectProgress::Pending;
    *error = ConnectErrorText(errno);
    return ConnectProgress::Failed;
}

ConnectProgress CheckConnect(int socket, std::string *error, int waitMs) {
    pollfd entry{socket, POLLOUT, 0};
    int ready = poll(&entry, 1, waitMs);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return ConnectProgress::Pending;
    int code = 0;
    socklen_t length = sizeof code;
    if (ready < 0 || getsockopt(socket, SOL_SOCKET, SO_ERROR, &code, &length) != 0) code = errno;
    if (code == 0) return ConnectProgress::Connected;
    *error = ConnectErrorText(code);
    return ConnectProgress::Failed;
}

void EnableKeepAlive(int socket) {
    int on = 1, idle = 10, interval = 2, count = 8;
    setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#if defined(TCP_KEEPIDLE)
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
#elif defined(TCP_KEEPALIVE)
    // macOS names the idle time so.
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPALIVE, &idle, sizeof idle);
#endif
#if defined(TCP_KEEPINTVL)
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
#endif
#if defined(TCP_KEEPCNT)
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
    (void)idle;
    (void)interval;
    (void)count;
}

long SendOnSocket(int socket, const char *bytes, size_t size) { return (long)send(socket, bytes, size, kSendFlags); }

long SendDatagram(int socket, const char *bytes, size_t size, const sockaddr_in &to) {
    return (long)sendto(socket, bytes, size, kSendFlags, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

long ReceiveOnStream(int socket, char *buffer, size_t size) {
    ssize_t n = recv(socket, buffer, size, MSG_DONTWAIT);
    if (n >= 0) return (long)n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return kNothingNow;
    return kStreamFailed;
}

#if defined(__linux__)
// The whole batch in one system call: the same datagrams as one receive each, without paying the
// system-call entry for every one. Module storage, so a call allocates nothing.
int ReceiveDatagrams(int socket, Datagram *out, int count) {
    if (count > kMostDatagrams) count = kMostDatagrams;
    static iovec pieces[kMostDatagrams];
    static mmsghdr messages[kMostDatagrams];
    for (int i = 0; i < count; i++) {
        pieces[i] = {out[i].bytes, sizeof out[i].bytes};
        messages[i].msg_hdr = {};
        messages[i].msg_hdr.msg_name = &out[i].source;
        messages[i].msg_hdr.msg_namelen = sizeof out[i].source;
        messages[i].msg_hdr.msg_iov = &pieces[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    int received = recvmmsg(socket, messages, (unsigned)count, MSG_DONTWAIT, nullptr);
    for (int i = 0; i < received; i++) {
        out[i].length = messages[i].msg_len;
        if (messages[i].msg_hdr.msg_namelen < sizeof out[i].source || out[i].source.sin_family != AF_INET) {
            out[i].source.sin_family = 0;
        }
    }
    return received < 0 ? 0 : received;
}
#else
int ReceiveDatagrams(int socket, Datagram *out, int count) {
    return ReceiveDatagramsOneByOne(socket, out, count, ReceiveOneDatagram);
}
#endif

#endif
