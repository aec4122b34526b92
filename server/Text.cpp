// Sanitizing of relayed texts and model paths.
#include "server/Text.h"

namespace server {

std::string StreamText(std::string_view text, std::size_t maxLength) {
    std::string clean;
    clean.reserve(text.size() < maxLength ? text.size() : maxLength);
    int equalsRun = 0;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) continue;
        equalsRun = c == '=' ? equalsRun + 1 : 0;
        if (equalsRun > 3) continue;
        if (clean.size() == maxLength) break;
        clean.push_back(c);
    }
    while (!clean.empty() && clean.back() == '=') clean.pop_back();
    if (clean.empty()) return "BLANK";
    return clean;
}

std::string PortableModelPath(std::string_view path) {
    std::string portable(path);
    for (char &c : portable) {
        if (c == '\\') c = '/';
    }
    bool absolute =
        (!portable.empty() && portable[0] == '/') || (portable.size() > 2 && portable[1] == ':' && portable[2] == '/');
    if (!absolute) return portable;
    std::size_t folder = portable.rfind("/Aircraft/");
    if (folder == std::string::npos) return portable;
    return portable.substr(folder + 1);
}

bool IsAircraftModelPath(std::string_view path) {
    if (path.size() < 5 || path[0] == '/' || path[0] == '\\' || path.find(':') != std::string_view::npos) return false;
    std::string_view ending = path.substr(path.size() - 4);
    if (ending[0] != '.' || (ending[1] | 0x20) != 'a' || (ending[2] | 0x20) != 'c' || (ending[3] | 0x20) != 'f') {
        return false;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = path.size();
        if (path.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

std::string AddressText(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

std::string EndpointText(std::uint32_t address, std::uint16_t port) {
    return AddressText(address) + ":" + std::to_string(port);
}

std::string Preview(std::string_view bytes) {
    std::string preview;
    for (char c : bytes.substr(0, 80)) {
        unsigned char byte = static_cast<unsigned char>(c);
        preview.push_back(byte >= 0x20 && byte < 0x7f ? c : '?');
    }
    if (bytes.size() > 80) preview += "...";
    return preview;
}

}  // namespace server
