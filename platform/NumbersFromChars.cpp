// strtof's and strtoll's "C" locale rules on std::from_chars, which no locale touches.
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <system_error>

#include "platform/Numbers.h"

namespace {

const char *SkipSpace(const char *p) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    return p;
}

bool StartsWithNoCase(const char *p, const char *word) {
    for (; *word != '\0'; p++, word++) {
        char c = *p >= 'A' && *p <= 'Z' ? (char)(*p - 'A' + 'a') : *p;
        if (c != *word) return false;
    }
    return true;
}

// A value too large or too small for a float: which of the two, from the exponent's sign (a decimal
// or binary exponent after the digits; none means too large).
float OutOfRange(const char *begin, const char *end, bool hex) {
    const char *mark = nullptr;
    for (const char *p = begin; p < end; p++) {
        char c = *p;
        if ((!hex && (c == 'e' || c == 'E')) || (hex && (c == 'p' || c == 'P'))) mark = p;
    }
    if (mark != nullptr && mark + 1 < end && mark[1] == '-') return 0.0f;
    return HUGE_VALF;
}

}  // namespace

float ParseFloatWithoutLocale(const char *text) {
    const char *p = SkipSpace(text);
    bool negative = *p == '-';
    if (*p == '+' || *p == '-') p++;
    const char *end = p + std::strlen(p);
    float value = 0;
    bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    std::from_chars_result result{};
    if (hex) {
        // "0x" with no hex digit after it is the number 0 followed by an "x".
        result = std::from_chars(p + 2, end, value, std::chars_format::hex);
        if (result.ec == std::errc::invalid_argument) value = 0;
    } else if (StartsWithNoCase(p, "inf")) {
        value = HUGE_VALF;
        result.ptr = p + 3;
    } else if (StartsWithNoCase(p, "nan")) {
        value = std::nanf("");
        result.ptr = p + 3;
    } else {
        result = std::from_chars(p, end, value, std::chars_format::general);
        if (result.ec == std::errc::invalid_argument) return 0.0f;
    }
    if (result.ec == std::errc::result_out_of_range) value = OutOfRange(p, result.ptr, hex);
    return negative ? -value : value;
}

long long ParseIntegerWithoutLocale(const char *text) {
    const char *p = SkipSpace(text);
    bool negative = *p == '-';
    if (*p == '+' || *p == '-') p++;
    const char *end = p;
    while (*end >= '0' && *end <= '9') end++;
    if (end == p) return 0;
    // The digits parsed with their sign, so that LLONG_MIN itself is in range.
    unsigned long long magnitude = 0;
    auto result = std::from_chars(p, end, magnitude);
    if (result.ec == std::errc::result_out_of_range) return negative ? LLONG_MIN : LLONG_MAX;
    if (negative) return magnitude > (unsigned long long)LLONG_MAX + 1 ? LLONG_MIN : (long long)(0 - magnitude);
    return magnitude > (unsigned long long)LLONG_MAX ? LLONG_MAX : (long long)magnitude;
}
