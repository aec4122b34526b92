// The message of the day set with `admin motd`, kept in a small file so that it outlasts a restart.
// The file holds the text and a line break (a line break alone: no message).
#pragma once

#include <string>

namespace server {

// Keeps `text` (already checked as an admin text). False, with `error`, when the file cannot be written.
bool SaveMotd(const std::string &path, const std::string &text, std::string *error);

// The message the server starts with. `*motd` holds --motd on entry (from a flag or from `configFile`); the
// kept one replaces it when `path` exists and was written after `configFile` last changed (or there is no
// config file), and `*kept` says so. A missing file keeps --motd. False, with `error`, for a file that cannot
// be read or holds anything but one admin text and a line break.
bool StartingMotd(const std::string &path, const std::string &configFile, std::string *motd, bool *kept,
                  std::string *error);

}  // namespace server
