// Field encoding under a host process whose locale writes numbers differently: the bytes must not change.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "net/Protocol.h"
#include "platform/Numbers.h"

namespace {

// Switches the whole process to German number rules (decimal comma) for the test's lifetime.
class GermanLocale : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr); }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

std::string Float(float value) {
    std::string message;
    AddFloatToString(&message, "|", value);
    return message;
}

TEST_F(GermanLocale, NumbersAreWrittenAsInTheCLocale) {
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5");  // the locale really is in force

    EXPECT_EQ(Float(0.1f), "|0.100000001");
    EXPECT_EQ(Float(1234567.5f), "|1234567.5");
    EXPECT_EQ(Float(0.00001f), "|9.99999975e-06");
    EXPECT_EQ(Float(1e9f), "|1e+09");
    EXPECT_EQ(Float(-2.5f), "|-2.5");
    EXPECT_EQ(Float(0.0f), "|0");
    std::string message;
    AddIntToString(&message, "", 1234567);
    AddIntToString(&message, "|", -7);
    EXPECT_EQ(message, "1234567|-7");

    // A spread of values against printf's "%.9g" in the C locale, and back through the decoder unchanged.
    std::vector<float> values;
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    for (int i = 0; i < 2000; i++) values.push_back(std::ldexp(mantissa(random), (int)(random() % 80) - 40));
    std::vector<std::string> expected;
    std::setlocale(LC_ALL, "C");
    for (float value : values) {
        char text[64];
        std::snprintf(text, sizeof text, "|%.9g", (double)value);
        expected.push_back(text);
    }
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    for (size_t i = 0; i < values.size(); i++) {
        std::string written = Float(values[i]);
        ASSERT_EQ(written, expected[i]);
        ASSERT_EQ(stringtof(written.substr(1)), values[i]) << written;
    }
}

TEST_F(GermanLocale, NumbersAreReadAsInTheCLocale) {
    EXPECT_EQ(stringtof("0.5"), 0.5f);
    EXPECT_EQ(stringtof("1,5"), 1.0f);  // a comma is no decimal separator on the wire
    EXPECT_EQ(stringtof("-1.25e2|"), -125.0f);
    EXPECT_EQ(stringtof("x"), 0.0f);
    EXPECT_EQ(stringtoi("1.000"), 1);  // nor is a point a thousands separator
    EXPECT_EQ(stringtoi(" -42abc"), -42);
    EXPECT_EQ(stringtoi("99999999999"), 2147483647);
    EXPECT_EQ(stringtoi("-99999999999"), -2147483647 - 1);

    // The reader for C libraries without strtof_l (Windows) gives strtof's and strtoll's results in the
    // C locale, bit for bit, for every form a field can take, while the process is German.
    const char *forms[] = {"0.5",
                           "1,5",
                           "-1.25e2|",
                           "x",
                           "",
                           " \t\n+7.5",
                           "-0",
                           ".5",
                           "5.",
                           "-.5e-3",
                           "1e",
                           "1e+",
                           "1e400",
                           "-1e400",
                           "1e-400",
                           "-1e-50",
                           "1e-45",
                           "3.4028235e38",
                           "3.4028236e38",
                           "0x1p3",
                           "0X1.8P-2",
                           "0x",
                           "0xg",
                           "-0x10",
                           "inf",
                           "-INF",
                           "+Infinity",
                           "nan",
                           "NaN(12)",
                           "-nan",
                           "in",
                           "+",
                           "-",
                           " ",
                           ("\xa0"
                            "5"),
                           "0.100000001",
                           "16777217",
                           "1.00000005960464478",
                           "000000000000000000000001.5",
                           "1.000",
                           " -42abc",
                           "99999999999",
                           "-99999999999",
                           "9223372036854775807",
                           "9223372036854775808",
                           "-9223372036854775808",
                           "-9223372036854775809",
                           "123456789012345678901234567890"};
    std::vector<std::string> texts(std::begin(forms), std::end(forms));
    std::mt19937 random(54321);
    for (int i = 0; i < 3000; i++) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*e", (int)(random() % 12),
                      std::ldexp((double)random(), (int)(random() % 300) - 180));
        texts.push_back(text);
    }
    std::setlocale(LC_ALL, "C");
    std::vector<float> floats;
    std::vector<long long> integers;
    for (const std::string &text : texts) {
        floats.push_back(std::strtof(text.c_str(), nullptr));
        integers.push_back(std::strtoll(text.c_str(), nullptr, 10));
    }
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    for (size_t i = 0; i < texts.size(); i++) {
        float value = ParseFloatWithoutLocale(texts[i].c_str());
        if (std::isnan(floats[i])) {
            EXPECT_TRUE(std::isnan(value)) << texts[i];
            EXPECT_EQ(std::signbit(value), std::signbit(floats[i])) << texts[i];
        } else {
            EXPECT_EQ(std::memcmp(&value, &floats[i], sizeof value), 0) << texts[i] << " " << value << " " << floats[i];
        }
        EXPECT_EQ(ParseIntegerWithoutLocale(texts[i].c_str()), integers[i]) << texts[i];
    }
}

}  // namespace
