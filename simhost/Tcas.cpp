// The TCAS override: X-Plane's 64 target slots, writable by the plug-in holding the aircraft while it overrides.
#include "Geo.h"
#include "HostState.h"

namespace simhost {

namespace {

const std::string kTcas = "sim/cockpit2/tcas/";
const char *const kOverride = "sim/operation/override/override_TCAS";
const char *const kMapLayer = "sim/operation/override/override_multiplayer_map_layer";

// X-Plane forgets a target slot that was not written for this many frames, and zeroes its ID.
constexpr long kSilentFrames = 10;
constexpr long kNever = -1000000;

void AddArray(HostState &s, const std::string &name, RefType type, bool writable, int stride = 1) {
    size_t index = AddDataRef(s, kTcas + name, type, writable, static_cast<size_t>(kTcasSlots * stride));
    s.dataRefs[index].guard = writable ? WriteGuard::TcasOverride : WriteGuard::None;
    s.dataRefs[index].tcasStride = stride;
}

// A slot written lately with an ID: with ID 0 X-Plane derives and shows nothing for it.
bool Live(HostState &s, int slot, bool overridden) {
    return overridden && s.frameCount - s.tcasWrittenFrame[static_cast<size_t>(slot)] < kSilentFrames &&
           Value(s, kTcas + "targets/modeS_id", slot) != 0;
}

std::string Text(HostState &s, const std::string &name, int slot) {
    const std::vector<double> &bytes = FindEntry(s, kTcas + name)->values;
    std::string out;
    for (int i = 0; i < 8; ++i) {
        char c = static_cast<char>(static_cast<int>(bytes[static_cast<size_t>(slot * 8 + i)]));
        if (c == '\0') break;
        out += c;
    }
    return out;
}

}  // namespace

void AddTcasDataRefs(HostState &s) {
    s.tcasWrittenFrame.assign(kTcasSlots, kNever);
    AddDataRef(s, kOverride, RefType::Int, true);
    FindEntry(s, kOverride)->guard = WriteGuard::PlanesHolder;
    AddDataRef(s, kMapLayer, RefType::Int, true);
    FindEntry(s, kMapLayer)->guard = WriteGuard::TcasOverride;
    AddDataRef(s, kTcas + "indicators/tcas_num_acf", RefType::Int, false);
    for (const char *n : {"relative_bearing_degs", "relative_distance_mtrs", "relative_altitude_mtrs"})
        AddArray(s, std::string("indicators/") + n, RefType::FloatArray, true);
    for (const char *n : {"modeS_id", "modeC_code", "ssr_mode"})
        AddArray(s, std::string("targets/") + n, RefType::IntArray, true);
    AddArray(s, "targets/flight_id", RefType::Data, true, 8);
    AddArray(s, "targets/icao_type", RefType::Data, true, 8);
    for (const char *n : {"x", "y", "z", "vx", "vy", "vz", "vertical_speed", "psi", "the", "phi", "gear_deploy",
                          "flap_ratio", "flap_ratio2", "speedbrake_ratio", "slat_ratio", "wing_sweep", "throttle"})
        AddArray(s, std::string("position/") + n, RefType::FloatArray, true);
    for (const char *n : {"weight_on_wheels", "lights"})
        AddArray(s, std::string("position/") + n, RefType::IntArray, true);
    for (const char *n : {"lat", "lon", "ele", "hpath", "vpath", "V_msc"})
        AddArray(s, std::string("position/") + n, RefType::FloatArray, false);
    for (const char *n : {"wing_span_m", "wing_area_m2", "mass_kg", "aoa", "lift_N"})
        AddArray(s, std::string("wake/") + n, RefType::FloatArray, true);
    AddArray(s, "wake/wake_cat", RefType::IntArray, true);
}

void NoteTcasWrite(HostState &s, const DataRefEntry &e, int index) {
    if (e.tcasStride <= 0) return;
    s.tcasWrittenFrame[static_cast<size_t>(index / e.tcasStride)] = s.frameCount;
}

// After the flight loops, as X-Plane does each frame: slots left silent are dropped (ID zeroed), the
// count of targets is published, and the world positions of the live ones are derived.
void EndFrameTcas(HostState &s) {
    const bool overridden = Value(s, kOverride) != 0;
    DataRefEntry *ids = FindEntry(s, kTcas + "targets/modeS_id");
    int live = 0;
    for (int slot = 1; slot < kTcasSlots; ++slot) {
        if (!Live(s, slot, overridden)) {
            if (overridden) ids->values[static_cast<size_t>(slot)] = 0;
            continue;
        }
        ++live;
        double lat, lon, ele;
        LocalToWorldAbout(s.latRef, s.lonRef, Value(s, kTcas + "position/x", slot),
                          Value(s, kTcas + "position/y", slot), Value(s, kTcas + "position/z", slot), lat, lon, ele);
        Value(s, kTcas + "position/lat", slot) = static_cast<float>(lat);
        Value(s, kTcas + "position/lon", slot) = static_cast<float>(lon);
        Value(s, kTcas + "position/ele", slot) = static_cast<float>(ele);
    }
    Value(s, kTcas + "indicators/tcas_num_acf") = overridden ? live : 0;
}

// The override belongs to the plug-in holding the aircraft: it ends when they are let go.
void EndTcasOverride(HostState &s) {
    Value(s, kOverride) = 0;
    Value(s, kMapLayer) = 0;
}

TcasInfo Host::Tcas() const {
    HostState &s = *state_;
    TcasInfo info;
    info.overridden = Value(s, kOverride) != 0;
    for (int slot = 1; slot < kTcasSlots; ++slot) {
        if (!Live(s, slot, info.overridden)) continue;
        TcasTarget t;
        t.index = slot;
        t.modeS = static_cast<int>(Value(s, kTcas + "targets/modeS_id", slot));
        t.flightId = Text(s, "targets/flight_id", slot);
        t.icaoType = Text(s, "targets/icao_type", slot);
        t.ssrMode = static_cast<int>(Value(s, kTcas + "targets/ssr_mode", slot));
        t.x = static_cast<float>(Value(s, kTcas + "position/x", slot));
        t.y = static_cast<float>(Value(s, kTcas + "position/y", slot));
        t.z = static_cast<float>(Value(s, kTcas + "position/z", slot));
        LocalToWorldAbout(s.latRef, s.lonRef, t.x, t.y, t.z, t.latitude, t.longitude, t.elevation);
        info.targets.push_back(std::move(t));
    }
    return info;
}

}  // namespace simhost
