// Loading traffic models through the simulator: one load a frame, nearest first, the newest path waiting.
#pragma once

#include <string>

// All of it runs on the simulation thread only.

// Asks for `path` (a full path) in multiplayer slot 1..19 (slot 0, the user's own aircraft, never gets
// a model). It waits for LoadPendingModels; a newer path for the same slot replaces it.
void RequestModel(int slot, const std::string &path);

// Loads at most one waiting model a simulator frame, however often it runs: of the slots shown whose
// last load is a second old, the one whose aircraft is nearest the user's. Only while the plug-in holds
// the aircraft. Run by the packet processor and once a frame.
void LoadPendingModels();

// After the aircraft were (re)acquired: every slot's latest path waits to be loaded again.
void ReloadNamedModels();

// Offline: no slot has a model waiting or to reload; the pace of loads is kept.
void ForgetModels();
