// Sanitizing of relayed texts and model paths.
#include "server/core/Text.h"

namespace server {

char32_t DecodeUtf8(std::string_view text, std::size_t *length) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(0);
    *length = 1;
    if (lead < 0x80) return lead;
    std::size_t size = lead >= 0xc2 && lead <= 0xdf   ? 2
                       : lead >= 0xe0 && lead <= 0xef ? 3
                       : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                      : 0;
    if (size == 0) return 0xfffd;
    char32_t value = lead & (0xff >> (size + 1));
    for (std::size_t i = 1; i < size; ++i) {
        if (i >= text.size() || (byte(i) & 0xc0) != 0x80) return 0xfffd;
        // The second byte's range rules out overlong forms, surrogates and values past U+10FFFF.
        if (i == 1 && ((lead == 0xe0 && byte(1) < 0xa0) || (lead == 0xed && byte(1) > 0x9f) ||
                       (lead == 0xf0 && byte(1) < 0x90) || (lead == 0xf4 && byte(1) > 0x8f))) {
            return 0xfffd;
        }
        value = value << 6 | (byte(i) & 0x3f);
        *length = i + 1;
    }
    return value;
}

namespace {

void AppendUtf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xc0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xe0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else {
        out.push_back(static_cast<char>(0xf0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
}

// Characters that move or hide text on the receiver's screen rather than show: C0 and C1 controls (a
// terminal takes U+009B for an escape), the bidirectional marks, embeddings, overrides and isolates (a
// right-to-left override makes "gnp.exe" read "exe.png"), zero-width characters, and the line and
// paragraph separators.
bool IsHidden(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x180e || (c >= 0x200b && c <= 0x200f) ||
           (c >= 0x2028 && c <= 0x202e) || (c >= 0x2060 && c <= 0x2069) || c == 0xfeff;
}

}  // namespace

std::string StreamText(std::string_view text, std::size_t maxLength) {
    std::string clean;
    clean.reserve(text.size() < maxLength ? text.size() : maxLength);
    int equalsRun = 0;
    std::string character;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
        char32_t c = DecodeUtf8(text.substr(at), &length);
        if (IsHidden(c)) continue;
        equalsRun = c == '=' ? equalsRun + 1 : 0;
        if (equalsRun > 3) continue;
        character.clear();
        AppendUtf8(character, c);
        // Cut before a character that would not fit whole.
        if (clean.size() + character.size() > maxLength) break;
        clean += character;
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

std::string RelayedModelPath(std::string_view path, std::size_t maxLength) {
    std::string relayed = StreamText(PortableModelPath(path), maxLength);
    // A receiver's plug-in opens whatever path it is sent.
    if (!IsAircraftModelPath(relayed)) relayed = "BLANK";
    return relayed;
}

std::string AddressText(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

std::string EndpointText(std::uint32_t address, std::uint16_t port) {
    return AddressText(address) + ":" + std::to_string(port);
}

namespace {

constexpr std::size_t kShownBytes = 80;

std::string EscapedPart(std::string_view bytes) {
    std::string out;
    static const char kHex[] = "0123456789abcdef";
    for (char c : bytes.substr(0, kShownBytes)) {
        auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte >= 0x20 && byte < 0x7f) {
            out.push_back(c);
        } else {
            out += "\\x";
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        }
    }
    return out;
}

}  // namespace

std::string Preview(std::string_view bytes) {
    return '"' + EscapedPart(bytes) + '"' + (bytes.size() > kShownBytes ? "..." : "");
}

std::string Escaped(std::string_view bytes) { return EscapedPart(bytes) + (bytes.size() > kShownBytes ? "..." : ""); }

}  // namespace server
