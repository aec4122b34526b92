// The server connection: opening it with the login message and closing it with the logout message.
#pragma once

#include <string>

// The port of both channels.
constexpr int kServerPort = 49556;

// The longest a connect may hold up the simulator before it counts as failed.
constexpr int kConnectTimeoutMs = 3000;

// Called on the simulation thread only.
int ConnectToServer();
int DisconnectFromServer();

// Ends the connection without the logout message, for a server that has already gone: closes both
// sockets, clears the connection state and hands the plane-path override back. Simulation thread only.
void CloseServerConnection();

// Sends `message` on the stream channel in one call, with the result of that call. Never raises SIGPIPE,
// so a server that closed its end cannot end the host process, and never waits. Returns -1 when the
// stream is closed. Every sender on the stream uses this. Simulation thread only.
long SendOnStream(const std::string &message);
