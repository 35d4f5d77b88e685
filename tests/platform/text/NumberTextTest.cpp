#include "platform/text/NumberText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using platform::text::appendShortestText;
using platform::text::shortestText;

TEST(NumberText, Doubles) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {2.0, "2.0"},
        {2.5, "2.5"},
        {-1.25, "-1.25"},
        {0.1, "0.1"},
        {1.0 / 3.0, "0.3333333333333333"},
        {100.0, "100.0"},
        {123456.789, "123456.789"},
        {0.0001, "0.0001"}, // smallest magnitude still written out
        {0.00012, "0.00012"},
        {0.00001, "1e-05"}, // below it: exponential, two exponent digits
        {9.99e-5, "9.99e-05"},
        {1.5e-10, "1.5e-10"},
        {9007199254740992.0, "9007199254740992.0"}, // 2^53: last exact integer
        {9007199254740994.0, "9.007199254740994e+15"},
        {1e16, "1e+16"},
        {-1e16, "-1e+16"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
        {-std::numeric_limits<double>::quiet_NaN(), "-nan"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shortestText(c.value), c.text) << c.text;
}

TEST(NumberText, FloatsUseTheirOwnDigits) {
    struct Case {
        float value;
        const char* text;
    };
    const Case cases[] = {
        {0.1f, "0.1"}, // not 0.10000000149011612
        {2.0f, "2.0"},
        {1.0f / 3.0f, "0.33333334"},
        {16777216.0f, "16777216.0"}, // 2^24: last exact integer
        {16777218.0f, "1.6777218e+07"},
        {1e-5f, "1e-05"},
        {0.0001f, "0.0001"},
        {3.4028235e38f, "3.4028235e+38"},
        {1e-45f, "1e-45"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shortestText(c.value), c.text) << c.text;
}

TEST(NumberText, EveryTextReadsBackToTheSameValue) {
    for (double v :
         {0.1, 1e-7, 123.456e200, 6.02214076e23, 2.2250738585072014e-308, 4.35, 299792458.0}) {
        EXPECT_EQ(std::stod(shortestText(v)), v);
        EXPECT_EQ(std::stof(shortestText(static_cast<float>(v))), static_cast<float>(v));
    }
}

TEST(NumberText, TheLargestPlainMagnitudeIsAParameter) {
    // Plain up to the last double below 1e16, exponential from 1e16 on.
    constexpr double largestPlain = 9999999999999998.0;
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {9007199254740994.0, "9007199254740994.0"},
        {9999999999999998.0, "9999999999999998.0"},
        {-9999999999999998.0, "-9999999999999998.0"},
        {1e16, "1e+16"},
        {1.5, "1.5"},
        {0.0001, "0.0001"},
        {0.00001, "1e-05"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shortestText(c.value, largestPlain), c.text) << c.text;
        std::string out = "x=";
        appendShortestText(out, c.value, largestPlain);
        EXPECT_EQ(out, std::string("x=") + c.text);
    }
    EXPECT_EQ(shortestText(2.0, 1.0), "2e+00");
}
