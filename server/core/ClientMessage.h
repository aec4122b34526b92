// Parsing of what a plug-in sends: its stream lines and its location datagrams.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace server {

enum class StreamKind { Opening, Closing, Plane, Callsign, ViewOnlyCallsign, Crew, Chat, Slots };

// One stream line from a client. The views point into the parsed line.
struct StreamMessage {
    StreamKind kind = StreamKind::Closing;
    int uniqueId = 0;
    std::string_view text;    // user ID, model path, callsign, crew ID, chat text or number of slots
    std::string_view digest;  // opening message only
    int position = 0;         // crew message only: the cockpit position
};

// Reads the unique ID at the start of a message: decimal digits that fit a non-negative int.
// Returns the number of characters consumed, 0 when there is no such ID.
std::size_t ParseUniqueId(std::string_view text, int *uniqueId);

// Parses one stream line (without its line end). Returns false for anything that is not one of the
// messages a plug-in sends.
bool ParseStreamLine(std::string_view line, StreamMessage *message);

// A location datagram: "<id>|LOC|<fields>" or "<id>|VOLOC|<fields>".
struct LocationDatagram {
    int uniqueId = 0;
    bool viewOnly = false;
    std::string_view fields;  // everything after the tag and its "|", relayed unchanged
};

bool ParseLocationDatagram(std::string_view datagram, LocationDatagram *location);

// Latitude, longitude and elevation (fields 4 to 6) of a location's fields. False unless they read as numbers
// and place the aircraft on the earth: latitude within 90 degrees, longitude within 180, elevation from
// -500 m (the Dead Sea shore is at -430) to 30,000 m (above any aircraft a plug-in flies).
bool ReadWorldPosition(std::string_view fields, double *latitude, double *longitude, double *elevation);

// A plug-in's location holds 40 state fields and then two clock fields; one without the clock fields is
// still a location.
constexpr std::size_t kMinLocationFields = 40;
constexpr std::size_t kMaxLocationFields = 42;
std::size_t CountFields(std::string_view fields);

// The sender's clock (field 41: whole seconds of the wall clock, as the plug-in writes a float). False when
// the location has no clock field that reads as a number.
bool ReadSenderClock(std::string_view fields, double *seconds);
// Replaces the two clock fields (all 42 are there) with `wallSeconds`, written as the plug-in writes its own.
void SetSenderClock(std::string &fields, double wallSeconds);

}  // namespace server
