// Data references: X-Plane's names, types, sizes and writability, and the XPLMDataAccess functions.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "Geo.h"
#include "HostState.h"
#include "XPLMDataAccess.h"

namespace simhost {

namespace {

// Where the pilot's eyes sit, metres right of the aircraft's centre line: the left seat of a light
// single (a Cessna 172 cabin is about 1.0 m wide), which is X-Plane's default aircraft.
constexpr float kPilotsHeadX = -0.30f;

double Round(RefType type, double value) {
    switch (type) {
        case RefType::Int:
        case RefType::IntArray:
            if (!std::isfinite(value)) return 0;
            return static_cast<double>(static_cast<int>(std::clamp(value, -2147483648.0, 2147483647.0)));
        case RefType::Float:
        case RefType::FloatArray:
            return static_cast<double>(static_cast<float>(value));
        case RefType::Double:
            return value;
        case RefType::Data:
            if (!std::isfinite(value)) return 0;
            return static_cast<double>(static_cast<unsigned char>(static_cast<int>(std::clamp(value, 0.0, 255.0))));
    }
    return value;
}

size_t Add(HostState &s, const std::string &name, RefType type, bool writable, size_t count = 1, double initial = 0) {
    return AddDataRef(s, name, type, writable, count, initial);
}

void AddPosition(HostState &s, int plane, const std::string &x, const std::string &y, const std::string &z,
                 const std::string &lat, const std::string &lon, const std::string &el) {
    const std::string *localNames[3] = {&x, &y, &z};
    const std::string *worldNames[3] = {&lat, &lon, &el};
    for (int i = 0; i < 3; ++i) {
        size_t index = Add(s, *localNames[i], RefType::Double, true);
        s.dataRefs[index].part = PositionPart::Local;
        s.dataRefs[index].plane = plane;
        s.localIndex[plane][i] = index;
    }
    for (int i = 0; i < 3; ++i) {
        size_t index = Add(s, *worldNames[i], RefType::Double, false);
        s.dataRefs[index].part = PositionPart::World;
        s.dataRefs[index].plane = plane;
        s.worldIndex[plane][i] = index;
    }
}

void AddUserAircraft(HostState &s) {
    const std::string pos = "sim/flightmodel/position/";
    AddPosition(s, 0, pos + "local_x", pos + "local_y", pos + "local_z", pos + "latitude", pos + "longitude",
                pos + "elevation");
    for (const char *n : {"theta", "phi", "psi"}) Add(s, pos + n, RefType::Float, true);
    // The flight model's own state, which it resumes from when a plug-in stops flying the aircraft.
    size_t q = Add(s, pos + "q", RefType::FloatArray, true, 4);
    s.dataRefs[q].values[0] = 1;  // no rotation
    for (const char *n : {"local_vx", "local_vy", "local_vz"}) Add(s, pos + n, RefType::Float, true);
    Add(s, pos + "lat_ref", RefType::Float, false);
    Add(s, pos + "lon_ref", RefType::Float, false);
    for (const char *n : {"flaprat", "flap2rat", "sbrkrat", "slatrat", "swdi"})
        Add(s, std::string("sim/flightmodel/controls/") + n, RefType::Float, true);
    for (const char *n : {"FC_ptch", "FC_roll", "FC_hdng", "yolk_pitch_ratio", "yolk_roll_ratio", "yolk_heading_ratio"})
        Add(s, std::string("sim/joystick/") + n, RefType::Float, true);
    size_t gear = Add(s, "sim/aircraft/parts/acf_gear_deploy", RefType::FloatArray, true, 10);
    for (int i = 0; i < 3; ++i) s.dataRefs[gear].values[i] = 1;  // a tricycle, gear down
    Add(s, "sim/flightmodel/engine/ENGN_thro", RefType::FloatArray, true, 16);
    Add(s, "sim/flightmodel/engine/ENGN_thro_use", RefType::FloatArray, true, 16);
    for (const char *n :
         {"beacon_lights_on", "landing_lights_on", "strobe_lights_on", "nav_lights_on", "taxi_light_on"})
        Add(s, std::string("sim/cockpit/electrical/") + n, RefType::Int, true);
    Add(s, "sim/cockpit2/controls/flap_ratio", RefType::Float, true);
    for (const char *n : {"pitch_ratio", "roll_ratio", "heading_ratio"})
        Add(s, std::string("sim/flightmodel2/controls/") + n, RefType::Float, true);
}

void AddPlane(HostState &s, int n) {
    const std::string p = "sim/multiplayer/position/plane" + std::to_string(n) + "_";
    AddPosition(s, n, p + "x", p + "y", p + "z", p + "lat", p + "lon", p + "el");
    for (const char *f :
         {"the", "phi", "psi", "flap_ratio", "flap_ratio2", "spoiler_ratio", "speedbrake_ratio", "wing_sweep"})
        Add(s, p + f, RefType::Float, true);
    // X-Plane 12 still finds the per-aircraft yoke names, but logs that each has been replaced by an
    // element of one array per control.
    const char *yokes[3][2] = {
        {"yolk_pitch", "yoke_pitch_ratio"}, {"yolk_roll", "yoke_roll_ratio"}, {"yolk_yaw", "yoke_heading_ratio"}};
    for (const auto &yoke : yokes) {
        size_t index = Add(s, p + yoke[0], RefType::Float, true);
        s.dataRefs[index].replacedBy = std::string("sim/multiplayer/controls/") + yoke[1];
    }
    // X-Plane's own spelling: only plane 1 has "slat_ratio"; the others have "sla1_ratio".
    Add(s, p + (n == 1 ? "slat_ratio" : "sla1_ratio"), RefType::Float, true);
    Add(s, p + "gear_deploy", RefType::FloatArray, true, 10);
    Add(s, p + "throttle", RefType::FloatArray, true, 16);
    for (const char *f :
         {"beacon_lights_on", "landing_lights_on", "nav_lights_on", "strobe_lights_on", "taxi_light_on"})
        Add(s, p + f, RefType::Int, true);
}

// Stores without side effects, rounding to the ref's type.
void Put(DataRefEntry &e, int index, double value) { e.values[static_cast<size_t>(index)] = Round(e.type, value); }

}  // namespace

size_t AddDataRef(HostState &s, const std::string &name, RefType type, bool writable, size_t count, double initial) {
    DataRefEntry e;
    e.name = name;
    e.type = type;
    e.writable = writable;
    e.values.assign(count, Round(type, initial));
    s.dataRefIndex[name] = s.dataRefs.size();
    s.dataRefs.push_back(std::move(e));
    return s.dataRefs.size() - 1;
}

bool WriteAllowed(HostState &s, const DataRefEntry &e, const char *call) {
    if (e.guard == WriteGuard::None) return true;
    const char *why = nullptr;
    if (s.planesHolder != s.currentPlugin) {
        why = "no access to the multiplayer aircraft";
    } else if (e.guard == WriteGuard::TcasOverride && Value(s, "sim/operation/override/override_TCAS") == 0) {
        why = "override_TCAS is not set";
    }
    if (!why) return true;
    ++s.planes.refusedCount;
    if (s.planes.refused.size() < kRefusedCallsKept)
        s.planes.refused.push_back({s.now, std::string(call) + "(" + e.name + "): " + why});
    return false;
}

void BuildDataRefs(HostState &s) {
    s.dataRefs.clear();
    s.dataRefIndex.clear();
    AddUserAircraft(s);
    Add(s, "sim/graphics/view/view_type", RefType::Int, false, 1, 1000);
    Add(s, "sim/graphics/view/pilots_head_x", RefType::Float, true, 1, kPilotsHeadX);
    Add(s, "sim/operation/override/override_planepath", RefType::IntArray, true, 20);
    Add(s, "sim/time/total_running_time_sec", RefType::Float, false);
    for (int n = 1; n <= 19; ++n) AddPlane(s, n);
    // X-Plane 12's successors of the per-aircraft yoke names, indexed by aircraft (0 the user's).
    for (const char *name : {"yoke_pitch_ratio", "yoke_roll_ratio", "yoke_heading_ratio"}) {
        size_t index = Add(s, std::string("sim/multiplayer/controls/") + name, RefType::FloatArray, true, 20);
        s.dataRefs[index].since = 12;
    }
    AddTcasDataRefs(s);
    AddViewDataRefs(s);
}

void RecordReadOnlyWrite(HostState &s, const DataRefEntry &e) {
    ++s.readOnlyWriteCount;
    if (s.readOnlyWrites.size() < kReadOnlyWritesKept &&
        std::find(s.readOnlyWrites.begin(), s.readOnlyWrites.end(), e.name) == s.readOnlyWrites.end())
        s.readOnlyWrites.push_back(e.name);
}

DataRefEntry *FindEntry(HostState &s, const std::string &name) {
    auto it = s.dataRefIndex.find(name);
    return it == s.dataRefIndex.end() ? nullptr : &s.dataRefs[it->second];
}

double &Value(HostState &s, const std::string &name, int index) {
    DataRefEntry *e = FindEntry(s, name);
    if (!e) throw std::logic_error("simhost: no data ref " + name);
    return e->values.at(static_cast<size_t>(index));
}

DataRefEntry *EntryFromHandle(XPLMDataRef ref) {
    HostState &s = State();
    uintptr_t n = reinterpret_cast<uintptr_t>(ref);
    if (n == 0 || n > s.dataRefs.size()) return nullptr;
    DataRefEntry &e = s.dataRefs[n - 1];
    // An unregistered ref keeps its place (handles stay numbers) but is gone.
    return e.name.empty() ? nullptr : &e;
}

void SyncWorldFromLocal(HostState &s, int plane) {
    double world[3];
    LocalToWorldAbout(s.latRef, s.lonRef, s.dataRefs[s.localIndex[plane][0]].values[0],
                      s.dataRefs[s.localIndex[plane][1]].values[0], s.dataRefs[s.localIndex[plane][2]].values[0],
                      world[0], world[1], world[2]);
    for (int i = 0; i < 3; ++i) s.dataRefs[s.worldIndex[plane][i]].values[0] = world[i];
}

void SyncLocalFromWorld(HostState &s, int plane) {
    double local[3];
    WorldToLocalAbout(s.latRef, s.lonRef, s.dataRefs[s.worldIndex[plane][0]].values[0],
                      s.dataRefs[s.worldIndex[plane][1]].values[0], s.dataRefs[s.worldIndex[plane][2]].values[0],
                      local[0], local[1], local[2]);
    for (int i = 0; i < 3; ++i) s.dataRefs[s.localIndex[plane][i]].values[0] = local[i];
}

void StoreValue(HostState &s, DataRefEntry &e, int index, double value) {
    Put(e, index, value);
    if (e.part == PositionPart::Local) SyncWorldFromLocal(s, e.plane);
    if (e.part == PositionPart::World) SyncLocalFromWorld(s, e.plane);
}

}  // namespace simhost

// ---- The SDK functions ------------------------------------------------------------------------------
// X-Plane's accessors only work for the types a ref publishes: an int ref read as float gives 0, and a
// double ref publishes float and double (converted) access. Writes to read-only refs are ignored.

using simhost::DataRefEntry;
using simhost::RefType;

namespace {

bool IsScalarFloat(const DataRefEntry &e) { return e.type == RefType::Float || e.type == RefType::Double; }

void StoreScalar(XPLMDataRef ref, bool typeOk(const DataRefEntry &), double value, const char *call) {
    DataRefEntry *e = simhost::EntryFromHandle(ref);
    if (!e || e->published || !typeOk(*e)) return;
    simhost::HostState &s = simhost::State();
    if (!e->writable) return simhost::RecordReadOnlyWrite(s, *e);
    if (!simhost::WriteAllowed(s, *e, call)) return;
    simhost::StoreValue(s, *e, 0, value);
    simhost::NoteTcasWrite(s, *e, 0);
}

// Reads (or, with `store`, writes) a clipped slice [offset, offset + count) of an array ref.
template <typename T>
int VectorAccess(XPLMDataRef ref, RefType wanted, T *values, int offset, int count, bool store, const char *call) {
    DataRefEntry *e = simhost::EntryFromHandle(ref);
    if (!e || e->published || e->type != wanted) return 0;
    int size = static_cast<int>(e->values.size());
    if (!store && values == nullptr) return size;
    if (values == nullptr || offset < 0 || count <= 0 || offset >= size) return 0;
    int n = std::min(count, size - offset);
    if (store) {
        simhost::HostState &s = simhost::State();
        if (!e->writable) {
            simhost::RecordReadOnlyWrite(s, *e);
            return 0;
        }
        if (!simhost::WriteAllowed(s, *e, call)) return 0;
        for (int i = 0; i < n; ++i) {
            simhost::StoreValue(s, *e, offset + i, static_cast<double>(values[i]));
            simhost::NoteTcasWrite(s, *e, offset + i);
        }
    } else {
        for (int i = 0; i < n; ++i) values[i] = static_cast<T>(e->values[static_cast<size_t>(offset + i)]);
    }
    return n;
}

// The plug-in's own accessors of a ref it published, called as that plug-in.
template <typename F, typename... A>
auto CallPublished(const DataRefEntry &e, F f, void *refcon, A... args) {
    simhost::PluginScope scope(simhost::State(), e.owner);
    return f(refcon, args...);
}

}  // namespace

extern "C" {

XPLMDataRef XPLMFindDataRef(const char *inDataRefName) {
    if (!inDataRefName) return nullptr;
    simhost::HostState &s = simhost::State();
    auto it = s.dataRefIndex.find(inDataRefName);
    if (it == s.dataRefIndex.end()) return nullptr;
    const DataRefEntry &e = s.dataRefs[it->second];
    if (e.since > static_cast<int>(s.version)) return nullptr;
    if (s.version == simhost::XPlaneVersion::XPlane12 && !e.replacedBy.empty())
        simhost::WriteLog(s, "Dataref " + e.name + " has been replaced by " + e.replacedBy + "\n");
    return reinterpret_cast<XPLMDataRef>(it->second + 1);
}

int XPLMCanWriteDataRef(XPLMDataRef inDataRef) {
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    return e && e->writable ? 1 : 0;
}

XPLMDataTypeID XPLMGetDataRefTypes(XPLMDataRef inDataRef) {
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    if (!e) return xplmType_Unknown;
    if (e->published) return e->accessors.types;
    switch (e->type) {
        case RefType::Int:
            return xplmType_Int;
        case RefType::Float:
            return xplmType_Float;
        case RefType::Double:
            return xplmType_Float | xplmType_Double;
        case RefType::FloatArray:
            return xplmType_FloatArray;
        case RefType::IntArray:
            return xplmType_IntArray;
        case RefType::Data:
            return xplmType_Data;
    }
    return xplmType_Unknown;
}

int XPLMGetDatai(XPLMDataRef inDataRef) {
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    if (e && e->published)
        return e->accessors.readInt ? CallPublished(*e, e->accessors.readInt, e->accessors.readRefcon) : 0;
    return e && e->type == RefType::Int ? static_cast<int>(e->values[0]) : 0;
}

void XPLMSetDatai(XPLMDataRef inDataRef, int inValue) {
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    if (e && e->published) {
        if (e->accessors.writeInt) CallPublished(*e, e->accessors.writeInt, e->accessors.writeRefcon, inValue);
        return;
    }
    StoreScalar(
        inDataRef, [](const DataRefEntry &e) { return e.type == RefType::Int; }, inValue, "XPLMSetDatai");
}

float XPLMGetDataf(XPLMDataRef inDataRef) {
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    if (e && e->published)
        return e->accessors.readFloat ? CallPublished(*e, e->accessors.readFloat, e->accessors.readRefcon) : 0.0f;
    return e && IsScalarFloat(*e) ? static_cast<float>(e->values[0]) : 0.0f;
}

void XPLMSetDataf(XPLMDataRef inDataRef, float inValue) {
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    if (e && e->published) {
        if (e->accessors.writeFloat) CallPublished(*e, e->accessors.writeFloat, e->accessors.writeRefcon, inValue);
        return;
    }
    StoreScalar(inDataRef, IsScalarFloat, inValue, "XPLMSetDataf");
}

double XPLMGetDatad(XPLMDataRef inDataRef) {
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    if (e && e->published)
        return e->accessors.readDouble ? CallPublished(*e, e->accessors.readDouble, e->accessors.readRefcon) : 0.0;
    return e && e->type == RefType::Double ? e->values[0] : 0.0;
}

void XPLMSetDatad(XPLMDataRef inDataRef, double inValue) {
    StoreScalar(
        inDataRef, [](const DataRefEntry &e) { return e.type == RefType::Double; }, inValue, "XPLMSetDatad");
}

int XPLMGetDatavi(XPLMDataRef inDataRef, int *outValues, int inOffset, int inMax) {
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    if (e && e->published)
        return e->accessors.readIntArray
                   ? CallPublished(*e, e->accessors.readIntArray, e->accessors.readRefcon, outValues, inOffset, inMax)
                   : 0;
    return VectorAccess(inDataRef, RefType::IntArray, outValues, inOffset, inMax, false, "XPLMGetDatavi");
}

void XPLMSetDatavi(XPLMDataRef inDataRef, int *inValues, int inoffset, int inCount) {
    VectorAccess(inDataRef, RefType::IntArray, inValues, inoffset, inCount, true, "XPLMSetDatavi");
}

int XPLMGetDatavf(XPLMDataRef inDataRef, float *outValues, int inOffset, int inMax) {
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    if (e && e->published)
        return e->accessors.readFloatArray
                   ? CallPublished(*e, e->accessors.readFloatArray, e->accessors.readRefcon, outValues, inOffset, inMax)
                   : 0;
    return VectorAccess(inDataRef, RefType::FloatArray, outValues, inOffset, inMax, false, "XPLMGetDatavf");
}

void XPLMSetDatavf(XPLMDataRef inDataRef, float *inValues, int inoffset, int inCount) {
    VectorAccess(inDataRef, RefType::FloatArray, inValues, inoffset, inCount, true, "XPLMSetDatavf");
}

int XPLMGetDatab(XPLMDataRef inDataRef, void *outValue, int inOffset, int inMaxBytes) {
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    if (e && e->published)
        return e->accessors.readData
                   ? CallPublished(*e, e->accessors.readData, e->accessors.readRefcon, outValue, inOffset, inMaxBytes)
                   : 0;
    return VectorAccess(inDataRef, RefType::Data, static_cast<unsigned char *>(outValue), inOffset, inMaxBytes, false,
                        "XPLMGetDatab");
}

void XPLMSetDatab(XPLMDataRef inDataRef, void *inValue, int inOffset, int inLength) {
    VectorAccess(inDataRef, RefType::Data, static_cast<unsigned char *>(inValue), inOffset, inLength, true,
                 "XPLMSetDatab");
}

// A plug-in's own data: the host keeps the name and the accessors and calls them as that plug-in.
// A name already taken gives NULL (X-Plane keeps the first owner).
XPLMDataRef XPLMRegisterDataAccessor(const char *inDataName, XPLMDataTypeID inDataType, int inIsWritable,
                                     XPLMGetDatai_f inReadInt, XPLMSetDatai_f inWriteInt, XPLMGetDataf_f inReadFloat,
                                     XPLMSetDataf_f inWriteFloat, XPLMGetDatad_f inReadDouble,
                                     XPLMSetDatad_f inWriteDouble, XPLMGetDatavi_f inReadIntArray,
                                     XPLMSetDatavi_f inWriteIntArray, XPLMGetDatavf_f inReadFloatArray,
                                     XPLMSetDatavf_f inWriteFloatArray, XPLMGetDatab_f inReadData,
                                     XPLMSetDatab_f inWriteData, void *inReadRefcon, void *inWriteRefcon) {
    simhost::HostState &s = simhost::State();
    if (!inDataName || !*inDataName || s.dataRefIndex.count(inDataName)) return nullptr;
    size_t index = simhost::AddDataRef(s, inDataName, RefType::Float, inIsWritable != 0, 0);
    DataRefEntry &e = s.dataRefs[index];
    e.published = true;
    e.owner = s.currentPlugin;
    e.accessors = {inDataType,        inReadInt,     inWriteInt,     inReadFloat,     inWriteFloat,
                   inReadDouble,      inWriteDouble, inReadIntArray, inWriteIntArray, inReadFloatArray,
                   inWriteFloatArray, inReadData,    inWriteData,    inReadRefcon,    inWriteRefcon};
    if (!inIsWritable) {
        e.accessors.writeInt = nullptr;
        e.accessors.writeFloat = nullptr;
        e.accessors.writeDouble = nullptr;
        e.accessors.writeIntArray = nullptr;
        e.accessors.writeFloatArray = nullptr;
        e.accessors.writeData = nullptr;
    }
    return reinterpret_cast<XPLMDataRef>(index + 1);
}

void XPLMUnregisterDataAccessor(XPLMDataRef inDataRef) {
    simhost::HostState &s = simhost::State();
    DataRefEntry *e = simhost::EntryFromHandle(inDataRef);
    if (!e || !e->published || e->owner != s.currentPlugin) return;
    s.dataRefIndex.erase(e->name);
    e->name.clear();
    e->accessors = {};
}

}  // extern "C"
