// Fast decoding of the floating-point fields of received messages, with the same results as stringtof.
#pragma once

#include <string_view>

// The field read by the rules of strtof in the C locale (the longest leading number; 0 when there is
// none), bit for bit what stringtof gives. A plain decimal field takes a path without the C library's
// locale machinery and without a copy; anything else (spaces, "+", hex, out of range) goes to stringtof.
float DecodeFloatField(std::string_view field);

// The same rules read into a double, for the world position that peers send with more digits than a
// float holds.
double DecodeDoubleField(std::string_view field);
