// Fast decoding of the floating-point fields of received messages, with the same results as stringtof.
#include "net/FieldDecode.h"

#include <charconv>
#include <string>
#include <system_error>

#include "net/Protocol.h"

namespace {

// Up to 90 location datagrams of 35 such fields each arrive per flight loop; strtof was most of the
// cost of applying one. from_chars rounds correctly as strtof does, so where it takes the whole field
// as one number the two agree; the remaining forms are rare and take the general way.
template <typename Number>
bool DecodePlain(std::string_view field, Number *value) {
    const char *begin = field.data();
    const char *end = begin + field.size();
    if (begin == end || (*begin != '-' && (*begin < '0' || *begin > '9'))) return false;
    auto result = std::from_chars(begin, end, *value, std::chars_format::general);
    return result.ec == std::errc() && result.ptr == end;
}

}  // namespace

float DecodeFloatField(std::string_view field) {
    float value = 0;
    return DecodePlain(field, &value) ? value : stringtof(std::string(field));
}

double DecodeDoubleField(std::string_view field) {
    double value = 0;
    return DecodePlain(field, &value) ? value : (double)stringtof(std::string(field));
}
