// TCAS targets: the override flag and the per-frame target arrays, written in one call per array.
#include "traffic/TcasTargets.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "core/SkorvaleSE.h"
#include "traffic/AircraftUtils.h"
#include "traffic/InstancedTraffic.h"
#include "traffic/PlaneAccess.h"
#include "traffic/TrafficModels.h"

namespace {

// X-Plane has 64 target slots; 0 is the user's aircraft.
constexpr int kTargets = 64;
constexpr int kSlots = kSlotCount < kTargets ? kSlotCount : kTargets;
// Transponder modes: Mode C (altitude reporting, takes part in TA/RA) and ground.
constexpr int kModeC = 3;
constexpr int kModeGround = 5;
constexpr float kFeetPerMetre = 3.28084f;

struct Refs {
    bool found = false;
    XPLMDataRef override = nullptr, ids = nullptr, ssr = nullptr, flightId = nullptr, icao = nullptr;
    XPLMDataRef x = nullptr, y = nullptr, z = nullptr, vx = nullptr, vy = nullptr, vz = nullptr, vs = nullptr;
    XPLMDataRef psi = nullptr, the = nullptr, phi = nullptr, gear = nullptr, lights = nullptr, wow = nullptr;
    XPLMDataRef span = nullptr, mass = nullptr, wake = nullptr;
};

Refs refs;
bool overrideSet = false;
int modeS[kTargets] = {};
int highestWritten = 0;  // slots up to this were written last frame

const Refs &Find() {
    if (refs.found) return refs;
    refs.found = true;
    auto find = [](const char *name) { return XPLMFindDataRef((std::string("sim/cockpit2/tcas/") + name).c_str()); };
    refs.override = XPLMFindDataRef("sim/operation/override/override_TCAS");
    refs.ids = find("targets/modeS_id");
    refs.ssr = find("targets/ssr_mode");
    refs.flightId = find("targets/flight_id");
    refs.icao = find("targets/icao_type");
    refs.x = find("position/x");
    refs.y = find("position/y");
    refs.z = find("position/z");
    refs.vx = find("position/vx");
    refs.vy = find("position/vy");
    refs.vz = find("position/vz");
    refs.vs = find("position/vertical_speed");
    refs.psi = find("position/psi");
    refs.the = find("position/the");
    refs.phi = find("position/phi");
    refs.gear = find("position/gear_deploy");
    refs.lights = find("position/lights");
    refs.wow = find("position/weight_on_wheels");
    refs.span = find("wake/wing_span_m");
    refs.mass = find("wake/mass_kg");
    refs.wake = find("wake/wake_cat");
    return refs;
}

// A 24-bit ID for the peer in `slot`, the same all session (the relay keeps a peer's slot while it is
// connected), from this session's own random ID, so two receivers do not share a scheme. Never 0, and
// never another present peer's.
int ChooseModeS(int slot) {
    uint32_t h = 2166136261u;
    for (uint32_t v : {static_cast<uint32_t>(uniqueID), static_cast<uint32_t>(slot)}) {
        for (int i = 0; i < 4; ++i) {
            h ^= (v >> (8 * i)) & 0xFF;
            h *= 16777619u;
        }
    }
    int id = static_cast<int>(h % 0xFFFFFEu) + 1;
    for (bool clash = true; clash;) {
        clash = false;
        for (int other = 1; other < kSlots; ++other)
            if (other != slot && modeS[other] == id) clash = true;
        if (clash) id = id % 0xFFFFFE + 1;
    }
    return id;
}

void PutText(char *bytes, const std::string &text) {
    // Seven characters and the NUL, as the 8-byte fields hold them.
    std::memset(bytes, 0, 8);
    std::memcpy(bytes, text.data(), text.size() < 7 ? text.size() : 7);
}

}  // namespace

void TcasTargetsFrame() {
    const Refs &r = Find();
    if (!r.override || !r.ids) return;  // before X-Plane 11.50: no override
    if (!tcpconnected || !planesAcquired) {
        EndTcasOverride();
        return;
    }
    if (!overrideSet) {
        XPLMSetDatai(r.override, 1);
        overrideSet = XPLMGetDatai(r.override) == 1;
        if (!overrideSet) return;
    }
    int ids[kTargets] = {}, ssr[kTargets] = {}, lights[kTargets] = {}, wow[kTargets] = {}, wake[kTargets] = {};
    float x[kTargets] = {}, y[kTargets] = {}, z[kTargets] = {}, vx[kTargets] = {}, vy[kTargets] = {}, vz[kTargets] = {},
          vs[kTargets] = {}, psi[kTargets] = {}, the[kTargets] = {}, phi[kTargets] = {}, gear[kTargets] = {},
          span[kTargets] = {}, mass[kTargets] = {};
    char flight[kTargets * 8] = {}, icao[kTargets * 8] = {};
    int highest = 0;
    for (int slot = 1; slot < kSlots; ++slot) {
        if (!TrafficSlotPresent(slot)) {
            modeS[slot] = 0;
            continue;
        }
        if (modeS[slot] == 0) modeS[slot] = ChooseModeS(slot);
        highest = slot;
        const DrawnTraffic d = DrawnTrafficOf(slot);
        const Aircraft &a = AircraftList[slot];
        const TrafficModel &model = TrafficModelInfo(TrafficModelOf(slot));
        ids[slot] = modeS[slot];
        ssr[slot] = d.onGround ? kModeGround : kModeC;
        x[slot] = d.x;
        y[slot] = d.y;
        z[slot] = d.z;
        vx[slot] = d.vx;
        vy[slot] = d.vy;
        vz[slot] = d.vz;
        vs[slot] = d.vy * kFeetPerMetre * 60;
        psi[slot] = d.psi;
        the[slot] = d.theta;
        phi[slot] = d.phi;
        gear[slot] = a.gear[0];
        lights[slot] =
            (a.beacon ? 1 : 0) | (a.landing ? 2 : 0) | (a.nav ? 4 : 0) | (a.strobe ? 8 : 0) | (a.taxi ? 16 : 0);
        wow[slot] = d.onGround ? 1 : 0;
        span[slot] = model.wingSpan;
        mass[slot] = model.massKg;
        wake[slot] = static_cast<int>(model.wake);
        PutText(&flight[slot * 8], Callsigns[slot]);
        PutText(&icao[slot * 8], TrafficIcaoOf(slot));
    }
    // One call per array over slots 1..N. Slots in that range without a peer get ID 0, for which X-Plane
    // shows nothing; one that left beyond it is written once more with 0, so it goes at once rather than
    // after X-Plane's ten silent frames.
    const int count = highest > highestWritten ? highest : highestWritten;
    highestWritten = highest;
    if (count == 0) return;
    XPLMSetDatavi(r.ids, ids + 1, 1, count);
    XPLMSetDatavi(r.ssr, ssr + 1, 1, count);
    XPLMSetDatab(r.flightId, flight + 8, 8, count * 8);
    XPLMSetDatab(r.icao, icao + 8, 8, count * 8);
    const std::pair<XPLMDataRef, float *> floats[] = {
        {r.x, x},     {r.y, y},     {r.z, z},     {r.vx, vx},     {r.vy, vy},     {r.vz, vz},    {r.vs, vs},
        {r.psi, psi}, {r.the, the}, {r.phi, phi}, {r.gear, gear}, {r.span, span}, {r.mass, mass}};
    for (const auto &[ref, values] : floats)
        if (ref) XPLMSetDatavf(ref, values + 1, 1, count);
    const std::pair<XPLMDataRef, int *> ints[] = {{r.lights, lights}, {r.wow, wow}, {r.wake, wake}};
    for (const auto &[ref, values] : ints)
        if (ref) XPLMSetDatavi(ref, values + 1, 1, count);
}

void EndTcasOverride() {
    for (int &id : modeS) id = 0;
    highestWritten = 0;
    if (!overrideSet) return;
    overrideSet = false;
    const Refs &r = Find();
    if (r.override) XPLMSetDatai(r.override, 0);
}

int TcasModeSOf(int slot) { return slot >= 1 && slot < kSlots ? modeS[slot] : 0; }
