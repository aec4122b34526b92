// The relay's datagram sender on real loopback sockets: rounds small enough for the event loop to send
// itself mixed with rounds that go to the workers must still reach each receiver whole and in order.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "server/sockets/DatagramSender.h"
#include "tests/support/Loopback.h"

namespace server {
namespace {

struct Socket {
    explicit Socket(const std::string &address) : fd(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        inet_pton(AF_INET, address.c_str(), &at.sin_addr);
        bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at);
        int buffer = 4 << 20;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        timeval timeout{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        socklen_t length = sizeof at;
        getsockname(fd, reinterpret_cast<sockaddr *>(&at), &length);
        endpoint = {ntohl(at.sin_addr.s_addr), ntohs(at.sin_port)};
    }
    ~Socket() { close(fd); }
    int fd;
    Endpoint endpoint;
};

TEST(DatagramSenderTest, EveryReceiverGetsItsDatagramsWholeAndInOrderWhoeverSendsThem) {
    std::string address = testsupport::UniqueLoopbackAddress();
    Socket source(address);
    std::vector<std::unique_ptr<Socket>> receivers;
    for (int i = 0; i < 5; ++i) receivers.push_back(std::make_unique<Socket>(address));
    constexpr int kRounds = 40;
    RelayCounters counters;
    {
        DatagramSender sender(source.fd, 2, 8 << 20);
        std::vector<std::string> bodies;
        std::vector<OutboundDatagram> datagrams;
        int next = 0;
        for (int round = 0; round < kRounds; ++round) {
            // Rounds of 5 to 500 datagrams: the small ones below the share, the large ones above it.
            int perReceiver = round % 3 == 0 ? 100 : 1 + round % 4;
            bodies.clear();
            datagrams.clear();
            for (int k = 0; k < perReceiver; ++k, ++next) bodies.push_back("|" + std::to_string(next));
            for (const std::string &body : bodies) {
                for (auto &receiver : receivers) datagrams.push_back({receiver->endpoint, "7|l", body});
            }
            sender.Add(datagrams.data(), datagrams.size(), Clock::now());
            sender.Flush();
        }
        sender.Stop();
        int error = 0;
        EXPECT_EQ(sender.Collect(counters, &error), 0u);
        EXPECT_EQ(counters.datagramsOut, static_cast<std::uint64_t>(next) * receivers.size());
        for (auto &receiver : receivers) {
            char text[64];
            for (int expected = 0; expected < next; ++expected) {
                ssize_t size = recv(receiver->fd, text, sizeof text, 0);
                ASSERT_EQ(std::string(text, static_cast<std::size_t>(std::max<ssize_t>(size, 0))),
                          "7|l|" + std::to_string(expected));
            }
        }
    }
    std::uint64_t recorded = 0;
    for (std::uint64_t bucket : counters.latencyBuckets) recorded += bucket;
    EXPECT_EQ(recorded, counters.datagramsOut);  // one latency count per datagram sent
}

// What cannot go out is counted, never passed off as sent: a receiver the system refuses costs only its
// own datagrams, on the loop or on a worker, and a round too big for the workers' queue is dropped whole.
TEST(DatagramSenderTest, WhatCannotBeSentIsCountedAndCostsOnlyItself) {
    std::string address = testsupport::UniqueLoopbackAddress();
    Socket source(address), receiver(address);
    const Endpoint refused{receiver.endpoint.address, 0};  // port 0: the system refuses the send
    auto roundOf = [&](int count, std::vector<std::string> &bodies) {
        bodies.clear();
        for (int k = 0; k < count; ++k) bodies.push_back("|" + std::to_string(k));
        std::vector<OutboundDatagram> datagrams;
        for (const std::string &body : bodies) {
            datagrams.push_back({receiver.endpoint, "7|l", body});
            datagrams.push_back({refused, "7|l", body});
        }
        return datagrams;
    };
    std::vector<std::string> bodies;
    char text[64];
    for (std::size_t threads : {0u, 2u}) {
        SCOPED_TRACE(threads);
        DatagramSender sender(source.fd, threads, 8 << 20);
        for (int count : {5, 200}) {  // below and above the share the loop sends itself
            std::vector<OutboundDatagram> datagrams = roundOf(count, bodies);
            sender.Add(datagrams.data(), datagrams.size(), Clock::now());
            sender.Flush();
        }
        sender.Stop();
        RelayCounters counters;
        int error = 0;
        EXPECT_EQ(sender.Collect(counters, &error), 205u);
        EXPECT_EQ(counters.datagramsOut, 205u);
        EXPECT_NE(error, 0);
        for (int count : {5, 200}) {
            for (int k = 0; k < count; ++k) {
                ssize_t size = recv(receiver.fd, text, sizeof text, 0);
                ASSERT_EQ(std::string(text, static_cast<std::size_t>(std::max<ssize_t>(size, 0))),
                          "7|l|" + std::to_string(k));
            }
        }
    }

    // One worker with room for 1,000 bytes: 200 datagrams of five to seven bytes do not fit and are dropped as a
    // full send buffer drops them; a small round after it is still sent by the loop.
    DatagramSender sender(source.fd, 1, 1000);
    for (int count : {200, 3}) {
        std::vector<OutboundDatagram> datagrams = roundOf(count, bodies);
        datagrams.erase(std::remove_if(datagrams.begin(), datagrams.end(),
                                       [&](const OutboundDatagram &d) { return d.to.port == 0; }),
                        datagrams.end());
        sender.Add(datagrams.data(), datagrams.size(), Clock::now());
        sender.Flush();
    }
    sender.Stop();
    RelayCounters counters;
    int error = 0;
    EXPECT_EQ(sender.Collect(counters, &error), 200u);
    EXPECT_EQ(error, ENOBUFS);
    EXPECT_EQ(counters.datagramsOut, 3u);
    for (int k = 0; k < 3; ++k) {
        ssize_t size = recv(receiver.fd, text, sizeof text, 0);
        ASSERT_EQ(std::string(text, static_cast<std::size_t>(std::max<ssize_t>(size, 0))), "7|l|" + std::to_string(k));
    }
}

}  // namespace
}  // namespace server
