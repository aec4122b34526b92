// Model paths from peers: the name the plane list shows, and the local file a path may load.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Model paths longer than this are ignored whole: no real aircraft path comes near it, and the work
// spent on one message stays small.
constexpr size_t kModelPathLimit = 1024;

// The name of a model from its path, in one pass: the text after the last "/" that is still followed
// by ".acf" (any case), up to the first such ending; empty when there is none. The same result as the
// pattern "^.*\/(.*?)\.[aA][cC][fF]" (whose "." stops at a line feed), without its backtracking, which
// costs seconds on a few kilobytes of "/." pieces.
std::string ModelName(std::string_view path);

// `path` with every "\" separator (a Windows sender's) made "/".
std::string WithForwardSlashes(std::string_view path);

// The path, under this installation, of the model a peer named: `path` with "\" separators made "/"
// and cut to begin at its "Aircraft/" folder, so a path from another machine or installation names the
// same model here. False, leaving `out` alone, unless that folder is there, no piece of the rest is
// "..", and the file name is a non-empty name ending in ".acf" (any case).
bool LocalModelPath(std::string_view path, std::string *out);
