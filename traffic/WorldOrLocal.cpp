// Placing a received aircraft in the user's local frame: same whole-degree band keeps the sender's local position.
#include "traffic/WorldOrLocal.h"

#include <charconv>

#include "core/HostInterface.h"
#include "net/FieldDecode.h"

std::string_view DegreeText(std::string_view text) {
    // What an unanchored search for "(.*?\d+)\." captures. The search runs once per applied datagram
    // (up to 90 per flight loop), so it is done by hand rather than through the regex engine. Like the
    // regex's ".", the captured text never spans a line feed: it starts after the last one before the dot.
    size_t start = 0;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '\n') {
            start = i + 1;
        } else if (c == '.' && i > start && text[i - 1] >= '0' && text[i - 1] <= '9') {
            return text.substr(start, i - start);
        }
    }
    return {};
}

namespace {

// "%.9g" of the value widened to double, in the C locale whatever the process's locale is.
std::string_view FormatG9(float value, char (&buffer)[32]) {
    auto result = std::to_chars(buffer, buffer + sizeof buffer, (double)value, std::chars_format::general, 9);
    return std::string_view(buffer, (size_t)(result.ptr - buffer));
}

}  // namespace

void SVWorldOrLocal(float ownLat, float ownLon, std::string lat, std::string lon, std::string el, std::string x,
                    std::string y, std::string z, double *outX, double *outY, double *outZ) {
    char latText[32], lonText[32];
    bool sameBand = DegreeText(FormatG9(ownLat, latText)) == DegreeText(lat) &&
                    DegreeText(FormatG9(ownLon, lonText)) == DegreeText(lon);
    if (sameBand) {
        // The sender's local frame is close enough to ours to take its position as it is.
        *outX = (double)DecodeFloatField(x);
        *outY = (double)DecodeFloatField(y);
        *outZ = (double)DecodeFloatField(z);
        return;
    }
    XPLMWorldToLocal((double)DecodeFloatField(lat), (double)DecodeFloatField(lon), (double)DecodeFloatField(el), outX,
                     outY, outZ);
}
