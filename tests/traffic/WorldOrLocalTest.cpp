// Choosing between a sender's local position and its converted world position by whole-degree band.
#include <gtest/gtest.h>

#include <clocale>

#include "core/HostInterface.h"
#include "simhost/Host.h"
#include "traffic/WorldOrLocal.h"

namespace {

struct Result {
    double x = -1, y = -1, z = -1;
};

Result Place(float ownLat, float ownLon, const std::string &lat, const std::string &lon, const std::string &el = "500",
             const std::string &x = "12.5", const std::string &y = "", const std::string &z = "7") {
    Result r;
    SVWorldOrLocal(ownLat, ownLon, lat, lon, el, x, y, z, &r.x, &r.y, &r.z);
    return r;
}

Result Converted(double lat, double lon, double el) {
    Result r;
    XPLMWorldToLocal(lat, lon, el, &r.x, &r.y, &r.z);
    return r;
}

void ExpectSame(const Result &a, const Result &b) {
    EXPECT_DOUBLE_EQ(a.x, b.x);
    EXPECT_DOUBLE_EQ(a.y, b.y);
    EXPECT_DOUBLE_EQ(a.z, b.z);
}

}  // namespace

TEST(WorldOrLocal, DegreeTextIsTheTextBeforeTheFirstDotAfterADigit) {
    EXPECT_EQ(DegreeText("47.4472198"), "47");
    EXPECT_EQ(DegreeText("-122.309998"), "-122");
    EXPECT_EQ(DegreeText("0.5"), "0");
    EXPECT_EQ(DegreeText("-0.25"), "-0");
    EXPECT_EQ(DegreeText("47"), "");
    EXPECT_EQ(DegreeText("5e-05"), "");
    EXPECT_EQ(DegreeText(".5"), "");
    EXPECT_EQ(DegreeText("abc"), "");
    EXPECT_EQ(DegreeText("x.1.2"), "x.1");  // the first dot that follows a digit
    EXPECT_EQ(DegreeText(" +47.9"), " +47");
    EXPECT_EQ(DegreeText("ab\n12.5"), "12");  // a regex "." never spans a line feed
}

TEST(WorldOrLocal, SameBandTakesTheSendersLocalPosition) {
    simhost::TheHost().Reset();
    simhost::TheHost().PlaceAircraft(47.45, -122.31, 100, 0);
    Result r = Place(47.45f, -122.31f, "47.9", "-122.01", "not a number");
    EXPECT_EQ(r.x, 12.5);
    EXPECT_EQ(r.y, 0.0);
    EXPECT_EQ(r.z, 7.0);
    r = Place(47.45f, -122.31f, "47.9", "-122.01", "1e9", "abc", "-3.25e2", "1.5xyz");
    EXPECT_EQ(r.x, 0.0);
    EXPECT_EQ(r.y, -325.0);
    EXPECT_EQ(r.z, 1.5);
}

TEST(WorldOrLocal, OtherBandConvertsTheWorldPosition) {
    simhost::TheHost().Reset();
    simhost::TheHost().PlaceAircraft(47.45, -122.31, 100, 0);
    ExpectSame(Place(47.45f, -122.31f, "48.0001", "-122.01"), Converted(48.0001f, -122.01f, 500));
    ExpectSame(Place(47.45f, -122.31f, "47.9", "-121.5"), Converted(47.9f, -121.5f, 500));
    // "0" and "-0" are different bands, as are "47" (no dot) and "47.2".
    ExpectSame(Place(0.3f, 10.5f, "-0.2", "10.7"), Converted(-0.2f, 10.7f, 500));
    ExpectSame(Place(47.0f, -122.31f, "47.2", "-122.01"), Converted(47.2f, -122.01f, 500));
    // A longitude that is no number converts as 0.
    ExpectSame(Place(47.45f, -122.31f, "47.9", "abc"), Converted(47.9f, 0.0, 500));
    ExpectSame(Place(47.45f, -122.31f, "48.5", "-122.01", ""), Converted(48.5f, -122.01f, 0));
}

TEST(WorldOrLocal, ChoiceDoesNotDependOnTheProcessLocale) {
    simhost::TheHost().Reset();
    simhost::TheHost().PlaceAircraft(47.45, -122.31, 100, 0);
    // Another plug-in in the simulator may switch the locale to one with a decimal comma.
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    Result local = Place(47.45f, -122.31f, "47.9", "-122.01", "500", "12.5", "0.25", "7");
    Result converted = Place(47.45f, -122.31f, "48.5", "-122.01");
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(local.x, 12.5);
    EXPECT_EQ(local.y, 0.25);
    ExpectSame(converted, Converted(48.5f, -122.01f, 500));
}
