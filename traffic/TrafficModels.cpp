// The traffic model table: what the plug-in needs to know of each generated model.
#include "traffic/TrafficModels.h"

namespace {

// The wheel heights are those scripts/make-models builds each model to (a test holds the two together).
const TrafficModel kModels[kTrafficModelCount] = {
    {"light_single", 1.25f, 11.0f, 1000.0f, WakeCategory::Light},
    {"light_twin", 1.35f, 12.4f, 2300.0f, WakeCategory::Light},
    {"turboprop", 2.2f, 27.0f, 20000.0f, WakeCategory::Medium},
    {"regional_jet", 2.3f, 24.9f, 33000.0f, WakeCategory::Medium},
    {"narrow_body", 3.0f, 35.8f, 65000.0f, WakeCategory::Medium},
    {"wide_body", 4.3f, 60.9f, 250000.0f, WakeCategory::Heavy},
    {"business_jet", 1.5f, 14.4f, 9000.0f, WakeCategory::Medium},
    {"helicopter", 1.3f, 10.0f, 1100.0f, WakeCategory::Light},
    {"glider", 0.75f, 15.0f, 450.0f, WakeCategory::Light},
};

}  // namespace

const char *const kTrafficDataRefs[kTrafficDataRefCount + 1] = {
    "skorvale/traffic/gear",   "skorvale/traffic/prop_deg", "skorvale/traffic/nav",  "skorvale/traffic/beacon",
    "skorvale/traffic/strobe", "skorvale/traffic/landing",  "skorvale/traffic/taxi", nullptr};

const TrafficModel &TrafficModelInfo(int id) {
    return id >= 0 && id < kTrafficModelCount ? kModels[id] : kModels[kDefaultTrafficModel];
}

int TrafficModelByName(std::string_view name) {
    for (int i = 0; i < kTrafficModelCount; i++)
        if (name == kModels[i].name) return i;
    return -1;
}
