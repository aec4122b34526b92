// Writing a small file the server keeps (bans, the message of the day) whole, never a part.
// A reader sees the old file or the new one.
#pragma once

#include <string>
#include <string_view>

namespace server {

// Writes `text` to PATH.new (mode 0600), syncs it and renames it over `path`. False, with `error` naming the
// file and the system's reason, on failure; `path` is then as it was.
bool WriteWholeFile(const std::string &path, std::string_view text, std::string *error);

}  // namespace server
