// Parameter display texts: fixed point with two decimals, decibels, the locale's separator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "VstUtils.h"

using namespace vurnel;

namespace {

std::string Fixed(float v, char sep = '.') {
    char text[64];
    std::memset(text, 'x', sizeof text);
    FormatFixed2(text, v, sep);
    return text;
}

std::string Db(float v, char sep = '.') {
    char text[64];
    FormatAmplitudeDb(text, v, sep);
    return text;
}

} // namespace

TEST(FloatToDisplayText, WritesTheDocumentedExamples) {
    EXPECT_EQ(Fixed(50), "50.00");
    EXPECT_EQ(Fixed(95), "95.00");
    EXPECT_EQ(Fixed(10000), "10000.00");
    EXPECT_EQ(Fixed(0.5f), "0.50");
    EXPECT_EQ(Fixed(0.125f), "0.13"); // halves round away from zero
    EXPECT_EQ(Fixed(-0.125f), "-0.13");
    EXPECT_EQ(Fixed(-19.999998f), "-20.00");
    EXPECT_EQ(Fixed(-0.004f), "0.00");
    EXPECT_EQ(Fixed(50, ','), "50,00");
}

TEST(FloatToDisplayText, ZeroAndTinyNegativesHaveNoSign) {
    EXPECT_EQ(Fixed(0.0f), "0.00");
    EXPECT_EQ(Fixed(-0.0f), "0.00");
    EXPECT_EQ(Fixed(-0.005f), "0.00"); // the float nearest -0.005 lies just below it in magnitude
    EXPECT_EQ(Fixed(0.005f), "0.00");
    EXPECT_EQ(Fixed(std::nextafter(0.005f, 1.0f)), "0.01");
    EXPECT_EQ(Fixed(std::numeric_limits<float>::denorm_min()), "0.00");
    EXPECT_EQ(Fixed(-0.0f, ','), "0,00");
}

TEST(FloatToDisplayText, CarryAddsAnIntegerDigit) {
    EXPECT_EQ(Fixed(9.999f), "10.00");
    EXPECT_EQ(Fixed(99.995f), "100.00"); // 99.9950027...
    EXPECT_EQ(Fixed(-999.999f), "-1000.00");
}

TEST(FloatToDisplayText, SpecialValues) {
    EXPECT_EQ(Fixed(std::numeric_limits<float>::infinity()), "INF");
    EXPECT_EQ(Fixed(-std::numeric_limits<float>::infinity()), "-INF");
    EXPECT_EQ(Fixed(std::numeric_limits<float>::quiet_NaN()), "NAN");
    EXPECT_EQ(Fixed(-std::numeric_limits<float>::quiet_NaN()), "NAN");
}

TEST(FloatToDisplayText, HugeValuesUseACompactExponentForm) {
    EXPECT_EQ(Fixed(1e18f), "999999984306749440.00"); // 18 integer digits: still fixed
    EXPECT_EQ(Fixed(std::numeric_limits<float>::max()), "3.40282346638529E+38");
    EXPECT_EQ(Fixed(-std::numeric_limits<float>::max(), ','), "-3,40282346638529E+38");
    EXPECT_EQ(Fixed(1e20f), "1.00000002004088E+20");
    EXPECT_EQ(Fixed(1e19f), "9.99999998050645E+18");
}

// Every text stays within 22 characters, reads back as the value to half a hundredth, and has
// exactly the shape "-ddd.dd" with no grouping.
TEST(FloatToDisplayText, RandomFloatsRoundTripWithinHalfAHundredth) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<std::uint32_t> bits;
    int checked = 0;
    for (int n = 0; n < 300000; ++n) {
        std::uint32_t b = bits(rng);
        float v;
        std::memcpy(&v, &b, 4);
        if (!std::isfinite(v)) continue;
        const std::string t = Fixed(v);
        ASSERT_LE(t.size(), 22u) << v;
        if (std::fabs(v) >= 1e18f) {
            ASSERT_NE(t.find('E'), std::string::npos) << t;
            ASSERT_NEAR(std::strtold(t.c_str(), nullptr) / v, 1.0L, 1e-14L) << t;
            continue;
        }
        const std::size_t point = t.find('.');
        ASSERT_EQ(point, t.size() - 3) << t;
        ASSERT_EQ(t.find_first_not_of("-0123456789."), std::string::npos) << t;
        const long double back = std::strtold(t.c_str(), nullptr);
        ASSERT_LE(std::fabs(back - static_cast<long double>(v)),
                  0.005L + std::fabs(static_cast<long double>(v)) * 1e-17L)
            << v << " -> " << t;
        ++checked;
    }
    EXPECT_GT(checked, 100000);
}

TEST(AmplitudeToDbText, WritesTheDocumentedExamples) {
    EXPECT_EQ(Db(1), "0.00");
    EXPECT_EQ(Db(10), "20.00");
    EXPECT_EQ(Db(0.1f), "-20.00");
    EXPECT_EQ(Db(2), "6.02");
    EXPECT_EQ(Db(0.5f), "-6.02");
    EXPECT_EQ(Db(0.00001f), "-100.00");
    EXPECT_EQ(Db(std::numeric_limits<float>::infinity()), "INF");
    EXPECT_EQ(Db(std::numeric_limits<float>::denorm_min()), "-897.07");
    EXPECT_EQ(Db(std::numeric_limits<float>::max()), "770.64");
    EXPECT_EQ(Db(2, ','), "6,02");
}

TEST(AmplitudeToDbText, NoLevelForZeroNegativeAndNaN) {
    const std::string none = "   -\xB0   ";
    EXPECT_EQ(none.size(), 8u);
    EXPECT_EQ(Db(0), none);
    EXPECT_EQ(Db(-0.0f), none);
    EXPECT_EQ(Db(-1), none);
    EXPECT_EQ(Db(std::numeric_limits<float>::quiet_NaN()), none);
}

TEST(AmplitudeToDbText, NeverWritesMoreThanEightCharacters) {
    for (std::uint32_t bits = 1; bits < 0x7F800000u; bits += 65521u) { // positive finite floats
        float v;
        std::memcpy(&v, &bits, sizeof v);
        char text[32];
        std::memset(text, 'x', sizeof text);
        FormatAmplitudeDb(text, v, '.');
        EXPECT_LE(std::strlen(text), 8u) << v;
        EXPECT_EQ(text[9], 'x'); // nothing past the NUL
    }
}

TEST(FourCharCode, FirstCharacterIsTheMostSignificantByte) {
    EXPECT_EQ(FourCharCode('V', 's', 't', 'P'), 0x56737450);
    EXPECT_EQ(FourCharCode('N', 'o', 'E', 'f'), 0x4E6F4566);
    EXPECT_EQ(FourCharCode('Z', 'K', 'R', 'W'), 1514885719);
    EXPECT_EQ(FourCharCode('\xFF', 0, 0, 1), static_cast<std::int32_t>(0xFF000001u));
}

#if !defined(_WIN32)
// The separator comes from the locale the environment names, not from the process's locale.
TEST(DecimalSeparator, ComesFromTheEnvironmentsNumericLocale) {
    const char* saved = std::getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    const char german = ReadLocaleDecimalSeparator();
    ::setenv("LC_ALL", "C", 1);
    const char c = ReadLocaleDecimalSeparator();
    ::setenv("LC_ALL", "no_such_locale.XYZ", 1);
    const char unknown = ReadLocaleDecimalSeparator();
    if (saved)
        ::setenv("LC_ALL", keep.c_str(), 1);
    else
        ::unsetenv("LC_ALL");
    EXPECT_EQ(c, '.');
    EXPECT_EQ(unknown, '.');
    if (german == '.' && !std::getenv("CI") && !std::getenv("VURNEL_STRICT"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    EXPECT_EQ(german, ',');
    char text[16];
    FormatFixed2(text, 1234.5f, german);
    EXPECT_STREQ(text, "1234,50"); // no grouping separator
}
#endif
