// Test harness for the inbound and own-aircraft suites: the plug-in started in the headless host and
// logged in to a loopback fixture server, with bounded waits for bytes to reach the plug-in's sockets.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/PacketProcess.h"
#include "simhost/Host.h"
#include "tests/support/FixtureServer.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScratchDir.h"
#include "traffic/OwnAircraft.h"

namespace inboundtest {

// Bytes readable on `fd` right now.
inline int Readable(int fd) {
    int count = 0;
    if (ioctl(fd, FIONREAD, &count) != 0) return 0;
    return count;
}

// Waits until at least `bytes` are readable on a stream socket, or the limit passes.
inline bool WaitReadable(int fd, int bytes, int timeoutMs = 2000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Readable(fd) < bytes) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        pollfd entry{fd, POLLIN, 0};
        poll(&entry, 1, 5);
    }
    return true;
}

// Waits until the stream's peer has closed or reset it, as seen from the plug-in's side.
inline bool WaitPeerGone(int fd, int timeoutMs = 2000) {
    pollfd entry{fd, POLLRDHUP, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

inline float ProcessPackets() { return SkorvalePacketProcess(0.03f, 0.03f, 0, nullptr); }

// One location datagram: the header, the 40 fields and, as a relaying server may leave them, the
// sender's two clock fields.
struct Location {
    int slot = 1;
    std::string type = "l";
    std::vector<std::string> fields = {
        "100.5", "200.25", "-300.75", "47.4500008", "-122.309998", "200.25", "2.5",  "-3.5", "271.25", "0.5",
        "0.25",  "0.125",  "0.75",    "0.375",      "0.1",         "-0.2",   "0.3",  "1",    "0.9",    "0.8",
        "0.7",   "0.6",    "0.5",     "0.4",        "0.3",         "0.2",    "0.1",  "1",    "0",      "1",
        "1",     "0",      "0.11",    "0.22",       "0.33",        "0.44",   "0.55", "0.66", "0.77",   "0.88"};
    std::string trailer = "|1.76509338e+09|123456";

    std::string Text() const {
        std::string text = std::to_string(slot) + "|" + type + "|";
        for (size_t i = 0; i < fields.size(); i++) {
            if (i) text += "|";
            text += fields[i];
        }
        return text + trailer;
    }
};

// The plug-in started and enabled in a fresh host, a fixture server on an address of this process's
// own, and the plug-in logged in to it with its datagram path open (the fixture knows its port).
class Session {
public:
    explicit Session(bool connect = true) : address(testsupport::UniqueLoopbackAddress()) {
        host.Reset();
        // The user's frame is the default sender's: its world position converts to its local one.
        host.PlaceAircraft(47.45, -122.31, 100.0, 90.0, simhost::Origin{47.4472961, -122.3113345});
        server = std::make_unique<testsupport::FixtureServer>(address);
        testsupport::PointPluginAt(address);
        char name[256], signature[256], description[256];
        XPluginStart(name, signature, description);
        XPluginEnable();
        uniqueID = 12345;
        if (connect) Connect();
    }

    ~Session() {
        XPluginDisable();
        XPluginStop();
    }

    // Logs in and opens the datagram path: the plug-in's datagram socket gets its port at its first send.
    void Connect() {
        size_t connections = server->ConnectionCount();
        ASSERT_EQ(ConnectToServerWaiting(3000), 1);
        // Each login draws its own ID; the messages after it carry a known one for the tests to compare.
        uniqueID = 12345;
        ASSERT_TRUE(server->WaitForStreamLines(1, 2000, connections));
        size_t datagrams = server->DatagramCount();
        ProcessPackets();
        SendLocationMessage();
        ASSERT_TRUE(server->WaitForDatagrams(datagrams + 1, 2000));
    }

    // Sends datagrams from the server to the plug-in and waits until the first of them is there.
    void SendDatagrams(const std::vector<std::string> &texts) {
        for (const std::string &text : texts) ASSERT_TRUE(server->SendDatagram(text));
        pollfd entry{sockfd, POLLIN, 0};
        ASSERT_EQ(poll(&entry, 1, 2000), 1);
    }

    // Gives each slot a peer beside the user's aircraft (a location datagram, applied at once): only a
    // slot with a position is drawn and gets models.
    void Occupy(std::initializer_list<int> slots) {
        for (int slot : slots) {
            Location location;
            location.slot = slot;
            SendDatagrams({location.Text()});
            for (int i = 0; i < 100 && Readable(sockfd) > 0; i++) ProcessPackets();
            ProcessPackets();
        }
    }

    // Sends stream text and waits until all of it is readable on the plug-in's side.
    void SendStream(const std::string &text, size_t connection = 0) {
        int before = Readable(tsockfd);
        ASSERT_TRUE(server->SendStream(text, connection));
        ASSERT_TRUE(WaitReadable(tsockfd, before + (int)text.size()));
    }

    double Ref(const std::string &name, int index = 0) const { return host.GetDataRef(name, index); }
    double Slot(int slot, const std::string &suffix, int index = 0) const {
        return host.GetDataRef("sim/multiplayer/position/plane" + std::to_string(slot) + "_" + suffix, index);
    }

    simhost::Host &host = simhost::TheHost();
    std::string address;
    std::unique_ptr<testsupport::FixtureServer> server;
};

}  // namespace inboundtest
