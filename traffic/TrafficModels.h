// The traffic model library shipped in Skorvale/models/ (made by scripts/make-models): files, sizes, data refs.
#pragma once

#include <string_view>

// Wake turbulence categories as TCAS targets carry them (sim/cockpit2/tcas/wake/wake_cat).
enum class WakeCategory { Light = 0, Medium = 1, Heavy = 2, Super = 3 };

enum TrafficModelId {
    kLightSingle,
    kLightTwin,
    kTurboprop,
    kRegionalJet,
    kNarrowBody,
    kWideBody,
    kBusinessJet,
    kHelicopter,
    kGlider,
    kTrafficModelCount
};

struct TrafficModel {
    const char *name;   // the file is Skorvale/models/<name>.obj
    float wheelHeight;  // metres from the bottom of the wheels (gear down) up to the object's origin
    float wingSpan;     // metres, for the wake a target makes
    float massKg;       // a typical mass in flight, for the same
    WakeCategory wake;  // of the model's typical type, when the ICAO type is not known
};

const TrafficModel &TrafficModelInfo(int id);   // id in [0, kTrafficModelCount); others give the default
int TrafficModelByName(std::string_view name);  // -1 if none is called so

// The model for an aircraft nothing about is recognised.
constexpr int kDefaultTrafficModel = kLightSingle;

// The data refs each model animates, in the order an instance's data array feeds them. The plug-in
// registers them before loading any model (X-Plane resolves them at load time).
constexpr int kTrafficDataRefCount = 7;
extern const char *const kTrafficDataRefs[kTrafficDataRefCount + 1];  // NULL-terminated, as XPLMCreateInstance takes
enum TrafficDataRef { kRefGear, kRefPropDeg, kRefNav, kRefBeacon, kRefStrobe, kRefLanding, kRefTaxi };
