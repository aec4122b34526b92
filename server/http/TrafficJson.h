// The JSON the map page reads: the aircraft of a traffic snapshot, and chat lines.
#pragma once

#include <string>
#include <string_view>

#include "server/core/TrafficObserver.h"

namespace server {

// {"aircraft":[{"key","callsign","model","lat","lon","alt","heading"}]}: position in degrees (longitude
// in -180..180), altitude in metres, true heading in degrees. Aircraft whose position is not on the earth
// (as the relay decides) are left out; a callsign of "BLANK" becomes "". Bytes that are not UTF-8 are replaced.
std::string TrafficJson(const TrafficSnapshot &snapshot);

// {"callsign","text"}.
std::string ChatJson(const ChatLine &line);

// The model's name from its path: the file name without its ".acf" ending.
std::string ModelName(std::string_view path);

}  // namespace server
