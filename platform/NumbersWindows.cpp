// Numbers in the "C" locale on Windows, whose msvcrt has no strtof_l (and no hex or "inf" in strtod).
#if defined(_WIN32)

#include "platform/Numbers.h"

float ParseFloatInCLocale(const char *text) { return ParseFloatWithoutLocale(text); }

long long ParseIntegerInCLocale(const char *text) { return ParseIntegerWithoutLocale(text); }

#endif
