// Whether this process holds an established TCP connection to a given port, read from /proc.
#pragma once

#include <string>

namespace simhost {

struct TcpConnection {
    bool established = false;
    std::string remote;  // "a.b.c.d:port" when established
};

// Looks through this process's socket descriptors (/proc/self/fd) for one that /proc/net/tcp lists as
// ESTABLISHED with the given remote port.
TcpConnection FindEstablishedConnection(int remotePort);

}  // namespace simhost
