// Looking up the server's IPv4 address away from the simulation thread.
//
// The system's name lookup can take seconds (a slow or absent name server), so it runs on a thread of
// its own; the simulation thread only starts it and asks, without waiting, whether it is done. At most
// one lookup thread runs at a time: a lookup asked for while an older one is still running waits for it.
#pragma once

#include <string>

#include "platform/Socket.h"

enum class LookupState { Pending, Found, Failed };

// Starts looking up `host`; a dotted quad is found at once. Simulation thread only.
void StartLookup(const std::string &host);
// Where the lookup stands; once Found, `address` is set, once Failed, `error` says why in a pilot's words
// ("no such host"). Never waits. Simulation thread only.
LookupState PollLookup(in_addr *address, std::string *error);
// Drops the lookup under way: its answer is not wanted (the thread ends by itself). Simulation thread only.
void CancelLookup();
// Waits for a lookup thread still running, before the plug-in's code may be unloaded. At plug-in stop.
void FinishLookups();
