// Choosing a library model for a peer: the ICAO type from the installed .acf, else words in its path, else the default.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// How a choice was made, for the plane list.
enum class MatchSource { InstalledAcf, PathWords, Default };

struct ModelChoice {
    int model = 0;  // a TrafficModelId
    // The ICAO type announced on TCAS: the .acf's, or a type code in the path; empty when neither is known
    // (a keyword or the default says what to draw, not which type it is).
    std::string icao;
    MatchSource source = MatchSource::Default;
};

// Of an installed .acf, at most this much is read: X-Plane writes `acf/_ICAO` among the first properties,
// and a whole .acf is megabytes.
constexpr size_t kAcfReadLimit = 64 * 1024;

// The `acf/_ICAO` property of the .acf at `path` ("P acf/_ICAO B738"), upper case; empty when the file is
// not a regular file, unreadable, binary, or lacks a plausible code within kAcfReadLimit bytes.
// Reads the disk: call it for a new path only, never again each frame.
std::string ReadAcfIcao(const std::string &path);

// The choice for a peer's model path, given the ICAO code read from the local copy of its .acf (empty when
// there is none). Pure: no file access.
ModelChoice MatchModel(std::string_view modelPath, std::string_view acfIcao);

// The whole choice: the peer's path mapped into this installation (`systemPath`, X-Plane's folder with a
// trailing separator), its .acf read if it is there, then MatchModel.
ModelChoice ChooseModel(std::string_view modelPath, const std::string &systemPath);

// "narrow_body (B738, from the .acf)" and the like, for the plane list.
std::string DescribeChoice(const ModelChoice &choice);
