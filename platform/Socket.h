// The plug-in's socket calls, the same on every system it runs on; each system's side is its own file.
//
// Sockets are plain ints throughout the plug-in, with 0 meaning "closed". Winsock's handles are kernel
// handles, which Windows keeps within 32 bits so that 32- and 64-bit processes can share them.
#pragma once

#include <cstddef>
#include <string>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#endif

// Winsock wants a start before its first call and a stop after its last; the plug-in starts it at
// enable and stops it at disable. Balanced: a stop without a successful start does nothing. POSIX
// systems need neither.
void StartNetworking();
void StopNetworking();

// A new non-blocking socket that never raises SIGPIPE and is not inherited by child processes, or 0
// when none could be made. Never 0 itself: a socket that lands on 0 is moved to a higher number.
int OpenStreamSocket();
// A datagram socket also asks for a receive buffer of kDatagramReceiveBuffer bytes (the system may give
// less): 63 peers at 60 Hz send about 1.25 MB/s, and a frame held up by X-Plane's scenery loading must not
// overflow Windows' 64 KiB default.
constexpr int kDatagramReceiveBuffer = 1 << 20;
int OpenDatagramSocket();
void CloseSocket(int socket);

// Gives the datagram socket the local address `address`, where this machine has it; false otherwise.
bool BindSocket(int socket, const sockaddr_in &address);

// Connecting the non-blocking stream socket without ever waiting: StartConnect begins, CheckConnect
// tells how far it got. On failure `error` says what the system said, in a pilot's words ("connection
// refused", "network unreachable").
enum class ConnectProgress { Connected, Pending, Failed };
ConnectProgress StartConnect(int socket, const sockaddr_in &address, std::string *error);
// CheckConnect waits at most `waitMs` (0: not at all) for the answer.
ConnectProgress CheckConnect(int socket, std::string *error, int waitMs = 0);

// TCP keep-alive probes after 10 s without traffic, every 2 s after that: a link that died without a
// close (a router restart, a laptop lid) fails the stream within 30 s, where the system's defaults
// would take two hours.
void EnableKeepAlive(int socket);

// One send without waiting: the bytes taken (possibly fewer than `size`), or -1.
long SendOnSocket(int socket, const char *bytes, size_t size);
long SendDatagram(int socket, const char *bytes, size_t size, const sockaddr_in &to);

// One receive on the stream socket without waiting: the bytes read, kStreamClosed when the peer ended
// the stream, kNothingNow when nothing is waiting (or the call was interrupted), kStreamFailed else.
constexpr long kStreamClosed = 0;
constexpr long kNothingNow = -1;
constexpr long kStreamFailed = -2;
long ReceiveOnStream(int socket, char *buffer, size_t size);

// A received datagram: at most kDatagramBytes of it (the rest of a longer one is lost, as on Linux)
// and the address it came from (family 0 when that was not an IPv4 address).
constexpr size_t kDatagramBytes = 1400;
struct Datagram {
    char bytes[kDatagramBytes];
    size_t length;
    sockaddr_in source;
};

// Receives up to `count` waiting datagrams (at most kMostDatagrams) without waiting; how many it got.
// A reported error of an earlier send (Windows's answer to an ICMP port unreachable) ends the batch
// as "nothing more now", never as a broken socket.
constexpr int kMostDatagrams = 128;
int ReceiveDatagrams(int socket, Datagram *out, int count);
