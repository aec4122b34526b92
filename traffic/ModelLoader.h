// Loading traffic models through the simulator: at most one load per slot a second, the newest path waiting.
#pragma once

#include <string>

// All of it runs on the simulation thread only.

// Asks for `path` in multiplayer slot 1..19 (slot 0, the user's own aircraft, never gets a model).
// Loads now when the slot's last load is a second old and the plug-in holds the aircraft; otherwise
// the path waits, and a newer one for the same slot replaces it.
void RequestModel(int slot, const std::string &path);

// Loads the waiting paths that are due; run by every packet-processing call.
void LoadPendingModels();

// After the aircraft were (re)acquired: every slot's latest path waits to be loaded again.
void ReloadNamedModels();
