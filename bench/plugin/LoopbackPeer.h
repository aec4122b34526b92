// The server's side for the plug-in's benchmarks: a datagram socket and a stream connection on loopback.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/PacketProcess.h"
#include "simhost/Host.h"
#include "tests/support/Loopback.h"
#include "traffic/OwnAircraft.h"

namespace benchsupport {

// Names the program and the failure on stderr and exits: a benchmark without its peer measures nothing.
[[noreturn]] inline void Fail(const char *program, const char *what) {
    std::fprintf(stderr, "%s: %s\n", program, what);
    std::exit(1);
}

// Starts the plug-in (linked into the benchmark) in a fresh host, connected to a peer on an address of
// this process's own, and learns where the plug-in's datagrams come from.
struct LoopbackPeer {
    int udp = -1;
    int listener = -1;
    int stream = -1;
    sockaddr_in plugin{};  // where the plug-in's datagrams come from

    explicit LoopbackPeer(const char *program) {
        std::string address = testsupport::UniqueLoopbackAddress();
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kServerPort);
        inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        udp = socket(AF_INET, SOCK_DGRAM, 0);
        listener = socket(AF_INET, SOCK_STREAM, 0);
        if (bind(udp, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
            bind(listener, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 || listen(listener, 4) != 0)
            Fail(program, "cannot bind the loopback peer");

        simhost::TheHost().Reset();
        simhost::TheHost().PlaceAircraft(47.45, -122.31, 100.0, 90.0);
        testsupport::PointPluginAt(address);
        char name[256], signature[256], description[256];
        XPluginStart(name, signature, description);
        XPluginEnable();
        if (ConnectToServerWaiting(3000) != 1) Fail(program, "the plug-in did not connect");
        stream = accept(listener, nullptr, nullptr);

        // The plug-in's datagram socket takes its port at its first send.
        SkorvalePacketProcess(0, 0, 0, nullptr);
        SendLocationMessage();
        char buffer[2048];
        socklen_t length = sizeof plugin;
        pollfd entry{udp, POLLIN, 0};
        if (poll(&entry, 1, 2000) != 1 ||
            recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&plugin), &length) <= 0)
            Fail(program, "no location datagram from the plug-in");
    }

    // Drops whatever the plug-in sent, so its datagrams are always delivered rather than discarded.
    void Drain() const {
        char buffer[2048];
        while (recv(udp, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
    }
};

}  // namespace benchsupport
