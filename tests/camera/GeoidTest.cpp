#include "camera/Geoid.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

namespace skyframe {
namespace {

struct Place {
    const char* name;
    double latitude, longitude; // degrees
};

// The geoid's extremes and a few ordinary places, over both hemispheres and the date line.
const Place kPlaces[] = {
    {"Salton Sea", 33.5, -116.0},          {"Gulf of Guinea", 0.0, 0.0},
    {"off Sri Lanka (lowest)", 4.7, 78.8}, {"New Guinea (high)", -5.0, 145.0},
    {"Everest", 27.9881, 86.9253},         {"near the south pole", -89.9, 30.0},
    {"date line", 60.0, -179.9},           {"grid node", 45.25, 7.5},
};

// PROJ's own command-line answer: mean sea level height (EPSG:5773, EGM96) of the point on
// the WGS84 ellipsoid (EPSG:4979), which is minus the geoid height.
std::vector<double> cs2csGeoidHeights() {
    std::ostringstream points;
    for (const Place& p : kPlaces) {
        points << p.latitude << ' ' << p.longitude << " 0\\n";
    }
    const auto dir = test::scratchDir("camera");
    const test::ProcessResult run = test::runProcess(
        {"sh", "-c", "printf '" + points.str() + "' | cs2cs -d 6 EPSG:4979 EPSG:4326+5773"}, dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<double> heights;
    for (const std::string& line : test::lines(run.out)) {
        std::istringstream fields(line);
        double latitude = 0.0, longitude = 0.0, msl = 0.0;
        if (fields >> latitude >> longitude >> msl) {
            heights.push_back(-msl);
        }
    }
    return heights;
}

TEST(GeoidHeightEgm96, AgreesWithProjsCommandLine) {
    if (std::system("command -v cs2cs > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "PROJ's cs2cs not installed (Debian package proj-bin)";
    }
    const std::vector<double> expected = cs2csGeoidHeights();
    ASSERT_EQ(expected.size(), std::size(kPlaces));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Place& p = kPlaces[i];
        // cs2cs prints micrometres.
        EXPECT_NEAR(geoidHeightEgm96(p.latitude, p.longitude), expected[i], 1e-5) << p.name;
    }
}

// Published bounds of the EGM96 geoid: -107 m south of India, +85 m over New Guinea.
TEST(GeoidHeightEgm96, StaysWithinTheGeoidsRange) {
    double lowest = 1e9, highest = -1e9;
    for (double latitude = -90.0; latitude <= 90.0; latitude += 1.0) {
        for (double longitude = -180.0; longitude < 180.0; longitude += 1.0) {
            const double n = geoidHeightEgm96(latitude, longitude);
            lowest = std::min(lowest, n);
            highest = std::max(highest, n);
        }
    }
    EXPECT_GT(lowest, -108.0);
    EXPECT_LT(lowest, -100.0);
    EXPECT_GT(highest, 80.0);
    EXPECT_LT(highest, 86.0);
}

TEST(GeoidHeightEgm96, GivesTheSameAnswerOnEveryThread) {
    const double expected = geoidHeightEgm96(33.5, -116.0);
    std::vector<double> answers(4, 0.0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < answers.size(); ++t) {
        threads.emplace_back([&answers, t] { answers[t] = geoidHeightEgm96(33.5, -116.0); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (double answer : answers) {
        EXPECT_EQ(answer, expected);
    }
}

} // namespace
} // namespace skyframe
