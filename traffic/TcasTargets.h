// The TCAS override: every peer announced to X-Plane's TCAS, map and EFBs, in both ways of showing traffic.
#pragma once

// All of it runs on the simulation thread only.
//
// Where the simulator has the override (11.50 and later), the plug-in sets it while online and holding
// the multiplayer aircraft, and writes each present peer into the target slot of its relay slot, with a
// Mode S ID of its own for the session, its callsign and type, position, attitude, velocity, gear and
// lights, and the transponder on Mode C in the air and on ground mode on the ground.

// Once a frame, after the instanced traffic's frame (which places the aircraft).
void TcasTargetsFrame();

// Clears the override (before the aircraft are let go: only their holder may write it). Disconnect,
// disable, and the aircraft lost.
void EndTcasOverride();

// The Mode S ID the target of `slot` carries (0 when none), for tests and the plane list.
int TcasModeSOf(int slot);
