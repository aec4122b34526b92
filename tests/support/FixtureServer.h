// A loopback stand-in for the relay server that records what the plug-in sends and talks back on cue.
#pragma once

#include <netinet/in.h>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Binds TCP (listening) and UDP on `address`:`port` and serves them from its own thread until destroyed.
// Every public member may be called from any thread; the recorded bytes are returned as copies.
// Waits take a limit in milliseconds and report whether the condition was met in time.
class FixtureServer {
public:
    struct Datagram {
        std::string bytes;
        sockaddr_in source;
    };

    explicit FixtureServer(const std::string &address, int port = 49556);
    ~FixtureServer();
    FixtureServer(const FixtureServer &) = delete;
    FixtureServer &operator=(const FixtureServer &) = delete;

    // False when either socket could not be bound (then nothing else does anything useful).
    bool Ok() const { return listenFd_ >= 0 && udpFd_ >= 0; }
    const std::string &Address() const { return address_; }
    int Port() const { return port_; }

    // Stream connections, numbered in the order they were accepted.
    size_t ConnectionCount() const;
    bool WaitForConnections(size_t count, int timeoutMs) const;
    std::string StreamBytes(size_t connection = 0) const;
    bool WaitForStreamBytes(size_t count, int timeoutMs, size_t connection = 0) const;
    // Waits until the connection's bytes hold `lines` line feeds.
    bool WaitForStreamLines(size_t lines, int timeoutMs, size_t connection = 0) const;
    // Waits until the client has closed its end (end of stream or a reset).
    bool WaitForStreamClosed(int timeoutMs, size_t connection = 0) const;
    bool StreamClosedByPeer(size_t connection = 0) const;
    // Sends all of `text` on the connection (false if it is closed or the client stops reading for 2 s).
    bool SendStream(const std::string &text, size_t connection = 0);
    // Closes the server's end mid-session: with a FIN, or with a reset when `reset` is true.
    // Returns once the socket is closed.
    void CloseStream(size_t connection = 0, bool reset = false);

    // Datagrams, in arrival order.
    size_t DatagramCount() const;
    std::vector<Datagram> Datagrams() const;
    bool WaitForDatagrams(size_t count, int timeoutMs) const;
    // Sends from the server's own address and port, to the last datagram's source (false if none yet).
    bool SendDatagram(const std::string &bytes);
    bool SendDatagramTo(const std::string &bytes, const std::string &address, int port);

private:
    struct Connection {
        int fd = -1;
        std::string received;
        bool peerClosed = false;
        bool closeRequested = false;
        bool resetRequested = false;
    };

    void Serve();
    void Wake();
    void AcceptPending();
    void ReceiveDatagrams();
    void ReceiveStream(size_t index);
    void CloseRequested();
    bool WaitUntil(int timeoutMs, const std::function<bool()> &condition) const;

    std::string address_;
    int port_;
    int listenFd_ = -1;
    int udpFd_ = -1;
    int wakeFd_ = -1;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<Connection> connections_;
    std::vector<Datagram> datagrams_;
    sockaddr_in lastSource_{};
    bool haveSource_ = false;
    std::thread thread_;
};

// A server that never answers: a TCP listener with backlog 0 whose accept queue is already full,
// so a further connect to `address`:`port` gets no reply at all and hangs until its own time limit.
class SilentListener {
public:
    explicit SilentListener(const std::string &address, int port = 49556);
    ~SilentListener();
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    // True once the accept queue is known to be full.
    bool Ok() const { return ok_; }

private:
    int listenFd_ = -1;
    std::vector<int> fillers_;
    bool ok_ = false;
};

// Fills `out` with `address`:`port`; false if the address is not a dotted quad.
bool MakeAddress(const std::string &address, int port, sockaddr_in *out);

}  // namespace testsupport
