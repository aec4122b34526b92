// Test harness for the relay server: a real skorvale-server process and clients that speak the
// plug-in's protocol byte for byte over loopback sockets.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// AddressSanitizer keeps freed memory in quarantine, so the server's resident memory means nothing there.
#if defined(__SANITIZE_ADDRESS__)
#define SKORVALE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SKORVALE_ASAN 1
#endif
#endif
#ifndef SKORVALE_ASAN
#define SKORVALE_ASAN 0
#endif

namespace servertest {

// A skorvale-server child process on `address`:49556, stderr captured to a file.
class ServerProcess {
public:
    // Starts the server with `arguments` after --address, and waits (bounded) until it accepts connections.
    ServerProcess(const std::string &address, const std::vector<std::string> &arguments);
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    const std::string &Address() const { return address_; }
    bool Ready() const { return ready_; }
    pid_t Pid() const { return pid_; }
    // Sends `signal` and waits up to 5 s; returns the exit status (as from waitpid), or -1 on timeout.
    int Stop(int signal);
    // Everything the server logged so far.
    std::string Log() const;
    // How often `text` occurs in the log.
    std::size_t CountInLog(const std::string &text) const;
    // Waits (bounded) until the log contains `text` at least `occurrences` times.
    bool WaitForLog(const std::string &text, int timeoutMs = 3000, std::size_t occurrences = 1) const;

private:
    std::string address_;
    std::string logPath_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

// GET `path` from ADDRESS:PORT over HTTP/1.1 (bounded wait); the status code, and the body in `body`.
// 0 when no answer came.
int HttpGet(const std::string &addressAndPort, const std::string &path, std::string *body = nullptr);

// The location fields a plug-in sends: local x y z, lat lon el, 34 more state fields, two time fields.
// `marker` goes into local x, so a test can tell which datagram arrived.
std::string LocationFields(double latitude, double longitude, double elevation, int marker);

class ProtocolClient {
public:
    // Connects the stream channel to `serverAddress`:49556 (bounded wait). Both channels send from
    // ephemeral ports on `source` (default: the address the system chooses, as a plug-in's does).
    ProtocolClient(const std::string &serverAddress, int uniqueId, const std::string &source = "");
    ~ProtocolClient();
    ProtocolClient(const ProtocolClient &) = delete;
    ProtocolClient &operator=(const ProtocolClient &) = delete;

    int Id() const { return id_; }
    bool Connected() const { return tcp_ >= 0; }

    // "<id>|Opening Connection|<user>|<digest>|\n" with the digest of `password`.
    void Login(const std::string &user, const std::string &password = "secret");
    void SendLine(const std::string &line);  // adds "\n"
    void SendRaw(const std::string &bytes);
    void SendLocation(double latitude, double longitude, double elevation, int marker, bool viewOnly = false);
    void SendDatagram(const std::string &bytes);
    // The plug-in's identity messages.
    void SendIdentity(const std::string &callsign, const std::string &plane, const std::string &crew = "BLANK",
                      int position = 0);
    void CloseStream();
    // Sends and receives datagrams from a new port of the same address, as after a NAT rebinding.
    void RebindDatagramPort();

    // The next stream line (without "\n"), waiting at most `timeoutMs`.
    std::optional<std::string> ReadLine(int timeoutMs = 2000);
    // Reads lines until one equals `line`; every line read (including it) is appended to `seen`.
    bool WaitForLine(const std::string &line, int timeoutMs = 3000, std::vector<std::string> *seen = nullptr);
    // Reads lines until "<n>|c|<callsign>" arrives; returns n, or 0 if it did not.
    int WaitForSlot(const std::string &callsign, int timeoutMs = 3000);
    // Every line that arrives within `ms`.
    std::vector<std::string> DrainLines(int ms);
    // The complete lines that have arrived, reading at most `maxBytes` in 1400-byte reads as a plug-in
    // does in one packet-processing call; never waits. A closed stream leaves Connected() false.
    std::vector<std::string> TakeLines(std::size_t maxBytes);
    std::optional<std::string> ReadDatagram(int timeoutMs = 2000);
    // Reads datagrams until one starts with `prefix`.
    std::optional<std::string> WaitForDatagram(const std::string &prefix, int timeoutMs = 3000);
    void DrainDatagrams(int ms);
    // True when the server closes the stream within `timeoutMs`.
    bool WaitClosed(int timeoutMs = 3000);

private:
    std::string serverAddress_;
    std::string source_;
    int id_;
    int tcp_ = -1;
    int udp_ = -1;
    std::string buffer_;
};

}  // namespace servertest

#include <gtest/gtest.h>

#include <memory>

namespace servertest {

// A client that has logged in to `server`, named its callsign and model (by default
// "Aircraft/General/<callsign>/<callsign>.acf"), and reported a first position with its ID as marker;
// its sockets bound to `source` when given.
std::unique_ptr<ProtocolClient> JoinAt(const ServerProcess &server, int id, const std::string &callsign,
                                       double latitude = 47.0, double longitude = 8.0, const std::string &plane = "",
                                       const std::string &source = "");

// A fixture with a server of its own on a loopback address no other test process uses.
class ServerTest : public ::testing::Test {
protected:
    // "@:PORT" in an argument becomes the server's own address with that port.
    void StartServer(const std::vector<std::string> &arguments = {"--open"});
    // A client that has logged in, named its callsign and model, and reported a first position.
    std::unique_ptr<ProtocolClient> Join(int id, const std::string &callsign, double latitude = 47.0,
                                         double longitude = 8.0, const std::string &plane = "",
                                         const std::string &source = "");
    // Resident memory of the server process, in kB.
    long ServerMemoryKb() const;

    std::string address_;
    std::unique_ptr<ServerProcess> server_;
};

}  // namespace servertest
