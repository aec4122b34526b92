// Whether this process holds an established TCP connection to a given port, as the system lists it.
#pragma once

#include <string>

namespace simhost {

struct TcpConnection {
    bool established = false;
    std::string remote;  // "a.b.c.d:port" when established
};

// Looks for a socket of this process that the system's TCP table lists as ESTABLISHED with the given
// remote port: /proc/self/fd against /proc/net/tcp on Linux, GetExtendedTcpTable's owner on Windows.
TcpConnection FindEstablishedConnection(int remotePort);

}  // namespace simhost
