// The socket calls on Windows (Winsock 2).
#if defined(_WIN32)

#include "platform/ReceiveLoop.h"
#include "platform/Socket.h"
// After winsock2.h, which it needs.
#include <mstcpip.h>

// Windows's own headers have it in mswsock.h; mingw-w64's have none.
#if !defined(SIO_UDP_CONNRESET)
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace {

// Whether this module's WSAStartup succeeded and awaits its WSACleanup.
bool networkingStarted = false;

SOCKET Handle(int socket) { return (SOCKET)(unsigned)socket; }

int OpenSocket(int type, int protocol) {
    // WSA_FLAG_NO_HANDLE_INHERIT keeps the socket out of any process the simulator starts.
    SOCKET s = WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return 0;
    if (s == 0 || s > 0x7fffffff) {
        closesocket(s);
        return 0;
    }
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    return (int)s;
}

ReceiveOutcome ReceiveOneDatagram(int socket, Datagram *out) {
    int length = sizeof out->source;
    int n = recvfrom(Handle(socket), out->bytes, (int)sizeof out->bytes, 0, reinterpret_cast<sockaddr *>(&out->source),
                     &length);
    if (n == SOCKET_ERROR) {
        int error = WSAGetLastError();
        // A longer datagram: Windows fills the buffer with its start and says so, where Linux hands over
        // the same cut datagram without a word. The same bytes go on here.
        if (error != WSAEMSGSIZE) return WinsockReceiveError(error);
        n = (int)sizeof out->bytes;
    }
    if (length < (int)sizeof out->source || out->source.sin_family != AF_INET) out->source.sin_family = 0;
    out->length = (size_t)n;
    return ReceiveOutcome::kDatagram;
}

}  // namespace

void StartNetworking() {
    if (networkingStarted) return;
    WSADATA data;
    networkingStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void StopNetworking() {
    if (!networkingStarted) return;
    WSACleanup();
    networkingStarted = false;
}

int OpenStreamSocket() { return OpenSocket(SOCK_STREAM, IPPROTO_TCP); }

int OpenDatagramSocket() {
    int socket = OpenSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (socket == 0) return 0;
    // Otherwise an ICMP port unreachable answering an earlier send turns up as WSAECONNRESET on the
    // next receive. The receive loop copes with it too, for systems that ignore this switch.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(Handle(socket), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    return socket;
}

void CloseSocket(int socket) {
    if (socket > 0) closesocket(Handle(socket));
}

bool BindSocket(int socket, const sockaddr_in &address) {
    return bind(Handle(socket), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

// As on POSIX systems, a blocking connect could hold the simulator for the whole SYN retry schedule.
// select reports a finished connect as writable and a refused one in the except set.
bool ConnectWithin(int socket, const sockaddr_in &address, int timeoutMs) {
    SOCKET s = Handle(socket);
    if (connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;

    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, nullptr, &writable, &failed, &limit) <= 0) return false;
    if (FD_ISSET(s, &failed) || !FD_ISSET(s, &writable)) return false;
    int error = 0;
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length) != 0) return false;
    return error == 0;
}

// Windows has no SIGPIPE: a send on a stream the peer closed fails with an error code.
long SendOnSocket(int socket, const char *bytes, size_t size) {
    int n = send(Handle(socket), bytes, (int)size, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

long SendDatagram(int socket, const char *bytes, size_t size, const sockaddr_in &to) {
    int n = sendto(Handle(socket), bytes, (int)size, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    return n == SOCKET_ERROR ? -1 : n;
}

long ReceiveOnStream(int socket, char *buffer, size_t size) {
    int n = recv(Handle(socket), buffer, (int)size, 0);
    if (n >= 0) return n;
    int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINTR) return kNothingNow;
    return kStreamFailed;
}

int ReceiveDatagrams(int socket, Datagram *out, int count) {
    return ReceiveDatagramsOneByOne(socket, out, count, ReceiveOneDatagram);
}

#endif
