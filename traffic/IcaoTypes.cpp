// The icaoTypes table: common ICAO type designators (ICAO Doc 8643) and the model and wake category of each.
#include "traffic/IcaoTypes.h"

#include <cctype>
#include <cstring>

namespace {

constexpr WakeCategory L = WakeCategory::Light;
constexpr WakeCategory M = WakeCategory::Medium;
constexpr WakeCategory H = WakeCategory::Heavy;
constexpr WakeCategory J = WakeCategory::Super;

// Sorted by code, so a lookup is a binary search (checked by a test).
const IcaoType kIcaoTypes[] = {
    {"A124", kWideBody, H},    {"A139", kHelicopter, M},  {"A20N", kNarrowBody, M},  {"A21N", kNarrowBody, M},
    {"A306", kWideBody, H},    {"A310", kWideBody, H},    {"A318", kNarrowBody, M},  {"A319", kNarrowBody, M},
    {"A320", kNarrowBody, M},  {"A321", kNarrowBody, M},  {"A332", kWideBody, H},    {"A333", kWideBody, H},
    {"A339", kWideBody, H},    {"A343", kWideBody, H},    {"A346", kWideBody, H},    {"A359", kWideBody, H},
    {"A35K", kWideBody, H},    {"A388", kWideBody, J},    {"AS32", kHelicopter, M},  {"AS50", kHelicopter, L},
    {"AT43", kTurboprop, M},   {"AT45", kTurboprop, M},   {"AT72", kTurboprop, M},   {"AT75", kTurboprop, M},
    {"AT76", kTurboprop, M},   {"B06", kHelicopter, L},   {"B190", kTurboprop, M},   {"B350", kTurboprop, L},
    {"B38M", kNarrowBody, M},  {"B39M", kNarrowBody, M},  {"B407", kHelicopter, L},  {"B412", kHelicopter, L},
    {"B429", kHelicopter, L},  {"B712", kNarrowBody, M},  {"B722", kNarrowBody, M},  {"B733", kNarrowBody, M},
    {"B734", kNarrowBody, M},  {"B735", kNarrowBody, M},  {"B736", kNarrowBody, M},  {"B737", kNarrowBody, M},
    {"B738", kNarrowBody, M},  {"B739", kNarrowBody, M},  {"B744", kWideBody, H},    {"B748", kWideBody, H},
    {"B752", kNarrowBody, M},  {"B753", kNarrowBody, M},  {"B762", kWideBody, H},    {"B763", kWideBody, H},
    {"B764", kWideBody, H},    {"B772", kWideBody, H},    {"B773", kWideBody, H},    {"B77L", kWideBody, H},
    {"B77W", kWideBody, H},    {"B788", kWideBody, H},    {"B789", kWideBody, H},    {"B78X", kWideBody, H},
    {"BCS1", kRegionalJet, M}, {"BCS3", kRegionalJet, M}, {"BE20", kTurboprop, L},   {"BE36", kLightSingle, L},
    {"BE58", kLightTwin, L},   {"BE9L", kTurboprop, L},   {"C152", kLightSingle, L}, {"C172", kLightSingle, L},
    {"C182", kLightSingle, L}, {"C206", kLightSingle, L}, {"C208", kTurboprop, L},   {"C25A", kBusinessJet, L},
    {"C25B", kBusinessJet, L}, {"C25C", kBusinessJet, L}, {"C310", kLightTwin, L},   {"C340", kLightTwin, L},
    {"C510", kBusinessJet, L}, {"C525", kBusinessJet, L}, {"C560", kBusinessJet, M}, {"C56X", kBusinessJet, M},
    {"C680", kBusinessJet, M}, {"C68A", kBusinessJet, M}, {"C700", kBusinessJet, M}, {"C750", kBusinessJet, M},
    {"CL30", kBusinessJet, M}, {"CL35", kBusinessJet, M}, {"CL60", kBusinessJet, M}, {"CRJ1", kRegionalJet, M},
    {"CRJ2", kRegionalJet, M}, {"CRJ7", kRegionalJet, M}, {"CRJ9", kRegionalJet, M}, {"CRJX", kRegionalJet, M},
    {"DA40", kLightSingle, L}, {"DA42", kLightTwin, L},   {"DA62", kLightTwin, L},   {"DC10", kWideBody, H},
    {"DC3", kLightTwin, M},    {"DC93", kNarrowBody, M},  {"DG1T", kGlider, L},      {"DH8A", kTurboprop, M},
    {"DH8C", kTurboprop, M},   {"DH8D", kTurboprop, M},   {"DHC2", kLightSingle, L}, {"DHC6", kTurboprop, L},
    {"DISC", kGlider, L},      {"E135", kRegionalJet, M}, {"E145", kRegionalJet, M}, {"E170", kRegionalJet, M},
    {"E175", kRegionalJet, M}, {"E190", kRegionalJet, M}, {"E195", kRegionalJet, M}, {"E290", kRegionalJet, M},
    {"E295", kRegionalJet, M}, {"E35L", kBusinessJet, M}, {"E50P", kBusinessJet, L}, {"E55P", kBusinessJet, M},
    {"EA50", kBusinessJet, L}, {"EC30", kHelicopter, L},  {"EC35", kHelicopter, L},  {"EC45", kHelicopter, L},
    {"F100", kRegionalJet, M}, {"F2TH", kBusinessJet, M}, {"F900", kBusinessJet, M}, {"FA7X", kBusinessJet, M},
    {"GL5T", kBusinessJet, M}, {"GL7T", kBusinessJet, M}, {"GLEX", kBusinessJet, M}, {"GLF4", kBusinessJet, M},
    {"GLF5", kBusinessJet, M}, {"GLF6", kBusinessJet, M}, {"GLID", kGlider, L},      {"H25B", kBusinessJet, M},
    {"H47", kHelicopter, M},   {"H60", kHelicopter, M},   {"HDJT", kBusinessJet, L}, {"JS41", kTurboprop, M},
    {"KODI", kLightSingle, L}, {"LJ35", kBusinessJet, M}, {"LJ45", kBusinessJet, M}, {"LJ75", kBusinessJet, M},
    {"LS8", kGlider, L},       {"MD11", kWideBody, H},    {"MD82", kNarrowBody, M},  {"MD83", kNarrowBody, M},
    {"MD88", kNarrowBody, M},  {"MD90", kNarrowBody, M},  {"P28A", kLightSingle, L}, {"P28R", kLightSingle, L},
    {"P46T", kLightSingle, L}, {"PA34", kLightTwin, L},   {"PA44", kLightTwin, L},   {"PC12", kTurboprop, L},
    {"PC24", kBusinessJet, L}, {"PC6T", kLightSingle, L}, {"R22", kHelicopter, L},   {"R44", kHelicopter, L},
    {"R66", kHelicopter, L},   {"RJ85", kRegionalJet, M}, {"S76", kHelicopter, M},   {"SB20", kTurboprop, M},
    {"SF34", kTurboprop, M},   {"SF50", kBusinessJet, L}, {"SR20", kLightSingle, L}, {"SR22", kLightSingle, L},
    {"SU95", kRegionalJet, M}, {"TBM7", kTurboprop, L},   {"TBM8", kTurboprop, L},   {"TBM9", kTurboprop, L},
    {"UH1", kHelicopter, L},   {"VENT", kGlider, L},
};

bool Less(const char *a, std::string_view b) {
    for (size_t i = 0;; i++) {
        char ca = a[i];
        char cb = i < b.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(b[i]))) : '\0';
        if (ca != cb || ca == '\0') return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb);
    }
}

}  // namespace

const IcaoType *FindIcaoType(std::string_view icao) {
    if (icao.empty() || icao.size() > 4) return nullptr;
    size_t lo = 0, hi = sizeof kIcaoTypes / sizeof kIcaoTypes[0];
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (Less(kIcaoTypes[mid].icao, icao)) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (lo == sizeof kIcaoTypes / sizeof kIcaoTypes[0]) return nullptr;
    const IcaoType &t = kIcaoTypes[lo];
    if (std::strlen(t.icao) != icao.size()) return nullptr;
    for (size_t i = 0; i < icao.size(); i++)
        if (t.icao[i] != std::toupper(static_cast<unsigned char>(icao[i]))) return nullptr;
    return &t;
}

// For the test that the table stays sorted.
const IcaoType *IcaoTypesBegin() { return kIcaoTypes; }
const IcaoType *IcaoTypesEnd() { return kIcaoTypes + sizeof kIcaoTypes / sizeof kIcaoTypes[0]; }
