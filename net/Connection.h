// The server connection: opening it with the login message and closing it with the logout message.
#pragma once

// The port of both channels.
constexpr int kServerPort = 49556;

// Called on the simulation thread only.
int ConnectToServer();
int DisconnectFromServer();
