// Parsing of what a plug-in sends: its stream lines and its location datagrams.
#pragma once

#include <string_view>

namespace server {

enum class StreamKind { Opening, Closing, Plane, Callsign, ViewOnlyCallsign, Crew, Chat };

// One stream line from a client. The views point into the parsed line.
struct StreamMessage {
    StreamKind kind = StreamKind::Closing;
    int uniqueId = 0;
    std::string_view text;    // user ID, model path, callsign, crew ID or chat text
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

// Latitude, longitude and elevation (fields 4 to 6) of a location's fields. False if they do not read as numbers.
bool ReadWorldPosition(std::string_view fields, double *latitude, double *longitude, double *elevation);

}  // namespace server
