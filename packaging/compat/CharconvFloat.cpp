// The floating-point from_chars and to_chars of CharconvFloat.h, on strtof_l and printf in the C locale.
#include "packaging/compat/CharconvFloat.h"

#include <locale.h>
#if defined(__APPLE__)
#include <xlocale.h>  // macOS declares newlocale and the _l functions here
#endif
#include <stdlib.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace skorvale_compat {
namespace {

// The "C" numeric locale, made once: the simulator's process may have set another one.
locale_t CLocale() {
    static locale_t c = newlocale(LC_NUMERIC_MASK, "C", (locale_t)0);
    return c;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWithNoCase(const char *p, const char *last, const char *word) {
    size_t n = std::strlen(word);
    if ((size_t)(last - p) < n) return false;
    for (size_t i = 0; i < n; i++) {
        char c = p[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

// The end of the longest prefix in the general format: an optional minus, then digits with at most
// one point (one digit at least) and an optional exponent, or inf, infinity, nan, nan(chars).
// Nullptr when there is none. strtof alone would also take a plus, white space and hexadecimal.
const char *GeneralPrefixEnd(const char *first, const char *last) {
    const char *p = first;
    if (p != last && *p == '-') p++;
    if (StartsWithNoCase(p, last, "infinity")) return p + 8;
    if (StartsWithNoCase(p, last, "inf")) return p + 3;
    if (StartsWithNoCase(p, last, "nan")) {
        p += 3;
        const char *q = p;
        if (q != last && *q == '(') {
            for (q++; q != last && (IsDigit(*q) || (*q >= 'a' && *q <= 'z') || (*q >= 'A' && *q <= 'Z') || *q == '_');
                 q++) {
            }
            if (q != last && *q == ')') return q + 1;
        }
        return p;
    }
    int digits = 0;
    for (; p != last && IsDigit(*p); p++) digits++;
    if (p != last && *p == '.') {
        const char *q = p + 1;
        for (; q != last && IsDigit(*q); q++) digits++;
        p = q;
    }
    if (digits == 0) return nullptr;
    if (p != last && (*p == 'e' || *p == 'E')) {
        const char *q = p + 1;
        if (q != last && (*q == '+' || *q == '-')) q++;
        if (q != last && IsDigit(*q)) {
            while (q != last && IsDigit(*q)) q++;
            p = q;
        }
    }
    return p;
}

// strtof_l or strtod_l, picked by the type read.
float ParseInCLocale(const char *text, char **stop, float *) { return strtof_l(text, stop, CLocale()); }
double ParseInCLocale(const char *text, char **stop, double *) { return strtod_l(text, stop, CLocale()); }

template <typename Number>
std::from_chars_result FromChars(const char *first, const char *last, Number &value, std::chars_format format) {
    if (format != std::chars_format::general) return {first, std::errc::invalid_argument};
    const char *end = GeneralPrefixEnd(first, last);
    if (end == nullptr) return {first, std::errc::invalid_argument};
    std::string text(first, end);  // strtof needs a terminated string
    int savedErrno = errno;
    errno = 0;
    char *stop = nullptr;
    Number parsed = ParseInCLocale(text.c_str(), &stop, &value);
    bool outOfRange = errno == ERANGE;
    errno = savedErrno;
    if (stop != text.c_str() + text.size()) return {first, std::errc::invalid_argument};
    // As the standard says: too large or too small to represent leaves the value alone.
    if (outOfRange && (std::isinf(parsed) || parsed == 0)) return {end, std::errc::result_out_of_range};
    value = parsed;
    return {end, std::errc()};
}

}  // namespace

std::from_chars_result from_chars(const char *first, const char *last, float &value, std::chars_format format) {
    return FromChars(first, last, value, format);
}

std::from_chars_result from_chars(const char *first, const char *last, double &value, std::chars_format format) {
    return FromChars(first, last, value, format);
}

std::to_chars_result to_chars(char *first, char *last, double value, std::chars_format format, int precision) {
    // Hexadecimal output is not needed here; it is refused rather than printed in printf's form.
    if (format == std::chars_format::hex) return {last, std::errc::invalid_argument};
    const char *pattern = "%.*g";
    if (format == std::chars_format::fixed) pattern = "%.*f";
    if (format == std::chars_format::scientific) pattern = "%.*e";
    if (precision < 0) precision = 6;
    locale_t previous = uselocale(CLocale());
    int length = std::snprintf(nullptr, 0, pattern, precision, value);
    std::string text((size_t)(length > 0 ? length : 0) + 1, '\0');
    if (length > 0) std::snprintf(&text[0], text.size(), pattern, precision, value);
    uselocale(previous);
    if (length < 0) return {last, std::errc::value_too_large};
    if (length > last - first) return {last, std::errc::value_too_large};
    std::memcpy(first, text.data(), (size_t)length);
    return {first + length, std::errc()};
}

}  // namespace skorvale_compat
