// The release build's floating-point from_chars/to_chars against the C++ library's own, where it has them.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "packaging/compat/CharconvFloat.h"

namespace {

std::string Print(double value, std::chars_format format, int precision, bool compat) {
    char buffer[400];
    auto result = compat ? skorvale_compat::to_chars(buffer, buffer + sizeof buffer, value, format, precision)
                         : std::to_chars(buffer, buffer + sizeof buffer, value, format, precision);
    EXPECT_EQ(result.ec, std::errc()) << value;
    return std::string(buffer, result.ptr);
}

// Parses with both and expects the same outcome: error, characters taken and, on success, the same bits.
template <typename Number>
void ExpectSameParseAs(const std::string &text) {
    Number ours = -7, theirs = -7;
    const char *begin = text.data(), *end = begin + text.size();
    auto a = skorvale_compat::from_chars(begin, end, ours);
    auto b = std::from_chars(begin, end, theirs);
    EXPECT_EQ(a.ec, b.ec) << "'" << text << "'";
    EXPECT_EQ(a.ptr - begin, b.ptr - begin) << "'" << text << "'";
    if (std::isnan(theirs)) {
        EXPECT_TRUE(std::isnan(ours)) << "'" << text << "'";
    } else {
        EXPECT_EQ(std::memcmp(&ours, &theirs, sizeof ours), 0) << "'" << text << "' " << ours << " vs " << theirs;
    }
}

// Positions are read as doubles, everything else as floats.
void ExpectSameParse(const std::string &text) {
    ExpectSameParseAs<float>(text);
    ExpectSameParseAs<double>(text);
}

TEST(CharconvFloat, PrintsAsTheLibraryDoesWithAPrecision) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<uint32_t> bits;
    for (int i = 0; i < 20000; i++) {
        uint32_t pattern = bits(random);
        float value;
        std::memcpy(&value, &pattern, sizeof value);
        if (std::isnan(value)) continue;
        ASSERT_EQ(Print(value, std::chars_format::general, 9, true),
                  Print(value, std::chars_format::general, 9, false));
    }
    for (double value : {0.0, -0.0, 1.0, 0.1, 123456789.0, 1e-7, 1e21, -47.4638, 6371000.0,
                         (double)std::numeric_limits<float>::denorm_min(), std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity()}) {
        for (auto format : {std::chars_format::general, std::chars_format::fixed, std::chars_format::scientific}) {
            for (int precision : {0, 3, 9, 17}) {
                EXPECT_EQ(Print(value, format, precision, true), Print(value, format, precision, false))
                    << value << " precision " << precision;
            }
        }
    }
    char tiny[4];
    EXPECT_EQ(skorvale_compat::to_chars(tiny, tiny + sizeof tiny, 123.456, std::chars_format::general, 9).ec,
              std::errc::value_too_large);
}

TEST(CharconvFloat, ParsesAsTheLibraryDoes) {
    std::mt19937 random(99);
    std::uniform_int_distribution<uint32_t> bits;
    for (int i = 0; i < 20000; i++) {
        uint32_t pattern = bits(random);
        float value;
        std::memcpy(&value, &pattern, sizeof value);
        if (std::isnan(value) || std::isinf(value)) continue;
        char text[64];
        std::snprintf(text, sizeof text, i % 2 ? "%.9g" : "%.12e", value);
        ExpectSameParse(text);
    }
    // Forms the general format refuses or stops early in, and values out of float's range.
    for (const char *text : {"",
                             "-",
                             ".",
                             "-.",
                             ".5",
                             "5.",
                             "-0",
                             "1e",
                             "1e+",
                             "1e-5x",
                             "1.5e3.2",
                             "+1",
                             " 1",
                             "0x1p3",
                             "1,5",
                             "inf",
                             "-INF",
                             "infinity",
                             "-nan",
                             "nan(123)",
                             "nan(",
                             "1e40",
                             "-1e40",
                             "1e-50",
                             "1e-40",
                             "3.4028235e38",
                             "47.46380000000000000000001",
                             "00012.5e0001"}) {
        ExpectSameParse(text);
    }
}

}  // namespace
