// Traffic aircraft slots: binding each slot record to the simulator's data references and moving its state through
// them.
#include "traffic/AircraftUtils.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "traffic/InstancedTraffic.h"
#include "traffic/ModelLoader.h"
#include "traffic/PlaneAccess.h"

Aircraft AircraftList[kSlotCount];
std::string Planes[kSlotCount] = {"Plane 0",  "Plane 1",  "Plane 2",  "Plane 3",  "Plane 4",  "Plane 5",  "Plane 6",
                                  "Plane 7",  "Plane 8",  "Plane 9",  "Plane 10", "Plane 11", "Plane 12", "Plane 13",
                                  "Plane 14", "Plane 15", "Plane 16", "Plane 17", "Plane 18", "Plane 19"};
std::string Callsigns[kSlotCount];
std::string CrewIDs[kSlotCount];

namespace {

// Looks up a traffic slot's data reference: `pattern` holds one "%d" for the slot number.
XPLMDataRef FindSlotRef(const char *pattern, int slot) {
    char name[96];
    std::snprintf(name, sizeof name, pattern, slot);
    return XPLMFindDataRef(name);
}

void WriteFloat(XPLMDataRef ref, float value) {
    if (ref) XPLMSetDataf(ref, value);
}

void WriteInt(XPLMDataRef ref, int value) {
    if (ref) XPLMSetDatai(ref, value);
}

void WriteFloats(XPLMDataRef ref, float *values, int count) {
    if (ref) XPLMSetDatavf(ref, values, 0, count);
}

void ReadFloat(XPLMDataRef ref, float *value) {
    if (ref) *value = XPLMGetDataf(ref);
}

void ReadInt(XPLMDataRef ref, int *value) {
    if (ref) *value = XPLMGetDatai(ref);
}

}  // namespace

void ClearTrafficTables() {
    for (int slot = 1; slot < kSlotCount; slot++) {
        Callsigns[slot].clear();
        CrewIDs[slot].clear();
        Planes[slot] = "Plane " + std::to_string(slot);
        ForgetTrafficSlot(slot);
    }
    ForgetModels();
}

void Aircraft::set(int slot) {
    planeIndex = slot;
    if (slot == 0) {
        // The user's own aircraft: moved only when a crew mate's pilot flies it.
        drX = XPLMFindDataRef("sim/flightmodel/position/local_x");
        drY = XPLMFindDataRef("sim/flightmodel/position/local_y");
        drZ = XPLMFindDataRef("sim/flightmodel/position/local_z");
        drTheta = XPLMFindDataRef("sim/flightmodel/position/theta");
        drPhi = XPLMFindDataRef("sim/flightmodel/position/phi");
        drPsi = XPLMFindDataRef("sim/flightmodel/position/psi");
        drFlap = XPLMFindDataRef("sim/flightmodel/controls/flaprat");
        drFlap2 = XPLMFindDataRef("sim/flightmodel/controls/flap2rat");
        drFlapRatio = XPLMFindDataRef("sim/cockpit2/controls/flap_ratio");
        drSpoiler = XPLMFindDataRef("sim/flightmodel/controls/lspdef");
        drSpeedbrake = XPLMFindDataRef("sim/flightmodel/controls/sbrkrat");
        drSlat = XPLMFindDataRef("sim/flightmodel/controls/slatrat");
        drWingsweep = XPLMFindDataRef("sim/flightmodel/controls/swdi");
        drYokePitch = XPLMFindDataRef("sim/joystick/yolk_pitch_ratio");
        drYokeRoll = XPLMFindDataRef("sim/joystick/yolk_roll_ratio");
        drYokeYaw = XPLMFindDataRef("sim/joystick/yolk_heading_ratio");
        drPitchRatio = XPLMFindDataRef("sim/flightmodel2/controls/pitch_ratio");
        drRollRatio = XPLMFindDataRef("sim/flightmodel2/controls/roll_ratio");
        drHeadingRatio = XPLMFindDataRef("sim/flightmodel2/controls/heading_ratio");
        drGear = XPLMFindDataRef("sim/aircraft/parts/acf_gear_deploy");
        drThrottle = XPLMFindDataRef("sim/flightmodel/engine/ENGN_thro_use");
        drThrottleSet = XPLMFindDataRef("sim/flightmodel/engine/ENGN_thro");
        drBeacon = XPLMFindDataRef("sim/cockpit/electrical/beacon_lights_on");
        drLanding = XPLMFindDataRef("sim/cockpit/electrical/landing_lights_on");
        drNav = XPLMFindDataRef("sim/cockpit/electrical/nav_lights_on");
        drStrobe = XPLMFindDataRef("sim/cockpit/electrical/strobe_lights_on");
        drTaxi = XPLMFindDataRef("sim/cockpit/electrical/taxi_light_on");
        drQ = XPLMFindDataRef("sim/flightmodel/position/q");
        drVX = XPLMFindDataRef("sim/flightmodel/position/local_vx");
        drVY = XPLMFindDataRef("sim/flightmodel/position/local_vy");
        drVZ = XPLMFindDataRef("sim/flightmodel/position/local_vz");
        return;
    }

    drX = FindSlotRef("sim/multiplayer/position/plane%d_x", slot);
    drY = FindSlotRef("sim/multiplayer/position/plane%d_y", slot);
    drZ = FindSlotRef("sim/multiplayer/position/plane%d_z", slot);
    drLat = FindSlotRef("sim/multiplayer/position/plane%d_lat", slot);
    drLon = FindSlotRef("sim/multiplayer/position/plane%d_lon", slot);
    drEl = FindSlotRef("sim/multiplayer/position/plane%d_el", slot);
    drTheta = FindSlotRef("sim/multiplayer/position/plane%d_the", slot);
    drPhi = FindSlotRef("sim/multiplayer/position/plane%d_phi", slot);
    drPsi = FindSlotRef("sim/multiplayer/position/plane%d_psi", slot);
    drFlap = FindSlotRef("sim/multiplayer/position/plane%d_flap_ratio", slot);
    drFlap2 = FindSlotRef("sim/multiplayer/position/plane%d_flap_ratio2", slot);
    drSpoiler = FindSlotRef("sim/multiplayer/position/plane%d_spoiler_ratio", slot);
    drSpeedbrake = FindSlotRef("sim/multiplayer/position/plane%d_speedbrake_ratio", slot);
    drSlat = FindSlotRef("sim/multiplayer/position/plane%d_slat_ratio", slot);
    // X-Plane spells the slat ratio of aircraft 2 and up with the digit one ("sla1"); without this
    // fallback the slats of every slot but the first would never move.
    if (!drSlat) drSlat = FindSlotRef("sim/multiplayer/position/plane%d_sla1_ratio", slot);
    drWingsweep = FindSlotRef("sim/multiplayer/position/plane%d_wing_sweep", slot);
    drYokePitch = FindSlotRef("sim/multiplayer/position/plane%d_yolk_pitch", slot);
    drYokeRoll = FindSlotRef("sim/multiplayer/position/plane%d_yolk_roll", slot);
    drYokeYaw = FindSlotRef("sim/multiplayer/position/plane%d_yolk_yaw", slot);
    drGear = FindSlotRef("sim/multiplayer/position/plane%d_gear_deploy", slot);
    drThrottle = FindSlotRef("sim/multiplayer/position/plane%d_throttle", slot);
    drBeacon = FindSlotRef("sim/multiplayer/position/plane%d_beacon_lights_on", slot);
    drLanding = FindSlotRef("sim/multiplayer/position/plane%d_landing_lights_on", slot);
    drNav = FindSlotRef("sim/multiplayer/position/plane%d_nav_lights_on", slot);
    drStrobe = FindSlotRef("sim/multiplayer/position/plane%d_strobe_lights_on", slot);
    drTaxi = FindSlotRef("sim/multiplayer/position/plane%d_taxi_light_on", slot);
}

void Aircraft::SetAircraftData() {
    // The multiplayer aircraft are another plug-in's until the simulator grants them to us.
    if (planeIndex != 0 && !planesAcquired) return;
    WriteFloat(drX, x);
    WriteFloat(drY, y);
    WriteFloat(drZ, z);
    WriteFloat(drLat, lat);
    WriteFloat(drLon, lon);
    WriteFloat(drEl, el);
    WriteFloat(drTheta, theta);
    WriteFloat(drPhi, phi);
    WriteFloat(drPsi, psi);
    WriteFloat(drFlap, flap);
    WriteFloat(drFlap2, flap2);

    WriteFloat(drSpoiler, spoiler);
    WriteFloat(drSpeedbrake, speedbrake);
    WriteFloat(drSlat, slat);
    WriteFloat(drWingsweep, wingsweep);
    WriteFloat(drYokePitch, yokePitch);
    WriteFloat(drYokeRoll, yokeRoll);
    WriteFloat(drYokeYaw, yokeYaw);

    if (planeIndex == 0) {
        // The flight model of the user's aircraft reads these rather than the joystick and cockpit values.
        WriteFloat(drPitchRatio, yokePitch);
        WriteFloat(drRollRatio, yokeRoll);
        WriteFloat(drHeadingRatio, yokeYaw);
        WriteFloat(drFlapRatio, flap);
        WriteFloats(drThrottleSet, throttle, 8);
        // The flight model resumes from these when the override ends, not from the angles: without
        // them the aircraft would snap back to its attitude and speed of before the crew's pilot.
        float q[4];
        AttitudeQuaternion(psi, theta, phi, q);
        WriteFloats(drQ, q, 4);
        WriteFloat(drVX, vx);
        WriteFloat(drVY, vy);
        WriteFloat(drVZ, vz);
    }

    // Only nine gears travel to the host; the tenth ratio stays in the record.
    WriteFloats(drGear, gear, 9);
    WriteFloats(drThrottle, throttle, 8);

    WriteInt(drBeacon, beacon);
    WriteInt(drLanding, landing);
    WriteInt(drNav, nav);
    WriteInt(drStrobe, strobe);
    WriteInt(drTaxi, taxi);
}

void Aircraft::GetAircraftData() {
    ReadFloat(drX, &x);
    ReadFloat(drY, &y);
    ReadFloat(drZ, &z);
    ReadFloat(drLat, &lat);
    ReadFloat(drLon, &lon);
    ReadFloat(drEl, &el);
    ReadFloat(drTheta, &theta);
    ReadFloat(drPhi, &phi);
    ReadFloat(drPsi, &psi);

    if (drGear) XPLMGetDatavf(drGear, gear, 0, 9);
    if (drThrottle) XPLMGetDatavf(drThrottle, throttle, 0, 8);

    ReadInt(drBeacon, &beacon);
    ReadInt(drLanding, &landing);
    ReadInt(drNav, &nav);
    ReadInt(drStrobe, &strobe);
    ReadInt(drTaxi, &taxi);
}

void AttitudeQuaternion(float psi, float theta, float phi, float q[4]) {
    const double half = 3.14159265358979323846 / 360.0;  // half a degree in radians (M_PI is POSIX, not C++)
    double cp = std::cos(psi * half), sp = std::sin(psi * half);
    double ct = std::cos(theta * half), st = std::sin(theta * half);
    double cr = std::cos(phi * half), sr = std::sin(phi * half);
    q[0] = (float)(cp * ct * cr + sp * st * sr);
    q[1] = (float)(cp * ct * sr - sp * st * cr);
    q[2] = (float)(cp * st * cr + sp * ct * sr);
    q[3] = (float)(-cp * st * sr + sp * ct * cr);
}

void SetAircraftRefF(int index, std::string name, float value) {
    XPLMDataRef ref = XPLMFindDataRef(name.c_str());
    if (ref) XPLMSetDatavf(ref, &value, index, 1);
}

void SetAircraftRefI(int index, std::string name, int value) {
    XPLMDataRef ref = XPLMFindDataRef(name.c_str());
    if (ref) XPLMSetDatavi(ref, &value, index, 1);
}
