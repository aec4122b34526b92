// Numbers read from text as the "C" locale reads them, whatever locale the simulator has set.
#pragma once

// strtof's and strtoll's rules (base 10) in the "C" locale: leading white space, a sign, and as much of
// a number as there is; 0 when there is none. Integers beyond 64 bits saturate.
float ParseFloatInCLocale(const char *text);
long long ParseIntegerInCLocale(const char *text);

// The same rules built on std::from_chars alone, for C libraries that have no strtof_l (Windows's
// msvcrt); available everywhere, so that they are checked against strtof_l where it exists.
float ParseFloatWithoutLocale(const char *text);
long long ParseIntegerWithoutLocale(const char *text);
