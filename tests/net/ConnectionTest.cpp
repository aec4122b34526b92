// Logging in to and out of a loopback fixture server: the bytes on the wire and the state left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/ConnectionStatus.h"
#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/Md5.h"
#include "net/StreamPhase.h"
#include "simhost/Host.h"
#include "tests/support/FixtureServer.h"
#include "tests/support/Loopback.h"
#include "traffic/AircraftUtils.h"

namespace {

const char kOverrideRef[] = "sim/operation/override/override_planepath";

// An MD5 computed without the plug-in's md5_* routines, to check them against.
std::string IndependentMd5Hex(const std::string &text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned i = 0; i < length; i++) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

std::string PluginMd5Hex(const std::string &text, size_t pieceSize) {
    md5_state_t state;
    md5_byte_t digest[16];
    md5_init(&state);
    for (size_t at = 0; at < text.size(); at += pieceSize) {
        std::string piece = text.substr(at, pieceSize);
        md5_append(&state, reinterpret_cast<const md5_byte_t *>(piece.data()), (int)piece.size());
    }
    md5_finish(&state, digest);
    std::string hex;
    char pair[3];
    for (md5_byte_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

std::string Opening(int id, const std::string &user, const std::string &pass) {
    return std::to_string(id) + "|Opening Connection|" + user + "|" +
           IndependentMd5Hex(std::to_string(id) + user + pass) + "|\n";
}

bool HasByteBelow16(const std::string &hex) {
    for (size_t i = 0; i < hex.size(); i += 2)
        if (hex[i] == '0') return true;
    return false;
}

bool IsZero(const sockaddr_in &address) {
    static const sockaddr_in zero{};
    return std::memcmp(&address, &zero, sizeof address) == 0;
}

bool IsOpen(int fd) { return fd > 0 && fcntl(fd, F_GETFD) != -1; }

size_t OpenDescriptors() {
    size_t count = 0;
    for (auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        count++;
    }
    return count;
}

double Seconds(std::chrono::steady_clock::duration elapsed) { return std::chrono::duration<double>(elapsed).count(); }

class Connection : public ::testing::Test {
protected:
    void SetUp() override {
        simhost::TheHost().Reset();
        ResetConnection();
        address = testsupport::UniqueLoopbackAddress();
        testsupport::PointPluginAt(address);
        userID = "anna";
        password = "secret";
    }
    void TearDown() override {
        DisconnectFromServer();
        ResetConnection();
    }
    // Runs the packet processor's part of the connection for `seconds` of simulated time, in its steps.
    void Advance(double seconds) {
        for (double t = 0; t < seconds; t += 0.03) AdvanceConnection(0.03f);
    }
    std::string address;
};

TEST(Md5, MatchesTheReferenceVectorsInAnyPieces) {
    const char *vectors[][2] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (auto &vector : vectors) {
        for (size_t piece : {1u, 3u, 64u, 1000u}) EXPECT_EQ(PluginMd5Hex(vector[0], piece), vector[1]) << piece;
    }
    // Bytes beyond ASCII and NULs count like any other.
    std::string binary("\x00\xff\x80pass\x00", 7);
    EXPECT_EQ(PluginMd5Hex(binary, 2), IndependentMd5Hex(binary));
}

TEST_F(Connection, LogsInWithTheDigestAndLeavesNonBlockingSockets) {
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    // Every login draws a fresh unique ID; logins until one gives a digest with a byte below 0x10, so
    // the two-digit form is checked too.
    size_t connection = 0;
    for (;; connection++) {
        ASSERT_LT(connection, 64u);
        ASSERT_EQ(ConnectToServerWaiting(2000), 1);
        if (HasByteBelow16(IndependentMd5Hex(std::to_string(uniqueID) + "annasecret"))) break;
        DisconnectFromServer();
    }
    EXPECT_EQ(tcpconnected, 1);
    EXPECT_EQ(tcptx, "Tx");
    EXPECT_GT(uniqueID, 0);
    const std::string expected = Opening(uniqueID, "anna", "secret");
    ASSERT_TRUE(server.WaitForStreamBytes(expected.size(), 2000, connection));
    EXPECT_EQ(server.StreamBytes(connection), expected);
    EXPECT_EQ(expected.size(), std::to_string(uniqueID).size() + 20 + 4 + 1 + 32 + 2);

    // The channels are open, non-blocking, and every send names the server: port 49556, its address.
    EXPECT_TRUE(IsOpen(tsockfd));
    EXPECT_TRUE(IsOpen(sockfd));
    EXPECT_NE(tsockfd, sockfd);
    EXPECT_TRUE(fcntl(tsockfd, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(fcntl(sockfd, F_GETFL) & O_NONBLOCK);
    const unsigned char *port = reinterpret_cast<const unsigned char *>(&serverAddress.sin_port);
    EXPECT_EQ(serverAddress.sin_family, AF_INET);
    EXPECT_EQ(port[0], 0xC1);
    EXPECT_EQ(port[1], 0x94);
    sockaddr_in wanted;
    ASSERT_TRUE(testsupport::MakeAddress(address, kServerPort, &wanted));
    EXPECT_EQ(serverAddress.sin_addr.s_addr, wanted.sin_addr.s_addr);

    // Sends through the shared helper arrive as they are.
    EXPECT_EQ(SendOnStream("12|MESSAGE|hi\n"), 14);
    ASSERT_TRUE(server.WaitForStreamBytes(expected.size() + 14, 2000, connection));
    EXPECT_EQ(server.StreamBytes(connection).substr(expected.size()), "12|MESSAGE|hi\n");
}

TEST_F(Connection, EmptyCredentialsAndAForeignLocaleChangeNoByteOfTheFormat) {
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    userID.clear();
    password.clear();
    EXPECT_EQ(ConnectToServerWaiting(2000), 1);
    std::string id = std::to_string(uniqueID);
    DisconnectFromServer();
    std::setlocale(LC_ALL, "C");
    const std::string expected =
        id + "|Opening Connection||" + IndependentMd5Hex(id) + "|\n" + id + "|Closing Connection\n";
    ASSERT_TRUE(server.WaitForStreamClosed(2000));
    EXPECT_EQ(server.StreamBytes(), expected);
}

TEST_F(Connection, LogsOutClearsTheStateAndCanLogInAgain) {
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    ASSERT_EQ(ConnectToServerWaiting(2000), 1);
    int first = uniqueID;
    int oldStream = tsockfd, oldDatagram = sockfd;

    // A second connect while connected does nothing at all.
    EXPECT_EQ(ConnectToServer(), 1);
    EXPECT_EQ(tsockfd, oldStream);
    EXPECT_EQ(sockfd, oldDatagram);

    EXPECT_EQ(DisconnectFromServer(), 1);
    ASSERT_TRUE(server.WaitForStreamClosed(2000));
    EXPECT_EQ(server.StreamBytes(), Opening(first, "anna", "secret") + std::to_string(first) + "|Closing Connection\n");
    EXPECT_EQ(server.ConnectionCount(), 1u);
    EXPECT_EQ(tcpconnected, 0);
    EXPECT_EQ(tsockfd, 0);
    EXPECT_EQ(sockfd, 0);
    EXPECT_TRUE(IsZero(serverAddress));
    EXPECT_FALSE(IsOpen(oldStream));
    EXPECT_FALSE(IsOpen(oldDatagram));
    EXPECT_EQ(SendOnStream("nothing\n"), -1);  // nowhere to send, and never onto descriptor 0

    // Logging out twice sends nothing more.
    EXPECT_EQ(DisconnectFromServer(), 1);

    // A new login under a new unique ID, so the server cannot take it for a replay of the first.
    ASSERT_EQ(ConnectToServerWaiting(2000), 1);
    EXPECT_NE(uniqueID, first);
    EXPECT_TRUE(IsOpen(tsockfd));
    EXPECT_TRUE(IsOpen(sockfd));
    ASSERT_TRUE(server.WaitForConnections(2, 2000));
    const std::string again = Opening(uniqueID, "anna", "secret");
    ASSERT_TRUE(server.WaitForStreamBytes(again.size(), 2000, 1));
    EXPECT_EQ(server.StreamBytes(1), again);
}

TEST_F(Connection, LogOutReleasesTheAircraftWhetherConnectedOrNot) {
    simhost::Host &host = simhost::TheHost();

    // Not connected, override not held: the host's override is not touched.
    ASSERT_TRUE(host.SetDataRef(kOverrideRef, 1, 0));
    overridden = 0;
    EXPECT_EQ(DisconnectFromServer(), 1);
    EXPECT_TRUE(host.PlanePathOverridden());

    // Not connected, override held: released.
    overridden = 1;
    EXPECT_EQ(DisconnectFromServer(), 1);
    EXPECT_FALSE(host.PlanePathOverridden());
    EXPECT_EQ(overridden, 0);

    // Connected, override held: logged out and released.
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    ASSERT_EQ(ConnectToServerWaiting(2000), 1);
    ASSERT_TRUE(host.SetDataRef(kOverrideRef, 1, 0));
    overridden = 1;
    DisconnectFromServer();
    EXPECT_FALSE(host.PlanePathOverridden());
    EXPECT_EQ(overridden, 0);
    ASSERT_TRUE(server.WaitForStreamClosed(2000));
    EXPECT_NE(server.StreamBytes().find("|Closing Connection\n"), std::string::npos);
}

TEST_F(Connection, FailedAttemptsNeverWaitSayWhyTryAgainLaterAndLeakNothing) {
    // Nothing listening: refused, said so, and tried again after growing delays.
    size_t before = OpenDescriptors();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ConnectToServer(), 0);
    Advance(0.1);
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start), 0.5);
    EXPECT_EQ(CurrentConnectionState(), ConnectionState::Waiting);
    EXPECT_EQ(StatusLine().rfind("Cannot reach " + address + ":49556: connection refused. Trying again in ", 0), 0u)
        << StatusLine();
    EXPECT_EQ(tcpconnected, 0);
    EXPECT_EQ(tsockfd, 0);
    EXPECT_EQ(sockfd, 0);
    EXPECT_TRUE(IsZero(serverAddress));
    // The delays grow (2 s, 4 s, 8 s... each spread by a quarter) to a minute, and each attempt is in Log.txt.
    Advance(300);
    std::vector<int> delays;
    for (const std::string &line : simhost::TheHost().DebugLog()) {
        size_t at = line.find("Trying again in ");
        if (at != std::string::npos) delays.push_back(std::atoi(line.c_str() + at + 16));
        EXPECT_EQ(line.rfind("Skorvale: ", 0), 0u) << line;
    }
    ASSERT_GE(delays.size(), 7u);
    EXPECT_LE(delays.size(), 12u) << "no storm of attempts";
    for (size_t i = 1; i < delays.size(); i++) {
        if (delays[i - 1] < 40) {
            EXPECT_GE(delays[i], delays[i - 1]) << i;
        }
        EXPECT_LE(delays[i], 75) << i;
    }
    EXPECT_GE(delays.back(), 45);
    EXPECT_EQ(OpenDescriptors(), before);

    // A server that swallows connection attempts: no call waits for it, and after the time limit the
    // status says it timed out.
    DisconnectFromServer();
    testsupport::SilentListener silent(address);
    ASSERT_TRUE(silent.Ok());
    before = OpenDescriptors();
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(ConnectToServer(), 0);
    Advance(kConnectTimeoutSeconds - 0.5);
    double longest = Seconds(std::chrono::steady_clock::now() - start);
    EXPECT_LT(longest, 0.5);
    EXPECT_EQ(CurrentConnectionState(), ConnectionState::Connecting);
    EXPECT_EQ(StatusLine(), "Connecting to " + address + ":49556");
    Advance(1);
    EXPECT_EQ(CurrentConnectionState(), ConnectionState::Waiting);
    EXPECT_NE(StatusLine().find(": timed out. Trying again in "), std::string::npos) << StatusLine();
    EXPECT_EQ(tsockfd, 0);
    EXPECT_EQ(OpenDescriptors(), before);
    DisconnectFromServer();
    EXPECT_EQ(StatusLine(), "Disconnected");
    std::printf("failed connect: %.6f s of calls for a swallowed attempt\n", longest);
}

TEST_F(Connection, NoticesEndTheSessionWithTheirReasonAndKeepAliveSilenceIsALostLink) {
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    const std::string at = address + ":49556";
    // Reads the stream as the packet processor does until `done`, for at most two seconds.
    auto readUntil = [](const std::function<bool()> &done) {
        for (int i = 0; i < 200 && !done(); i++) {
            StreamPhase();
            if (!done()) usleep(10000);
        }
        return done();
    };

    // A peer's chat line can say anything: it is chat, and the session goes on.
    ASSERT_EQ(ConnectToServerWaiting(2000), 1);
    ASSERT_TRUE(server.WaitForStreamLines(1, 2000));
    ASSERT_TRUE(server.SendStream("0|m|Server: login refused: unknown user or wrong password\n3|c|Ghost\n"));
    ASSERT_TRUE(readUntil([] { return Callsigns[3] == "Ghost"; }));
    EXPECT_EQ(imRead[13], "Server: login refused: unknown user or wrong password");
    EXPECT_EQ(CurrentConnectionState(), ConnectionState::LoggedIn);

    // The server's notice to try later: the reason in the status line, the list cleared, nothing after
    // it applied, and a new attempt after the delay.
    ASSERT_TRUE(server.SendStream("9000|m|Server: login refused: the server is full\n4|c|Late\n"));
    ASSERT_TRUE(readUntil([] { return tcpconnected == 0; }));
    EXPECT_EQ(CurrentConnectionState(), ConnectionState::Waiting);
    EXPECT_EQ(StatusLine().rfind(at + " says: login refused: the server is full. Trying again in ", 0), 0u)
        << StatusLine();
    EXPECT_EQ(Callsigns[3], "");
    EXPECT_EQ(Callsigns[4], "");
    EXPECT_EQ(imRead[13], "Server: login refused: unknown user or wrong password") << "a notice is not chat";
    Advance(3);
    ASSERT_TRUE(server.WaitForConnections(2, 2000));
    for (int i = 0; i < 200 && tcpconnected == 0; i++) {
        usleep(10000);
        AdvanceConnection(0.01f);
    }
    ASSERT_EQ(tcpconnected, 1);
    ASSERT_TRUE(server.WaitForStreamLines(1, 2000, 1));

    // A session ended for good (a kick): stopped, and not tried again by itself.
    ASSERT_TRUE(server.SendStream("9001|m|Server: session ended: kicked by the operator\n", 1));
    ASSERT_TRUE(readUntil([] { return tcpconnected == 0; }));
    EXPECT_EQ(CurrentConnectionState(), ConnectionState::Stopped);
    EXPECT_EQ(StatusLine(), at + " says: session ended: kicked by the operator");
    Advance(200);
    EXPECT_EQ(server.ConnectionCount(), 2u);

    // A server that sends keep-alive lines and then falls silent without a close (a link or a proxy that
    // stopped forwarding) is lost after 25 s; one that never sent them is not judged by its silence.
    ASSERT_EQ(ConnectToServerWaiting(2000), 1);
    ASSERT_TRUE(server.WaitForStreamLines(1, 2000, 2));
    Advance(100);
    EXPECT_EQ(CurrentConnectionState(), ConnectionState::LoggedIn);
    // It is said to be quiet, though: an older server alone, or something that never answers.
    EXPECT_EQ(StatusLine(), "Logged in to " + at + " as anna; the server has sent nothing yet (no other pilots?)");
    ASSERT_TRUE(server.SendStream("0|k|\n", 2));
    tcprx = "  ";
    ASSERT_TRUE(readUntil([] { return tcprx == "Tr"; }));
    EXPECT_EQ(StatusLine(), "Logged in to " + at + " as anna");
    Advance(24);
    EXPECT_EQ(CurrentConnectionState(), ConnectionState::LoggedIn);
    Advance(1.1);
    EXPECT_EQ(CurrentConnectionState(), ConnectionState::Waiting);
    EXPECT_EQ(tcpconnected, 0);
    EXPECT_EQ(StatusLine().rfind("Connection lost: nothing heard from " + at + " for 25 s. Trying again in ", 0), 0u)
        << StatusLine();
}

TEST_F(Connection, AServerThatHungUpCannotKillTheProcess) {
    // The default disposition: a send that raised SIGPIPE would end this test program.
    signal(SIGPIPE, SIG_DFL);
    testsupport::FixtureServer server(address);
    ASSERT_TRUE(server.Ok());
    ASSERT_EQ(ConnectToServer(), 1);
    ASSERT_TRUE(server.WaitForStreamLines(1, 2000));
    server.CloseStream(0);

    // The first send after the close is still accepted locally; the peer's reset makes a later one fail.
    ssize_t result = 0;
    int error = 0;
    for (int i = 0; i < 200 && result >= 0; i++) {
        result = SendOnStream("12345|MESSAGE|still there?\n");
        error = errno;
        if (result >= 0) usleep(5000);
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << std::strerror(error);
    EXPECT_EQ(tcpconnected, 1);  // nothing here notices the loss; the logout still works
    EXPECT_EQ(DisconnectFromServer(), 1);
    EXPECT_EQ(tsockfd, 0);
    EXPECT_TRUE(IsZero(serverAddress));
}

TEST_F(Connection, TheEnvironmentNamesTheServerAndABadEntryIsNeverReplacedByAnother) {
    // The environment's address wins over the built-in one, with a port of its own if it gives one.
    testsupport::FixtureServer server(address, 49557);
    ASSERT_TRUE(server.Ok());
    testsupport::PointPluginAt(address + ":49557");
    ASSERT_EQ(ConnectToServerWaiting(2000), 1);
    ASSERT_TRUE(server.WaitForStreamLines(1, 2000));
    EXPECT_EQ(StatusLine(), "Logged in to " + address + ":49557 as anna");
    DisconnectFromServer();

    // A malformed entry stops with its reason instead of falling back to the built-in server.
    testsupport::FixtureServer builtIn(SKORVALE_SERVER_ADDRESS);
    if (!builtIn.Ok()) GTEST_SKIP() << "the built-in address " << SKORVALE_SERVER_ADDRESS << " is in use";
    const std::pair<std::string, std::string> bad[] = {
        {"not an address", "a host name has only letters, digits, '-' and '.'"},
        {address + ":0", "the port must be a number from 1 to 65535"},
        {address + ":65536", "the port must be a number from 1 to 65535"},
        {address + ":http", "the port must be a number from 1 to 65535"},
        {":49556", "no host name or address before the port"},
        {"[::1]:49556", "only IPv4 addresses and host names are supported"},
        {std::string(1000, 'a'), "the server entry is longer than 259 characters"},
    };
    for (const auto &[entry, reason] : bad) {
        testsupport::PointPluginAt(entry);
        EXPECT_EQ(ConnectToServer(), 0) << entry;
        EXPECT_EQ(CurrentConnectionState(), ConnectionState::Stopped) << entry;
        EXPECT_NE(StatusLine().find("is not valid: " + reason), std::string::npos) << StatusLine();
        EXPECT_LT(StatusLine().size(), 140u);
        Advance(100);
        EXPECT_EQ(CurrentConnectionState(), ConnectionState::Stopped) << "never tried again by itself";
    }
    EXPECT_FALSE(builtIn.WaitForConnections(1, 200));
    EXPECT_EQ(server.ConnectionCount(), 1u);
}

}  // namespace
