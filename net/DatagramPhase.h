// The datagram phase of the packet processor: location datagrams into traffic slots, and the crewed redirect.
#pragma once

#include <cstddef>
#include <string_view>

// The 40 fields of a location datagram after its header, as views into the datagram's text.
struct LocationFields {
    std::string_view field[40];
    std::string_view clock;  // what follows the last field's "|": the sender's two clock fields, or empty
};

// Splits the text after a location datagram's header into its 40 fields, by the rules of its five field
// groups: fields 1-27 and 33-39 end with "|" and hold no line feed, 28-32 are one digit and "|", and
// field 40 runs to the next "|" or the end. False, with `out` partly filled, when any group fails.
bool SplitLocationFields(std::string_view body, LocationFields *out);

// Handles one received datagram's text (already cut at its first NUL): header, crewed redirect and, for
// a location datagram, its fields into the slot record and through to the host. Simulation thread only.
void HandleDatagram(std::string_view text);

// Up to 90 receives from the datagram socket, each handled as above.
void DrainDatagramSocket();

// The whole phase: the traffic indicators cleared, then the socket drained.
void DatagramPhase();
