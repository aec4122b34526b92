// Wire protocol: field encoders and decoders and the compiled message patterns, shared by both channels.
//
// Numbers are formatted and parsed in the C locale whatever locale the simulator's process has
// set: another plug-in may call setlocale, and a comma decimal separator would corrupt every message.
#pragma once

#include <pcrecpp.h>

#include <string>

void AddIntToString(std::string *message, const char *prefix, int value);
void AddFloatToString(std::string *message, const char *prefix, float value);
// A position in degrees or metres with 12 significant digits (centimetres anywhere on the earth): still a
// plain decimal that every float reader parses.
void AddDoubleToString(std::string *message, const char *prefix, double value);
float stringtof(std::string text);
int stringtoi(std::string text);
std::string ReplaceSeparators(std::string path);

// "(\d+)\|(\w)\|": the header at the start of every datagram.
const pcrecpp::RE &DatagramHeaderPattern();
// "(\d+)\|(\w)\|(.*?)(====)": one whole stream message.
const pcrecpp::RE &StreamMessagePattern();
