// Instanced traffic: each peer drawn as one of our own models with XPLMInstance, placed every frame.
#pragma once

#include <string>

// All of it runs on the simulation thread only.
//
// Whatever the mode, each peer's model path is matched to a library model (for TCAS's type and the
// plane list). With `trafficModels` on, each peer that sends locations is an instance of that model,
// loaded with XPLMLoadObjectAsync (no frame waits for a load), placed each frame where its slot record
// says (smoothed where smoothing is on) and put on our terrain while its pilot is on the ground; the
// multiplayer aircraft are then held only for the TCAS override, with none of them drawn.

// XPluginStart / XPluginStop: our animation data refs, registered before any model loads; the models
// and every instance go at stop.
void StartInstancedTraffic();
void StopInstancedTraffic();

// A model message for `slot` (the path as the peer sent it; "" when it left or sent BLANK).
void NoteTrafficModelPath(int slot, const std::string &path);
// A location was applied to `slot`'s record.
void NoteTrafficLocation(int slot);
// The pilot of `slot` left: its instance and target go at once.
void ForgetTrafficSlot(int slot);

// Offline, disable, or the mode switched off: every instance is destroyed (the models stay loaded).
void ClearInstancedTraffic();

// Once a frame from the per-frame flight loop (never a draw callback): matching, loads, instances.
void InstancedTrafficFrame(float elapsedSeconds);

// Whether `slot` has a peer flying now (a location within the last few seconds, not left).
bool TrafficSlotPresent(int slot);
// Where `slot` is drawn (local metres; on our ground while its pilot is on the ground), and whether its
// pilot reports being on the ground.
struct DrawnTraffic {
    float x = 0, y = 0, z = 0;
    float psi = 0, theta = 0, phi = 0;
    float vx = 0, vy = 0, vz = 0;  // metres per second, from successive positions
    bool onGround = false;
};
DrawnTraffic DrawnTrafficOf(int slot);
// The library model chosen for `slot` (a TrafficModelId), its ICAO type ("" when unknown), and the
// plane list's text for it, e.g. "narrow_body (B738, from the .acf)".
int TrafficModelOf(int slot);
std::string TrafficIcaoOf(int slot);
std::string TrafficChoiceText(int slot);
// Live instances now (for tests and the benchmark).
int InstanceCount();
