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
    int size = kDatagramReceiveBuffer;
    setsockopt(Handle(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&size), sizeof size);
    return socket;
}

void CloseSocket(int socket) {
    if (socket > 0) closesocket(Handle(socket));
}

bool BindSocket(int socket, const sockaddr_in &address) {
    return bind(Handle(socket), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

namespace {

std::string ConnectErrorText(int code) {
    switch (code) {
        case WSAECONNREFUSED:
            return "connection refused";
        case WSAETIMEDOUT:
            return "timed out";
        case WSAENETUNREACH:
            return "network unreachable";
        case WSAEHOSTUNREACH:
            return "host unreachable";
        case WSAEADDRNOTAVAIL:
            return "address not available";
        case WSAECONNRESET:
            return "connection reset";
        default:
            return "system error " + std::to_string(code);
    }
}

}  // namespace

ConnectProgress StartConnect(int socket, const sockaddr_in &address, std::string *error) {
    if (connect(Handle(socket), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        return ConnectProgress::Connected;
    }
    int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK || code == WSAEINPROGRESS) return ConnectProgress::Pending;
    *error = ConnectErrorText(code);
    return ConnectProgress::Failed;
}

ConnectProgress CheckConnect(int socket, std::string *error, int waitMs) {
    SOCKET s = Handle(socket);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit{waitMs / 1000, (waitMs % 1000) * 1000};
    int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready == 0) return ConnectProgress::Pending;
    if (ready > 0 && FD_ISSET(s, &writable) && !FD_ISSET(s, &failed)) return ConnectProgress::Connected;
    int code = 0;
    int length = sizeof code;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&code), &length) != 0 || code == 0) {
        code = WSAGetLastError();
    }
    *error = ConnectErrorText(code);
    return ConnectProgress::Failed;
}

// Windows sends ten probes once the first is unanswered: 10 s of silence, then 1.5 s apart, ends a dead
// link after 25 s.
void EnableKeepAlive(int socket) {
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = 10000;
    values.keepaliveinterval = 1500;
    DWORD returned = 0;
    WSAIoctl(Handle(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
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
