// Field encoders and decoders of the wire protocol, and its message patterns compiled once.
#include "net/Protocol.h"

#include <charconv>
#include <climits>
#include <cstring>

#include "core/HostInterface.h"
#include "platform/Numbers.h"

void AddIntToString(std::string *message, const char *prefix, int value) {
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    message->append(prefix);
    message->append(digits, result.ptr);
}

void AddFloatToString(std::string *message, const char *prefix, float value) {
    // to_chars with a precision formats exactly as printf("%.9g") does in the C locale.
    char digits[32];
    auto result = std::to_chars(digits, digits + sizeof digits, (double)value, std::chars_format::general, 9);
    message->append(prefix);
    message->append(digits, result.ptr);
}

float stringtof(std::string text) { return ParseFloatInCLocale(text.c_str()); }

int stringtoi(std::string text) {
    // atoi's rules, except that a value beyond 32 bits saturates instead of being undefined.
    // In the C locale, too: another locale may count more bytes as leading white space.
    long long value = ParseIntegerInCLocale(text.c_str());
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return (int)value;
}

std::string ReplaceSeparators(std::string path) {
    const char *separator = XPLMGetDirectorySeparator();
    if (separator[0] == '/') return path;
    size_t separatorLength = std::strlen(separator);
    size_t position = 0;
    for (int replaced = 0; replaced < 50; replaced++) {
        position = path.find('/', position);
        if (position == std::string::npos) break;
        path.replace(position, 1, separator);
        position += separatorLength;
    }
    return path;
}

const pcrecpp::RE &DatagramHeaderPattern() {
    static const pcrecpp::RE pattern("(\\d+)\\|(\\w)\\|");
    return pattern;
}

const pcrecpp::RE &StreamMessagePattern() {
    static const pcrecpp::RE pattern("(\\d+)\\|(\\w)\\|(.*?)(====)");
    return pattern;
}
