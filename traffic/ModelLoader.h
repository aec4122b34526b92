// Loading traffic models through the simulator: nearest shown peer within sight first, under a stall budget.
#pragma once

#include <string>

// All of it runs on the simulation thread only.

// The aircraft a slot whose model is missing gets: one every X-Plane 12 installation has, the default
// Cessna 172 SP. The settings entry `defaultModel` names another (a path under X-Plane's folder).
extern const char kStockDefaultModel[];

// The full path of the default model, or "" when that file is not there either.
std::string DefaultModelPath();

// Asks for `path` (a full path, or "" for none) for relay slot 1..63 (slot 0, the user's own aircraft,
// never gets a model). A newer path for the same slot replaces it.
void RequestModel(int slot, const std::string &path);

// The relay emptied the slot: no model is wanted for it any more.
void ForgetSlotModel(int slot);

// Once a frame, from the frame's flight loop with the time since its last call: loads at most one
// waiting model, while the plug-in holds the aircraft. The one loaded is that of the nearest peer drawn
// within the visual range whose aircraft does not already have it (and had no load in the last second).
// No load follows one in the frame before, and loads take at most a quarter of the simulator's time,
// as measured by the frame after each.
void LoadPendingModels(float elapsedSinceLastFrame);

// After the aircraft were (re)acquired: what each holds is unknown, so every wanted model loads again.
void ReloadNamedModels();

// Offline: no slot has a model waiting or to reload; the pace of loads is kept.
void ForgetModels();
