// The server connection: looking up and connecting without blocking a frame, the login and logout
// messages, the status a pilot reads, and reconnecting by itself after a lost link.
#pragma once

#include <string>

#include "net/ServerAddress.h"

// The longest an attempt may take from its start to a connected stream before it counts as unreachable.
constexpr double kConnectTimeoutSeconds = 10;
// The delays before trying again after a lost link or a failed attempt: the first, and the most, in
// seconds. Each failure doubles the delay; each is spread by a quarter either way, so that pilots
// dropped together by a server restart do not all come back in the same second.
constexpr double kFirstRetrySeconds = 2;
constexpr double kLongestRetrySeconds = 60;
// A server that sends keep-alive lines and then nothing for this long is gone, even if the system still
// holds the stream open (a proxy or a NAT that stopped forwarding).
constexpr double kSilenceLimitSeconds = 25;

// The numbers a notice line from the server carries in place of a slot: the server refuses or ends the
// session and the plug-in may try again later, or must wait for its pilot.
constexpr int kNoticeTryLater = 9000;
constexpr int kNoticeFinal = 9001;

// All of these run on the simulation thread only.

// The pilot's Connect (and connect at startup): starts an attempt with the server chosen now and a fresh
// unique ID. It never waits; the attempt goes on in AdvanceConnection. Returns tcpconnected.
int ConnectToServer();
// The pilot's Disconnect (and disable): the logout message if logged in, then everything stops, trying
// again included.
int DisconnectFromServer();
// The stream ended or failed under the plug-in: a lost connection, tried again after a delay.
void CloseServerConnection();
// Drives the attempt under way, the delay before the next one and the silence rule. Called by the
// packet processor every call, with the seconds since its last call.
void AdvanceConnection(float elapsedSeconds);
// A notice line from the server (its number and text): the status line shows it and the connection
// ends; after kNoticeFinal it is not tried again by itself. False when no session was there to end.
bool TakeServerNotice(int number, const std::string &text);
// Something arrived on the stream; `keepAlive` when it was the server's keep-alive line.
void NoteStreamTraffic(bool keepAlive);

// For harnesses without frames to wait through (tests, benchmarks): ConnectToServer, then the attempt
// driven until it is logged in or failed, for at most `timeoutMs` of wall time. Returns tcpconnected.
int ConnectToServerWaiting(int timeoutMs);

// Back to the state of a fresh load, any lookup thread waited for. At plug-in stop, and for harnesses.
void ResetConnection();

// Sends `message` on the stream channel in one call, with the result of that call. Never raises SIGPIPE,
// so a server that closed its end cannot end the host process, and never waits. Returns -1 when the
// stream is closed. Every sender on the stream uses this. Simulation thread only.
long SendOnStream(const std::string &message);
