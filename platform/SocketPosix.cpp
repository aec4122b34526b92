// The socket calls on Linux, macOS and the BSDs.
#if !defined(_WIN32)

#include <fcntl.h>
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

long long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
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
int OpenDatagramSocket() { return OpenSocket(SOCK_DGRAM, IPPROTO_UDP); }

void CloseSocket(int socket) {
    if (socket > 0) close(socket);
}

bool BindSocket(int socket, const sockaddr_in &address) {
    return bind(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

// A blocking connect to a server whose accept queue is full, or whose packets vanish, would freeze the
// simulator for the system's whole SYN retry schedule (minutes). Connecting non-blocking and polling
// for writability bounds that.
bool ConnectWithin(int socket, const sockaddr_in &address, int timeoutMs) {
    if (connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;

    long long deadline = NowMs() + timeoutMs;
    for (;;) {
        long long left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd entry{socket, POLLOUT, 0};
        int ready = poll(&entry, 1, (int)left);
        if (ready > 0) break;
        if (ready == 0 || errno != EINTR) return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    return error == 0;
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
