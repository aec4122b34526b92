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
std::string Planes[kSlotCount];
std::string Callsigns[kSlotCount];
std::string CrewIDs[kSlotCount];

namespace {

// "Plane N" until a peer names its model.
[[maybe_unused]] const bool planesNamed = [] {
    for (int slot = 0; slot < kSlotCount; slot++) Planes[slot] = "Plane " + std::to_string(slot);
    return true;
}();

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

void WriteElement(XPLMDataRef ref, int index, float value) {
    if (ref) XPLMSetDatavf(ref, &value, index, 1);
}

// Every multiplayer aircraft's references, bound once at start: a slot drawn as another aircraft takes
// that aircraft's from here.
AircraftRefs slotRefs[kAircraftCount];

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
    refs = AircraftRefs{};
    if (slot == 0) {
        // The user's own aircraft: moved only when a crew mate's pilot flies it.
        refs.drX = XPLMFindDataRef("sim/flightmodel/position/local_x");
        refs.drY = XPLMFindDataRef("sim/flightmodel/position/local_y");
        refs.drZ = XPLMFindDataRef("sim/flightmodel/position/local_z");
        refs.drTheta = XPLMFindDataRef("sim/flightmodel/position/theta");
        refs.drPhi = XPLMFindDataRef("sim/flightmodel/position/phi");
        refs.drPsi = XPLMFindDataRef("sim/flightmodel/position/psi");
        refs.drFlap = XPLMFindDataRef("sim/flightmodel/controls/flaprat");
        refs.drFlap2 = XPLMFindDataRef("sim/flightmodel/controls/flap2rat");
        refs.drFlapRatio = XPLMFindDataRef("sim/cockpit2/controls/flap_ratio");
        refs.drSpoiler = XPLMFindDataRef("sim/flightmodel/controls/lspdef");
        refs.drSpeedbrake = XPLMFindDataRef("sim/flightmodel/controls/sbrkrat");
        refs.drSlat = XPLMFindDataRef("sim/flightmodel/controls/slatrat");
        refs.drWingsweep = XPLMFindDataRef("sim/flightmodel/controls/swdi");
        refs.drYokePitch = XPLMFindDataRef("sim/joystick/yolk_pitch_ratio");
        refs.drYokeRoll = XPLMFindDataRef("sim/joystick/yolk_roll_ratio");
        refs.drYokeYaw = XPLMFindDataRef("sim/joystick/yolk_heading_ratio");
        refs.drPitchRatio = XPLMFindDataRef("sim/flightmodel2/controls/pitch_ratio");
        refs.drRollRatio = XPLMFindDataRef("sim/flightmodel2/controls/roll_ratio");
        refs.drHeadingRatio = XPLMFindDataRef("sim/flightmodel2/controls/heading_ratio");
        refs.drGear = XPLMFindDataRef("sim/aircraft/parts/acf_gear_deploy");
        refs.drThrottle = XPLMFindDataRef("sim/flightmodel/engine/ENGN_thro_use");
        refs.drThrottleSet = XPLMFindDataRef("sim/flightmodel/engine/ENGN_thro");
        refs.drBeacon = XPLMFindDataRef("sim/cockpit/electrical/beacon_lights_on");
        refs.drLanding = XPLMFindDataRef("sim/cockpit/electrical/landing_lights_on");
        refs.drNav = XPLMFindDataRef("sim/cockpit/electrical/nav_lights_on");
        refs.drStrobe = XPLMFindDataRef("sim/cockpit/electrical/strobe_lights_on");
        refs.drTaxi = XPLMFindDataRef("sim/cockpit/electrical/taxi_light_on");
        refs.drQ = XPLMFindDataRef("sim/flightmodel/position/q");
        refs.drVX = XPLMFindDataRef("sim/flightmodel/position/local_vx");
        refs.drVY = XPLMFindDataRef("sim/flightmodel/position/local_vy");
        refs.drVZ = XPLMFindDataRef("sim/flightmodel/position/local_vz");
        return;
    }

    // A slot beyond the simulator's aircraft has no references of its own: it is drawn as an instance, or
    // through an aircraft it is given (ShowAs).
    if (slot < 0 || slot >= kAircraftCount) return;
    refs.drX = FindSlotRef("sim/multiplayer/position/plane%d_x", slot);
    refs.drY = FindSlotRef("sim/multiplayer/position/plane%d_y", slot);
    refs.drZ = FindSlotRef("sim/multiplayer/position/plane%d_z", slot);
    refs.drLat = FindSlotRef("sim/multiplayer/position/plane%d_lat", slot);
    refs.drLon = FindSlotRef("sim/multiplayer/position/plane%d_lon", slot);
    refs.drEl = FindSlotRef("sim/multiplayer/position/plane%d_el", slot);
    // X-Plane 12 derives the world position from the local one and makes it read-only.
    refs.worldWritable = refs.drLat && XPLMCanWriteDataRef(refs.drLat);
    refs.drTheta = FindSlotRef("sim/multiplayer/position/plane%d_the", slot);
    refs.drPhi = FindSlotRef("sim/multiplayer/position/plane%d_phi", slot);
    refs.drPsi = FindSlotRef("sim/multiplayer/position/plane%d_psi", slot);
    refs.drFlap = FindSlotRef("sim/multiplayer/position/plane%d_flap_ratio", slot);
    refs.drFlap2 = FindSlotRef("sim/multiplayer/position/plane%d_flap_ratio2", slot);
    refs.drSpoiler = FindSlotRef("sim/multiplayer/position/plane%d_spoiler_ratio", slot);
    refs.drSpeedbrake = FindSlotRef("sim/multiplayer/position/plane%d_speedbrake_ratio", slot);
    refs.drSlat = FindSlotRef("sim/multiplayer/position/plane%d_slat_ratio", slot);
    // X-Plane spells the slat ratio of aircraft 2 and up with the digit one ("sla1"); without this
    // fallback the slats of every slot but the first would never move.
    if (!refs.drSlat) refs.drSlat = FindSlotRef("sim/multiplayer/position/plane%d_sla1_ratio", slot);
    refs.drWingsweep = FindSlotRef("sim/multiplayer/position/plane%d_wing_sweep", slot);
    // Where the arrays exist the old names are not even looked up: X-Plane 12 logs every lookup of one
    // as replaced, 57 lines for the 19 aircraft.
    refs.drYokePitchArray = XPLMFindDataRef("sim/multiplayer/controls/yoke_pitch_ratio");
    refs.drYokeRollArray = XPLMFindDataRef("sim/multiplayer/controls/yoke_roll_ratio");
    refs.drYokeHeadingArray = XPLMFindDataRef("sim/multiplayer/controls/yoke_heading_ratio");
    refs.arrayIndex = slot;
    if (!refs.drYokePitchArray) refs.drYokePitch = FindSlotRef("sim/multiplayer/position/plane%d_yolk_pitch", slot);
    if (!refs.drYokeRollArray) refs.drYokeRoll = FindSlotRef("sim/multiplayer/position/plane%d_yolk_roll", slot);
    if (!refs.drYokeHeadingArray) refs.drYokeYaw = FindSlotRef("sim/multiplayer/position/plane%d_yolk_yaw", slot);
    refs.drGear = FindSlotRef("sim/multiplayer/position/plane%d_gear_deploy", slot);
    refs.drThrottle = FindSlotRef("sim/multiplayer/position/plane%d_throttle", slot);
    refs.drBeacon = FindSlotRef("sim/multiplayer/position/plane%d_beacon_lights_on", slot);
    refs.drLanding = FindSlotRef("sim/multiplayer/position/plane%d_landing_lights_on", slot);
    refs.drNav = FindSlotRef("sim/multiplayer/position/plane%d_nav_lights_on", slot);
    refs.drStrobe = FindSlotRef("sim/multiplayer/position/plane%d_strobe_lights_on", slot);
    refs.drTaxi = FindSlotRef("sim/multiplayer/position/plane%d_taxi_light_on", slot);
    slotRefs[slot] = refs;
}

void Aircraft::ShowAs(int aircraft) {
    refs = aircraft >= 1 && aircraft < kAircraftCount ? slotRefs[aircraft] : AircraftRefs{};
}

void ParkAircraft(int aircraft, float x, float y, float z) {
    if (!planesAcquired || aircraft < 1 || aircraft >= kAircraftCount) return;
    const AircraftRefs &refs = slotRefs[aircraft];
    WriteFloat(refs.drX, x);
    WriteFloat(refs.drY, y);
    WriteFloat(refs.drZ, z);
}

void Aircraft::SetAircraftData() {
    // The multiplayer aircraft are another plug-in's until the simulator grants them to us.
    if (planeIndex != 0 && !planesAcquired) return;
    WriteFloat(refs.drX, x);
    WriteFloat(refs.drY, y);
    WriteFloat(refs.drZ, z);
    if (refs.worldWritable) {
        WriteFloat(refs.drLat, lat);
        WriteFloat(refs.drLon, lon);
        WriteFloat(refs.drEl, el);
    }
    WriteFloat(refs.drTheta, theta);
    WriteFloat(refs.drPhi, phi);
    WriteFloat(refs.drPsi, psi);
    WriteFloat(refs.drFlap, flap);
    WriteFloat(refs.drFlap2, flap2);

    WriteFloat(refs.drSpoiler, spoiler);
    WriteFloat(refs.drSpeedbrake, speedbrake);
    WriteFloat(refs.drSlat, slat);
    WriteFloat(refs.drWingsweep, wingsweep);
    WriteFloat(refs.drYokePitch, yokePitch);
    WriteFloat(refs.drYokeRoll, yokeRoll);
    WriteFloat(refs.drYokeYaw, yokeYaw);
    WriteElement(refs.drYokePitchArray, refs.arrayIndex, yokePitch);
    WriteElement(refs.drYokeRollArray, refs.arrayIndex, yokeRoll);
    WriteElement(refs.drYokeHeadingArray, refs.arrayIndex, yokeYaw);

    if (planeIndex == 0) {
        // The flight model of the user's aircraft reads these rather than the joystick and cockpit values.
        WriteFloat(refs.drPitchRatio, yokePitch);
        WriteFloat(refs.drRollRatio, yokeRoll);
        WriteFloat(refs.drHeadingRatio, yokeYaw);
        WriteFloat(refs.drFlapRatio, flap);
        WriteFloats(refs.drThrottleSet, throttle, 8);
        // The flight model resumes from these when the override ends, not from the angles: without
        // them the aircraft would snap back to its attitude and speed of before the crew's pilot.
        float q[4];
        AttitudeQuaternion(psi, theta, phi, q);
        WriteFloats(refs.drQ, q, 4);
        WriteFloat(refs.drVX, vx);
        WriteFloat(refs.drVY, vy);
        WriteFloat(refs.drVZ, vz);
    }

    // Only nine gears travel to the host; the tenth ratio stays in the record.
    WriteFloats(refs.drGear, gear, 9);
    WriteFloats(refs.drThrottle, throttle, 8);

    WriteInt(refs.drBeacon, beacon);
    WriteInt(refs.drLanding, landing);
    WriteInt(refs.drNav, nav);
    WriteInt(refs.drStrobe, strobe);
    WriteInt(refs.drTaxi, taxi);
}

void Aircraft::GetAircraftData() {
    ReadFloat(refs.drX, &x);
    ReadFloat(refs.drY, &y);
    ReadFloat(refs.drZ, &z);
    ReadFloat(refs.drLat, &lat);
    ReadFloat(refs.drLon, &lon);
    ReadFloat(refs.drEl, &el);
    ReadFloat(refs.drTheta, &theta);
    ReadFloat(refs.drPhi, &phi);
    ReadFloat(refs.drPsi, &psi);

    if (refs.drGear) XPLMGetDatavf(refs.drGear, gear, 0, 9);
    if (refs.drThrottle) XPLMGetDatavf(refs.drThrottle, throttle, 0, 8);

    ReadInt(refs.drBeacon, &beacon);
    ReadInt(refs.drLanding, &landing);
    ReadInt(refs.drNav, &nav);
    ReadInt(refs.drStrobe, &strobe);
    ReadInt(refs.drTaxi, &taxi);
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
