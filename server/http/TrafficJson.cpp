// Rendering traffic snapshots and chat lines as JSON for the map page.
#include "server/http/TrafficJson.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "server/core/ClientMessage.h"

namespace server {

namespace {

using nlohmann::json;

// Field `index` (from 0) of a location's "|"-separated fields, as a finite number.
bool ReadField(std::string_view fields, int index, double *value) {
    for (int skipped = 0; skipped < index; ++skipped) {
        std::size_t bar = fields.find('|');
        if (bar == std::string_view::npos) return false;
        fields.remove_prefix(bar + 1);
    }
    std::string_view field = fields.substr(0, fields.find('|'));
    auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), *value);
    return error == std::errc() && end == field.data() + field.size() && std::isfinite(*value);
}

std::string Shown(const std::string &text) { return text == "BLANK" ? std::string() : text; }

// Client texts may hold any bytes; the page gets U+FFFD for what is not UTF-8 rather than no data at all.
std::string Dump(const json &value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

std::string ModelName(std::string_view path) {
    std::size_t slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.size() > 4) {
        std::string_view ending = name.substr(name.size() - 4);
        bool acf =
            ending[0] == '.' && (ending[1] | 0x20) == 'a' && (ending[2] | 0x20) == 'c' && (ending[3] | 0x20) == 'f';
        if (acf) name.remove_suffix(4);
    }
    return name == "BLANK" ? std::string() : std::string(name);
}

std::string TrafficJson(const TrafficSnapshot &snapshot) {
    json aircraft = json::array();
    for (const AircraftSighting &sighting : snapshot.aircraft) {
        // Fields 4 to 6 are latitude, longitude and elevation, field 9 the true heading.
        double latitude = 0, longitude = 0, elevation = 0, heading = 0;
        if (!ReadWorldPosition(sighting.location, &latitude, &longitude, &elevation)) continue;
        if (!ReadField(sighting.location, 8, &heading)) heading = 0;
        // Rounded to what a map can show (about 0.1 m, 0.1 degree, 1 cm), which keeps the event stream small.
        // Dividing by the power of ten gives the double nearest the decimal, so it prints short.
        auto round = [](double value, double perUnit) { return std::round(value * perUnit) / perUnit; };
        longitude = round(std::remainder(longitude, 360.0), 1e6);
        latitude = round(latitude, 1e6);
        elevation = round(elevation, 100);
        heading = round(std::fmod(std::fmod(heading, 360.0) + 360.0, 360.0), 10);
        if (heading >= 360.0) heading = 0;
        aircraft.push_back({{"key", sighting.key},
                            {"callsign", Shown(sighting.callsign)},
                            {"model", ModelName(sighting.plane)},
                            {"lat", latitude},
                            {"lon", longitude},
                            {"alt", elevation},
                            {"heading", heading}});
    }
    return Dump(json{{"aircraft", std::move(aircraft)}});
}

std::string ChatJson(const ChatLine &line) {
    return Dump(json{{"callsign", Shown(line.callsign)}, {"text", line.text}});
}

}  // namespace server
