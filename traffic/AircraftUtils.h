// Traffic aircraft slots: one record per slot bound to the simulator's data references, and the slot tables.
#pragma once

#include <string>

#include "core/HostInterface.h"

// The simulator's data references one aircraft is moved through. A handle the aircraft's kind does not
// have, or the simulator does not offer, is null.
struct AircraftRefs {
    XPLMDataRef drX = nullptr, drY = nullptr, drZ = nullptr, drLat = nullptr, drLon = nullptr, drEl = nullptr;
    XPLMDataRef drTheta = nullptr, drPhi = nullptr, drPsi = nullptr, drFlap = nullptr, drFlap2 = nullptr;
    XPLMDataRef drFlapRatio = nullptr, drSpoiler = nullptr, drSpeedbrake = nullptr, drSlat = nullptr;
    XPLMDataRef drWingsweep = nullptr, drYokePitch = nullptr, drYokeRoll = nullptr, drYokeYaw = nullptr;
    XPLMDataRef drPitchRatio = nullptr, drRollRatio = nullptr, drHeadingRatio = nullptr;
    XPLMDataRef drGear = nullptr, drThrottle = nullptr, drThrottleSet = nullptr;
    XPLMDataRef drBeacon = nullptr, drLanding = nullptr, drNav = nullptr, drStrobe = nullptr, drTaxi = nullptr;
    // The user's aircraft only: the flight model's attitude and velocity, which it resumes from.
    XPLMDataRef drQ = nullptr, drVX = nullptr, drVY = nullptr, drVZ = nullptr;
    // X-Plane 12 (and 11.50 on) keeps the multiplayer yoke ratios in one array per control, element N
    // for aircraft N; older simulators have one reference per aircraft (drYokePitch and the others).
    XPLMDataRef drYokePitchArray = nullptr, drYokeRollArray = nullptr, drYokeHeadingArray = nullptr;
    int arrayIndex = 0;
    bool worldWritable = false;  // drLat, drLon and drEl take writes (not in X-Plane 12)
};

class Aircraft {
public:
    // Binds the record to slot `slot`'s references: the user's aircraft for 0, multiplayer aircraft N for N.
    void set(int slot);
    void SetAircraftData();
    void GetAircraftData();
    // Moves the record's values through multiplayer aircraft `aircraft` (1..kAircraftCount-1) from now on, or through
    // none (0): the slot's peer is not drawn. The slot number stays.
    void ShowAs(int aircraft);

    int planeIndex = 0;
    AircraftRefs refs;

    float x = 0, y = 0, z = 0;
    float lat = 0, lon = 0, el = 0;
    float theta = 0, phi = 0, psi = 0;
    float flap = 0, flap2 = 0, spoiler = 0, speedbrake = 0, slat = 0, wingsweep = 0;
    float yokePitch = 0, yokeRoll = 0, yokeYaw = 0;
    float gear[10] = {};
    float throttle[8] = {};
    int beacon = 0, landing = 0, strobe = 0, nav = 0, taxi = 0;
    float vx = 0, vy = 0, vz = 0;  // metres per second in the local frame (the user's aircraft only)
};

// Places multiplayer aircraft `aircraft` at a local position, while the plug-in holds the aircraft.
void ParkAircraft(int aircraft, float x, float y, float z);

// X-Plane's attitude quaternion (w, x, y, z) of a heading psi, pitch theta and roll phi in degrees.
void AttitudeQuaternion(float psi, float theta, float phi, float q[4]);

// The relay's slots: 0 is the user's own aircraft, 1..63 are peers. The relay hands out 1..19 unless the
// plug-in asks for more (it does in instanced traffic, which is not bound to the simulator's aircraft).
constexpr int kSlotCount = 64;
// The simulator's multiplayer aircraft: 0 is the user's own, 1..19 can draw peers.
constexpr int kAircraftCount = 20;
// What the plug-in asks the relay for: the simulator's aircraft in the default mode, every TCAS target
// (64 less the user's own) with instanced traffic.
constexpr int kDefaultPeers = kAircraftCount - 1;
constexpr int kInstancedPeers = kSlotCount - 1;

extern Aircraft AircraftList[kSlotCount];
extern std::string Planes[kSlotCount];
extern std::string Callsigns[kSlotCount];
extern std::string CrewIDs[kSlotCount];

// Offline: the traffic slots' names, crews and models forgotten, so the plane list shows nobody and the
// next session loads its models afresh. Simulation thread only.
void ClearTrafficTables();

void SetAircraftRefF(int index, std::string name, float value);
void SetAircraftRefI(int index, std::string name, int value);
