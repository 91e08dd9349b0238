#include "terrain/ObjNumber.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace skyframe {
namespace {

std::string fast(double v) {
    char text[kObjNumberMaxChars];
    return std::string(text, appendObjNumber(text, v));
}

std::string streamed(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

// Ties of the sixth digit, the 1e6 and 1e7 switches of notation, negative zero, tiny and
// huge magnitudes.
TEST(AppendObjNumber, MatchesStreamOnEdgeValues) {
    const std::vector<double> values = {0.0,
                                        -0.0,
                                        1.0,
                                        -1.0,
                                        0.1,
                                        1e-4,
                                        9.99999e-5,
                                        1e-5,
                                        1.5e-7,
                                        5e-324,
                                        2.2250738585072014e-308,
                                        std::numeric_limits<double>::max(),
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity(),
                                        123456.5,
                                        123457.5,
                                        999999.0,
                                        999999.4,
                                        999999.5,
                                        999998.5,
                                        -999999.5,
                                        999999.49999999994,
                                        1e6,
                                        1e6 - 0.5,
                                        1e6 + 0.5,
                                        1000005.0,
                                        1000015.0,
                                        1000025.0,
                                        1000004.9999999999,
                                        1000005.0000000001,
                                        9999994.0,
                                        9999995.0,
                                        9999995.0000000009,
                                        9999985.0,
                                        9999999.999,
                                        1e7,
                                        1e7 - 1,
                                        1e7 + 5,
                                        6378137.0,
                                        -6378137.0,
                                        6356752.314245179,
                                        2320565.0,
                                        -2320555.0,
                                        4757835.0,
                                        3546675.0,
                                        std::nextafter(1e6, 0.0),
                                        std::nextafter(1e7, 0.0),
                                        std::nextafter(1000005.0, 0.0),
                                        std::nextafter(1000005.0, 2e6),
                                        0.5,
                                        2.5,
                                        1.25,
                                        0.000123456789,
                                        12.3456789,
                                        -12.3456785,
                                        100000.25,
                                        5.5e-5};
    for (double v : values) {
        EXPECT_EQ(fast(v), streamed(v)) << "value " << std::hexfloat << v;
    }
}

// Tile coordinates: every magnitude the Earth-centred frame produces, at random fractions,
// and exact ties at every tens digit of the fast path.
TEST(AppendObjNumber, MatchesStreamOnManyValues) {
    std::mt19937_64 random(20240601);
    std::uniform_real_distribution<double> coordinate(-7e6, 7e6);
    std::uniform_int_distribution<int> exponent(-40, 40);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    int mismatches = 0;
    for (int i = 0; i < 300000 && mismatches < 10; ++i) {
        const double values[] = {
            coordinate(random),
            std::ldexp(static_cast<double>(random() >> 11), -20), // many exact binary ties
            mantissa(random) * std::pow(10.0, exponent(random)),
            std::round(coordinate(random) / 10.0) * 10.0 + 5.0, // tens ties
            std::round(coordinate(random)) + 0.5,
        };
        for (double v : values) {
            if (fast(v) != streamed(v)) {
                ADD_FAILURE() << "value " << std::hexfloat << v << ": " << fast(v) << " vs "
                              << streamed(v);
                ++mismatches;
            }
        }
    }
}

TEST(AppendObjNumber, WritesTheSpecifiedVertexNumbers) {
    EXPECT_EQ(fast(6378137.0), "6.37814e+06");
    EXPECT_EQ(fast(-0.0), "-0");
    EXPECT_EQ(fast(999999.5), "1e+06");
    EXPECT_EQ(fast(-2320556.0), "-2.32056e+06");
}

TEST(AppendObjIndex, WritesDecimalWithoutLeadingZeros) {
    char text[10];
    EXPECT_EQ(std::string(text, appendObjIndex(text, 1)), "1");
    EXPECT_EQ(std::string(text, appendObjIndex(text, 50625)), "50625");
    EXPECT_EQ(std::string(text, appendObjIndex(text, 4294967295u)), "4294967295");
}

} // namespace
} // namespace skyframe
