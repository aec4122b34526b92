// The message of the day set with `admin motd`, kept in a small file so that it outlasts a restart.
// The file holds the text and a line break (a line break alone: no message).
#include "server/admin/MotdFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "server/admin/AdminCommands.h"
#include "server/core/WholeFile.h"

namespace server {

bool SaveMotd(const std::string &path, const std::string &text, std::string *error) {
    return WriteWholeFile(path, text + "\n", error);
}

bool StartingMotd(const std::string &path, const std::string &configFile, std::string *motd, bool *kept,
                  std::string *error) {
    *kept = false;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (errno == ENOENT) return true;
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    // Read a little past the longest text: a larger file is not one of ours, and is not read whole.
    std::string text(AdminCommands::kMaxText + 2, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    std::string why;
    if (text.empty() || text.back() != '\n') {
        *error = path + ": not a message of the day (one line of at most " + std::to_string(AdminCommands::kMaxText) +
                 " bytes)";
        return false;
    }
    text.pop_back();
    if (!CheckAdminText(text, "a message of the day", &why)) {
        *error = path + ": " + why;
        return false;
    }
    std::error_code failed;
    if (!configFile.empty()) {
        auto written = std::filesystem::last_write_time(path, failed);
        auto configured = std::filesystem::last_write_time(configFile, failed);
        // The operator edited the config file after the last `admin motd`: its --motd counts.
        if (failed || written <= configured) return true;
    }
    *motd = text;
    *kept = true;
    return true;
}

}  // namespace server
