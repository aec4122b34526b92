// Floating-point std::from_chars and std::to_chars for C++ libraries that lack them.
//
// The Linux release plug-in is built on Debian 11 (GCC 10), whose <charconv> has only the integer forms;
// the macOS one with LLVM 16's libc++ (Zig 0.11's), which has floating to_chars but not from_chars. Both
// release builds force-include this header into the plug-in's sources. These follow the standard's
// definitions: to_chars with a precision prints as printf does in the C locale, and from_chars reads
// the longest prefix of the general format and rounds as strtof does in the C locale.
#pragma once

#include <charconv>

namespace skorvale_compat {

std::from_chars_result from_chars(const char *first, const char *last, float &value,
                                  std::chars_format format = std::chars_format::general);
std::from_chars_result from_chars(const char *first, const char *last, double &value,
                                  std::chars_format format = std::chars_format::general);
std::to_chars_result to_chars(char *first, char *last, double value, std::chars_format format, int precision);

}  // namespace skorvale_compat

#if !defined(__cpp_lib_to_chars)
namespace std {
using skorvale_compat::from_chars;
#if !defined(_LIBCPP_VERSION)
using skorvale_compat::to_chars;
#endif
}  // namespace std
#endif
