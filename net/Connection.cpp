// The server connection: sockets, login and logout, and the one way every sender writes to the stream.
#include "net/Connection.h"

#include <cstdlib>
#include <cstring>

#include "core/SkorvaleSE.h"
#include "net/Md5.h"
#include "net/Protocol.h"
#include "net/StreamPhase.h"
#include "platform/Socket.h"
#include "traffic/CrewRedirect.h"
#include "traffic/PlaneAccess.h"
#include "traffic/TrafficSlots.h"

#ifndef SKORVALE_SERVER_ADDRESS
#define SKORVALE_SERVER_ADDRESS "127.0.0.1"
#endif

namespace {

// The build names the server; the environment may name another one (a local server, a test fixture).
// Only a valid dotted quad counts, so a typo falls back to the built-in address instead of to 0.0.0.0.
in_addr ServerIPv4() {
    in_addr address{};
    const char *override = std::getenv("SKORVALE_SERVER_ADDRESS");
    if (override != nullptr && inet_pton(AF_INET, override, &address) == 1) return address;
    inet_pton(AF_INET, SKORVALE_SERVER_ADDRESS, &address);
    return address;
}

std::string PasswordDigest() {
    std::string input;
    AddIntToString(&input, "", uniqueID);
    input += userID;
    input += password;

    md5_state_t state;
    md5_byte_t digest[16];
    md5_init(&state);
    md5_append(&state, reinterpret_cast<const md5_byte_t *>(input.data()), (int)input.size());
    md5_finish(&state, digest);

    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (md5_byte_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0f];
    }
    return text;
}

// Back to the closed state: both sockets closed, descriptors 0, no server address, not connected.
void CloseSockets() {
    CloseSocket(tsockfd);
    CloseSocket(sockfd);
    tsockfd = 0;
    sockfd = 0;
    std::memset(&serverAddress, 0, sizeof serverAddress);
    tcpconnected = 0;
}

}  // namespace

long SendOnStream(const std::string &message) {
    if (tsockfd <= 0) return -1;
    return SendOnSocket(tsockfd, message.data(), message.size());
}

int ConnectToServer() {
    if (tcpconnected) return tcpconnected;

    tsockfd = OpenStreamSocket();
    sockfd = OpenDatagramSocket();

    std::memset(&serverAddress, 0, sizeof serverAddress);
    serverAddress.sin_family = AF_INET;
    serverAddress.sin_port = htons(kServerPort);
    serverAddress.sin_addr = ServerIPv4();

    // Succeeds only where this machine is the server itself; elsewhere the datagram socket gets an
    // ephemeral port at its first send, and that is where the server's datagrams come back to.
    if (sockfd > 0) BindSocket(sockfd, serverAddress);

    bool reached = tsockfd > 0 && sockfd > 0 && ConnectWithin(tsockfd, serverAddress, kConnectTimeoutMs);

    std::string opening;
    AddIntToString(&opening, "", uniqueID);
    opening += "|Opening Connection|";
    opening += userID;
    opening += "|";
    opening += PasswordDigest();
    opening += "|\n";

    tcptx = "Tx";
    // One send; a short one still counts, as the server reads the rest of the line when it comes.
    if (reached && SendOnStream(opening) > 0) {
        // Nothing of an earlier connection's stream may join this one's first message.
        ResetStreamPhase();
        tcpconnected = 1;
        // Online now: the multiplayer aircraft are ours to show the other pilots in.
        AcquirePlanes();
        return tcpconnected;
    }

    // A failed attempt gives its sockets back at once, so repeated attempts cannot pile them up.
    CloseSockets();
    return tcpconnected;
}

void CloseServerConnection() {
    CloseSockets();
    // The user's aircraft goes back to the host whether or not a connection was open, and the
    // multiplayer aircraft to X-Plane's AI and other plug-ins, none of them left drawn.
    ReleasePlanePath();
    ResetTrafficSlots();
    ReleasePlanes();
}

int DisconnectFromServer() {
    if (tcpconnected) {
        std::string closing;
        AddIntToString(&closing, "", uniqueID);
        closing += "|Closing Connection\n";
        SendOnStream(closing);  // the server may be gone already; the state is cleared regardless
    }
    CloseServerConnection();
    return 1;
}
