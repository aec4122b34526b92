// The server connection: an attempt driven across flight loops (lookup, connect, login), the status line
// it keeps, the logout, and the growing delays before it tries again by itself.
#include "net/Connection.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "core/ConnectionStatus.h"
#include "core/SkorvaleSE.h"
#include "core/UniqueId.h"
#include "net/Md5.h"
#include "net/Protocol.h"
#include "net/Resolver.h"
#include "net/SlotRequest.h"
#include "net/StreamPhase.h"
#include "platform/Socket.h"
#include "traffic/AircraftUtils.h"
#include "traffic/CrewRedirect.h"
#include "traffic/PlaneAccess.h"
#include "traffic/TrafficSlots.h"

namespace {

enum class Stage { Idle, LookingUp, Connecting, Online, Waiting, Stopped };

Stage stage = Stage::Idle;
ServerName target;
std::string targetText;  // "host:port", for the status line
double linkClock = 0;    // seconds, advanced by the packet processor
double attemptStarted = 0;
double retryAt = 0;
double nextDelay = kFirstRetrySeconds;
double onlineSince = 0;
double lastHeard = 0;
bool keepAliveSeen = false;  // the server sends keep-alive lines: its silence means something
bool heardSinceLogin = false;
bool toldQuiet = false;  // the status line says the server has sent nothing yet
unsigned jitterState = 0;

// What the pilot's Connect (and connect at startup) waits for a connection at most: one on the same
// machine or network is made in far less, and logs in at once; anything slower goes on in the flight
// loops. Well inside a frame's budget.
constexpr int kConnectGlanceMs = 2;
// A session that lasted this long was a good one: the next loss starts again from the first delay.
constexpr double kGoodSessionSeconds = 60;
// A server that has sent nothing this long after the login is said to be quiet: an older one with nobody
// else online, or something that accepts connections and never answers. Either way the pilot may wonder.
constexpr double kQuietServerSeconds = 30;
// What of a bad server entry the status line and log repeat: enough to recognise it.
constexpr size_t kEntryPreview = 48;

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

// Offline: the sockets closed, the user's aircraft and the multiplayer aircraft given back, and nothing
// of the old session left in the plane list.
void GoOffline() {
    bool wasOnline = tcpconnected != 0;
    CloseSockets();
    // The multiplayer aircraft go back to X-Plane's AI and other plug-ins, none of them left drawn.
    ReleasePlanePath();
    ResetTrafficSlots();
    ReleasePlanes();
    if (wasOnline) ClearTrafficTables();
}

// A factor from 0.75 to 1.25: the delays of pilots dropped together spread out.
double Jitter() {
    if (jitterState == 0) jitterState = (unsigned)DrawUniqueId() | 1u;
    jitterState = jitterState * 1664525u + 1013904223u;
    return 0.75 + 0.5 * (double)(jitterState >> 8) / (double)(1u << 24);
}

void WaitBeforeRetry(const std::string &why) {
    retryAt = linkClock + nextDelay * Jitter();
    nextDelay = nextDelay * 2 > kLongestRetrySeconds ? kLongestRetrySeconds : nextDelay * 2;
    stage = Stage::Waiting;
    SetSecondsToRetry(retryAt - linkClock);
    SetConnectionStatus(ConnectionState::Waiting, why);
}

void FailAttempt(const std::string &why) {
    CancelLookup();
    CloseSockets();
    WaitBeforeRetry("Cannot reach " + targetText + ": " + why);
}

void Stop(const std::string &why) {
    CancelLookup();
    GoOffline();
    stage = Stage::Stopped;
    SetConnectionStatus(ConnectionState::Stopped, why);
}

std::string LoggedInText() { return "Logged in to " + targetText + " as " + userID; }

void SendLogin() {
    std::string opening;
    AddIntToString(&opening, "", uniqueID);
    opening += "|Opening Connection|";
    opening += userID;
    opening += "|";
    opening += PasswordDigest();
    opening += "|\n";

    EnableKeepAlive(tsockfd);
    tcptx = "Tx";
    // One send; a short one still counts, as the server reads the rest of the line when it comes.
    if (SendOnStream(opening) <= 0) {
        FailAttempt("the login could not be sent");
        return;
    }
    // Nothing of an earlier connection's stream may join this one's first message.
    ResetStreamPhase();
    ForgetSlotRequest();
    tcpconnected = 1;
    stage = Stage::Online;
    onlineSince = linkClock;
    lastHeard = linkClock;
    keepAliveSeen = false;
    heardSinceLogin = false;
    toldQuiet = false;
    SetConnectionStatus(ConnectionState::LoggedIn, LoggedInText());
    // Online now: the multiplayer aircraft are ours to show the other pilots in.
    AcquirePlanes();
}

void BeginConnect(in_addr address) {
    tsockfd = OpenStreamSocket();
    sockfd = OpenDatagramSocket();
    if (tsockfd <= 0 || sockfd <= 0) {
        FailAttempt("the system gave no socket");
        return;
    }
    std::memset(&serverAddress, 0, sizeof serverAddress);
    serverAddress.sin_family = AF_INET;
    serverAddress.sin_port = htons((unsigned short)target.port);
    serverAddress.sin_addr = address;
    // Succeeds only where this machine is the server itself; elsewhere the datagram socket gets an
    // ephemeral port at its first send, and that is where the server's datagrams come back to.
    BindSocket(sockfd, serverAddress);

    std::string error;
    switch (StartConnect(tsockfd, serverAddress, &error)) {
        case ConnectProgress::Connected:
            SendLogin();
            return;
        case ConnectProgress::Pending:
            stage = Stage::Connecting;
            return;
        case ConnectProgress::Failed:
            FailAttempt(error);
            return;
    }
}

void StartAttempt() {
    std::string entry = ChosenServerEntry();
    std::string error;
    ServerName parsed;
    if (!ParseServerName(entry, &parsed, &error)) {
        std::string shown = entry.size() > kEntryPreview ? entry.substr(0, kEntryPreview) + "..." : entry;
        // Never another server in its place: the pilot must see and correct the entry.
        Stop("The server \"" + shown + "\" is not valid: " + error);
        return;
    }
    target = parsed;
    targetText = ServerNameText(target);
    // A fresh unique ID for every login: the server takes a login line it has seen before only from the
    // address that first sent it and not long after its session, so a reconnect from a new address or an
    // hour later would otherwise be refused as a replay.
    uniqueID = DrawUniqueId();
    attemptStarted = linkClock;
    stage = Stage::LookingUp;
    SetConnectionStatus(ConnectionState::Connecting, "Connecting to " + targetText);
    StartLookup(target.host);
}

// One step of the attempt under way; none of it waits.
void Progress() {
    std::string error;
    if (stage == Stage::LookingUp) {
        in_addr address{};
        switch (PollLookup(&address, &error)) {
            case LookupState::Found:
                BeginConnect(address);
                break;
            case LookupState::Failed:
                FailAttempt(error);
                return;
            case LookupState::Pending:
                break;
        }
    }
    if (stage == Stage::Connecting) {
        switch (CheckConnect(tsockfd, &error)) {
            case ConnectProgress::Connected:
                SendLogin();
                return;
            case ConnectProgress::Failed:
                FailAttempt(error);
                return;
            case ConnectProgress::Pending:
                break;
        }
    }
    if ((stage == Stage::LookingUp || stage == Stage::Connecting) &&
        linkClock - attemptStarted >= kConnectTimeoutSeconds) {
        FailAttempt(stage == Stage::LookingUp ? "the name lookup took too long" : "timed out");
    }
}

}  // namespace

long SendOnStream(const std::string &message) {
    if (tsockfd <= 0) return -1;
    return SendOnSocket(tsockfd, message.data(), message.size());
}

int ConnectToServer() {
    if (tcpconnected) return tcpconnected;
    if (stage == Stage::LookingUp || stage == Stage::Connecting) return 0;
    // The pilot asks: whatever happened before, this attempt starts at once and the delays start over.
    nextDelay = kFirstRetrySeconds;
    StartAttempt();
    if (stage == Stage::LookingUp) Progress();
    if (stage == Stage::Connecting) {
        std::string error;
        switch (CheckConnect(tsockfd, &error, kConnectGlanceMs)) {
            case ConnectProgress::Connected:
                SendLogin();
                break;
            case ConnectProgress::Failed:
                FailAttempt(error);
                break;
            case ConnectProgress::Pending:
                break;
        }
    }
    return tcpconnected;
}

void AdvanceConnection(float elapsedSeconds) {
    if (elapsedSeconds > 0) linkClock += elapsedSeconds;
    switch (stage) {
        case Stage::LookingUp:
        case Stage::Connecting:
            Progress();
            break;
        case Stage::Waiting:
            if (linkClock >= retryAt) {
                StartAttempt();
                Progress();
            } else {
                SetSecondsToRetry(retryAt - linkClock);
            }
            break;
        case Stage::Online:
            if (linkClock - onlineSince >= kGoodSessionSeconds) nextDelay = kFirstRetrySeconds;
            if (!heardSinceLogin && !toldQuiet && linkClock - onlineSince >= kQuietServerSeconds) {
                toldQuiet = true;
                SetConnectionStatus(ConnectionState::LoggedIn,
                                    LoggedInText() + "; the server has sent nothing yet (no other pilots?)");
            }
            if (keepAliveSeen && linkClock - lastHeard >= kSilenceLimitSeconds) {
                GoOffline();
                WaitBeforeRetry("Connection lost: nothing heard from " + targetText + " for 25 s");
            }
            break;
        case Stage::Idle:
        case Stage::Stopped:
            break;
    }
}

void CloseServerConnection() {
    if (stage != Stage::Online) {
        GoOffline();
        return;
    }
    GoOffline();
    WaitBeforeRetry("Connection lost: " + targetText + " closed the connection");
}

void NoteStreamTraffic(bool keepAlive) {
    lastHeard = linkClock;
    if (keepAlive) keepAliveSeen = true;
    heardSinceLogin = true;
    if (toldQuiet && stage == Stage::Online) {
        toldQuiet = false;
        SetConnectionStatus(ConnectionState::LoggedIn, LoggedInText());
    }
}

bool TakeServerNotice(int number, const std::string &text) {
    if (stage != Stage::Online) return false;
    // The server's own words: "Server: login refused: unknown user or wrong password".
    std::string said = text.compare(0, 8, "Server: ") == 0 ? text.substr(8) : text;
    std::string line = targetText + " says: " + said;
    if (number == kNoticeFinal) {
        Stop(line);
        return true;
    }
    GoOffline();
    WaitBeforeRetry(line);
    return true;
}

int DisconnectFromServer() {
    if (tcpconnected) {
        std::string closing;
        AddIntToString(&closing, "", uniqueID);
        closing += "|Closing Connection\n";
        SendOnStream(closing);  // the server may be gone already; the state is cleared regardless
    }
    CancelLookup();
    // The user's aircraft goes back to the host whether or not a connection was open, and the
    // multiplayer aircraft to X-Plane's AI and other plug-ins.
    GoOffline();
    stage = Stage::Idle;
    nextDelay = kFirstRetrySeconds;
    SetConnectionStatus(ConnectionState::Disconnected, "Disconnected");
    return 1;
}

int ConnectToServerWaiting(int timeoutMs) {
    ConnectToServer();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((stage == Stage::LookingUp || stage == Stage::Connecting) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Progress();
    }
    return tcpconnected;
}

void ResetConnection() {
    FinishLookups();
    stage = Stage::Idle;
    target = ServerName();
    targetText.clear();
    linkClock = attemptStarted = retryAt = onlineSince = lastHeard = 0;
    nextDelay = kFirstRetrySeconds;
    keepAliveSeen = heardSinceLogin = toldQuiet = false;
    ResetConnectionStatus();
}
