// Numbers in the "C" locale on Linux, macOS and the BSDs: the C library's own per-call locale.
#if !defined(_WIN32)

#include <locale.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

#include <cstdlib>

#include "platform/Numbers.h"

namespace {

// Made once: strtof_l reads with it whatever setlocale has done to the process.
locale_t CLocale() {
    static locale_t c = newlocale(LC_NUMERIC_MASK, "C", (locale_t)0);
    return c;
}

}  // namespace

float ParseFloatInCLocale(const char *text) { return strtof_l(text, nullptr, CLocale()); }

long long ParseIntegerInCLocale(const char *text) { return strtoll_l(text, nullptr, 10, CLocale()); }

#endif
