#include "telemetry/Pointing.h"

#include "camera/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>

namespace skyframe {
namespace {

// The line of sight of absolute angles in Earth-centred components, from the local north,
// east and down vectors at the position (textbook formulas, not the rotation chain).
Eigen::Vector3d absoluteLineOfSight(double lat, double lon, double azimuth, double elevation) {
    const double p = lat * kDegToRad, l = lon * kDegToRad;
    const double a = azimuth * kDegToRad, e = elevation * kDegToRad;
    const Eigen::Vector3d north(-std::sin(p) * std::cos(l), -std::sin(p) * std::sin(l),
                                std::cos(p));
    const Eigen::Vector3d east(-std::sin(l), std::cos(l), 0.0);
    const Eigen::Vector3d down(-std::cos(p) * std::cos(l), -std::cos(p) * std::sin(l),
                               -std::sin(p));
    return std::cos(e) * std::cos(a) * north + std::cos(e) * std::sin(a) * east -
           std::sin(e) * down;
}

TEST(RelativePointing, ChainOfConvertedAnglesGivesTheAbsoluteLineOfSight) {
    const struct {
        double lat, lon, heading, pitch, roll, azimuth, elevation;
    } cases[] = {
        {0, 0, 0, 0, 0, 0, 0},
        {38.25, -77.37, 257.2, 1.08, 1.85, 124.57, -37.55}, // the aphill recording
        {38.25, -77.37, -102.8, 1.08, 1.85, 124.57, -37.55},
        {60.18, 128.43, 159.97, -0.43, 3.41, 200.0, -89.0},
        {-33.9, 151.2, 10.0, 15.0, -30.0, 350.0, 5.0},
        {10, 20, 30, 5, -2, 75, -30},
        {0, 0, 45, 20, 50, 300, -60},
        {89.0, 0, 90, -20, 10, 0, -10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.heading << " " << c.pitch << " " << c.roll << " "
                                        << c.azimuth << " " << c.elevation);
        const RelativePointing rel =
            relativePointing(c.heading, c.pitch, c.roll, c.azimuth, c.elevation);
        EXPECT_GE(rel.azimuth, 0.0);
        EXPECT_LT(rel.azimuth, 360.0);
        EXPECT_LE(std::abs(rel.elevation), 90.0);
        const Eigen::Matrix3d R =
            sensorRotation(c.lon, c.lat, c.heading, c.pitch, c.roll, rel.azimuth, rel.elevation);
        const Eigen::Vector3d chain = R.row(2).transpose();
        const Eigen::Vector3d expected = absoluteLineOfSight(c.lat, c.lon, c.azimuth, c.elevation);
        EXPECT_LT((chain - expected).norm(), 1e-12);
    }
}

// On a level platform the relative azimuth is the absolute one less the heading.
TEST(RelativePointing, LevelPlatform) {
    const struct {
        double heading, azimuth, elevation, relAzimuth;
    } cases[] = {{0, 124.5, -37.5, 124.5}, {90, 90, 0, 0}, {270, 10, -5, 100}, {350, 340, 20, 350}};
    for (const auto& c : cases) {
        const RelativePointing rel = relativePointing(c.heading, 0, 0, c.azimuth, c.elevation);
        EXPECT_NEAR(rel.azimuth, c.relAzimuth, 1e-9);
        EXPECT_NEAR(rel.elevation, c.elevation, 1e-9);
    }
    // Straight down the platform's down axis: the azimuth is undefined and given as 0.
    const RelativePointing down = relativePointing(30, 0, 0, 77, -90);
    EXPECT_NEAR(down.elevation, -90.0, 1e-9);
    EXPECT_NEAR(down.azimuth, 0.0, 1e-6);
}

} // namespace
} // namespace skyframe
