// Parsing of client messages. Numbers are read with from_chars, which ignores the process locale.
#include "server/core/ClientMessage.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

namespace server {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// Drops one trailing "|", which ends the callsign, crew and opening messages.
std::string_view WithoutTrailingBar(std::string_view text) {
    if (!text.empty() && text.back() == '|') text.remove_suffix(1);
    return text;
}

}  // namespace

std::size_t ParseUniqueId(std::string_view text, int *uniqueId) {
    std::size_t digits = 0;
    long long value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        value = value * 10 + (text[digits] - '0');
        if (value > INT_MAX) return 0;
        ++digits;
    }
    if (digits == 0) return 0;
    *uniqueId = static_cast<int>(value);
    return digits;
}

bool ParseStreamLine(std::string_view line, StreamMessage *message) {
    int id = 0;
    std::size_t consumed = ParseUniqueId(line, &id);
    if (consumed == 0) return false;
    std::string_view rest = line.substr(consumed);
    message->uniqueId = id;
    message->text = {};
    message->digest = {};
    message->position = 0;

    if (StartsWith(rest, "|Opening Connection|")) {
        // "<user>|<digest>|": the digest is the last field, so a "|" inside the user ID cannot shift it.
        std::string_view fields = WithoutTrailingBar(rest.substr(20));
        std::size_t bar = fields.rfind('|');
        if (bar == std::string_view::npos) return false;
        message->kind = StreamKind::Opening;
        message->text = fields.substr(0, bar);
        message->digest = fields.substr(bar + 1);
        return true;
    }
    if (rest == "|Closing Connection" || rest == "|Closing Connection|") {
        message->kind = StreamKind::Closing;
        return true;
    }
    if (StartsWith(rest, "|PLANE|")) {
        message->kind = StreamKind::Plane;
        message->text = rest.substr(7);
        return true;
    }
    if (StartsWith(rest, "|CALLSIGN|")) {
        message->kind = StreamKind::Callsign;
        message->text = WithoutTrailingBar(rest.substr(10));
        return true;
    }
    if (StartsWith(rest, "|VOCALLSIGN|")) {
        message->kind = StreamKind::ViewOnlyCallsign;
        message->text = WithoutTrailingBar(rest.substr(12));
        return true;
    }
    if (StartsWith(rest, "|CREWID|")) {
        std::string_view fields = WithoutTrailingBar(rest.substr(8));
        std::size_t bar = fields.rfind('|');
        if (bar == std::string_view::npos) return false;
        std::string_view position = fields.substr(bar + 1);
        int value = 0;
        auto [end, error] = std::from_chars(position.data(), position.data() + position.size(), value);
        if (error != std::errc() || end != position.data() + position.size() || value < 0) return false;
        message->kind = StreamKind::Crew;
        message->text = fields.substr(0, bar);
        message->position = value;
        return true;
    }
    if (StartsWith(rest, "|SLOTS|")) {
        // How many aircraft the receiver wants shown; the relay checks the number.
        message->kind = StreamKind::Slots;
        message->text = WithoutTrailingBar(rest.substr(7));
        return true;
    }
    if (StartsWith(rest, "|MESSAGE|")) {
        message->kind = StreamKind::Chat;
        message->text = rest.substr(9);
        return true;
    }
    return false;
}

bool ParseLocationDatagram(std::string_view datagram, LocationDatagram *location) {
    int id = 0;
    std::size_t consumed = ParseUniqueId(datagram, &id);
    if (consumed == 0) return false;
    std::string_view rest = datagram.substr(consumed);
    if (StartsWith(rest, "|LOC|")) {
        location->viewOnly = false;
        location->fields = rest.substr(5);
    } else if (StartsWith(rest, "|VOLOC|")) {
        location->viewOnly = true;
        location->fields = rest.substr(7);
    } else {
        return false;
    }
    location->uniqueId = id;
    return true;
}

bool ReadWorldPosition(std::string_view fields, double *latitude, double *longitude, double *elevation) {
    // Skip local x, y and z.
    for (int skipped = 0; skipped < 3; ++skipped) {
        std::size_t bar = fields.find('|');
        if (bar == std::string_view::npos) return false;
        fields.remove_prefix(bar + 1);
    }
    double *targets[3] = {latitude, longitude, elevation};
    for (double *target : targets) {
        std::size_t bar = fields.find('|');
        std::string_view field = fields.substr(0, bar);
        auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), *target);
        if (error != std::errc() || end != field.data() + field.size() || !std::isfinite(*target)) return false;
        if (bar == std::string_view::npos)
            fields = {};
        else
            fields.remove_prefix(bar + 1);
    }
    return std::fabs(*latitude) <= 90.0 && std::fabs(*longitude) <= 180.0 && *elevation >= -500.0 &&
           *elevation <= 30000.0;
}

std::size_t CountFields(std::string_view fields) {
    return static_cast<std::size_t>(std::count(fields.begin(), fields.end(), '|')) + 1;
}

namespace {

// The start of field `index` (from 0), or npos.
std::size_t FieldStart(std::string_view fields, std::size_t index) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        start = fields.find('|', start);
        if (start == std::string_view::npos) return start;
        ++start;
    }
    return start;
}

}  // namespace

bool ReadSenderClock(std::string_view fields, double *seconds) {
    std::size_t start = FieldStart(fields, kMinLocationFields);
    if (start == std::string_view::npos) return false;
    std::string_view field = fields.substr(start);
    field = field.substr(0, field.find('|'));
    auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), *seconds);
    return error == std::errc() && end == field.data() + field.size() && std::isfinite(*seconds);
}

void SetSenderClock(std::string &fields, double wallSeconds) {
    std::size_t start = FieldStart(fields, kMinLocationFields);
    if (start == std::string::npos) return;
    double whole = std::floor(wallSeconds);
    auto micros = static_cast<long>((wallSeconds - whole) * 1e6);
    // The plug-in writes the whole seconds as a float with nine significant digits, then the microseconds.
    char text[64];
    auto written = std::to_chars(text, text + sizeof text, static_cast<double>(static_cast<float>(whole)),
                                 std::chars_format::general, 9);
    fields.resize(start);
    fields.append(text, written.ptr);
    fields += '|';
    fields += std::to_string(micros);
}

}  // namespace server
