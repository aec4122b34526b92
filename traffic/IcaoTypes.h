// The icaoTypes table: ICAO aircraft type codes, the library model drawn for each, and its wake category.
#pragma once

#include <string_view>

#include "traffic/TrafficModels.h"

struct IcaoType {
    const char *icao;  // upper case, 2 to 4 letters and digits
    int model;         // a TrafficModelId
    WakeCategory wake;
};

// The entry for a code, any case; nullptr when the table lacks it.
const IcaoType *FindIcaoType(std::string_view icao);

// The whole table, in code order.
const IcaoType *IcaoTypesBegin();
const IcaoType *IcaoTypesEnd();
