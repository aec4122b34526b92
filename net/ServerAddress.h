// The server a pilot names, "host" or "host:port", and which one the plug-in uses.
#pragma once

#include <string>

// The port of both channels when none is given.
constexpr int kServerPort = 49556;
// The longest server entry kept: a host name of 253 bytes, a colon and five digits.
constexpr size_t kServerEntryLimit = 259;

struct ServerName {
    std::string host;  // a host name or a dotted quad
    int port = kServerPort;
};

// Reads "host" or "host:port". False, with what is wrong in words a pilot can act on, for anything else:
// an empty host, characters no host name has, a port that is not a number from 1 to 65535.
bool ParseServerName(const std::string &text, ServerName *out, std::string *error);

// "host:port", as the status line and Log.txt name the server.
std::string ServerNameText(const ServerName &server);

// The server built into this copy of the plug-in.
const char *BuiltInServer();

// The entry the plug-in connects to: the environment's SKORVALE_SERVER_ADDRESS (for tests and
// operators) when set, else the settings' `server` when not empty, else the built-in one.
std::string ChosenServerEntry();
