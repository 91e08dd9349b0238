#include "Pointing.h"

#include "camera/Camera.h"
#include "camera/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace skyframe {
namespace {

Camera cameraFor(const PlatformState& p, const SensorAngles& a) {
    const double fov[2] = {30.0, 17.0};
    const double position[3] = {p.latitude, p.longitude, p.altitude};
    const double sensor[3] = {a.azimuth, a.elevation, 0.0};
    const double platform[3] = {p.heading, p.pitch, p.roll};
    Camera c(1280, 720);
    c.updatePose(fov, position, sensor, platform);
    return c;
}

struct Case {
    PlatformState platform;
    GeodeticPoint target;
};

// The target must land on the image centre of the viewer's own camera model, whatever the
// attitude and wherever the target lies around the platform.
TEST(LookAt, PutsTheTargetOnTheImageCentre) {
    const std::vector<Case> cases = {
        {{33.50, -115.90, 3500, 0, 0, 0}, {33.47, -115.88, -8}},     // ahead, right, below
        {{33.50, -115.90, 3500, 137.9, 0, 0}, {33.52, -115.93, 39}}, // behind and to the left
        {{33.30, -115.60, 4000, 270, 0, 0}, {33.30, -115.70, 0}},    // straight ahead, far
        {{33.50, -115.90, 3500, 45, 5, -10}, {33.51, -115.90, 500}}, // pitched and rolled
        {{33.50, -115.90, 100, 90, 0, 0}, {33.50, -115.89, 400}},    // above the platform
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "heading " << c.platform.heading << " target "
                                        << c.target.latitude << " " << c.target.longitude);
        const SensorAngles a = lookAt(
            c.platform, geodeticToEcef(c.target.latitude, c.target.longitude, c.target.height));
        EXPECT_GE(a.azimuth, 0.0);
        EXPECT_LT(a.azimuth, 360.0);
        EXPECT_GE(a.elevation, -90.0);
        EXPECT_LE(a.elevation, 90.0);
        const Camera cam = cameraFor(c.platform, a);
        const Eigen::Vector2d uv =
            cam.projectGeodetic(c.target.latitude, c.target.longitude, c.target.height);
        EXPECT_NEAR(uv.x(), 640.0, 1e-6);
        EXPECT_NEAR(uv.y(), 360.0, 1e-6);
        // In front of the sensor, not behind it (a mirrored projection also hits the centre).
        const Eigen::Vector3d x =
            geodeticToEcef(c.target.latitude, c.target.longitude, c.target.height);
        EXPECT_GT(cam.rotation.row(2).dot(x - cam.position), 0.0);
    }
}

TEST(LookAt, GivesTheExpectedAnglesForSimpleGeometry) {
    const PlatformState p{33.5, -115.9, 3000.0, 0.0, 0.0, 0.0};
    // Straight below: elevation -90 (azimuth is then meaningless).
    const SensorAngles below = lookAt(p, geodeticToEcef(33.5, -115.9, 0.0));
    EXPECT_NEAR(below.elevation, -90.0, 1e-6);
    // 3 km east at the platform's own height less 3 km: 90 degrees right, about 45 down
    // (the Earth's curvature adds a few hundredths of a degree).
    const double east = 3000.0 / (6378137.0 * std::cos(33.5 * kDegToRad) * kDegToRad);
    const SensorAngles side = lookAt(p, geodeticToEcef(33.5, -115.9 + east, 0.0));
    EXPECT_NEAR(side.azimuth, 90.0, 0.05);
    EXPECT_NEAR(side.elevation, -45.0, 0.1);
    // With the platform heading east, the same point is dead ahead.
    const SensorAngles ahead =
        lookAt({33.5, -115.9, 3000.0, 90.0, 0.0, 0.0}, geodeticToEcef(33.5, -115.9 + east, 0.0));
    EXPECT_NEAR(std::min(ahead.azimuth, 360.0 - ahead.azimuth), 0.0, 0.05);
}

TEST(LineOfSight, PointsAtTheLookedAtTarget) {
    const PlatformState p{33.5, -115.9, 3500.0, 200.0, 0.0, 0.0};
    const Eigen::Vector3d target = geodeticToEcef(33.48, -115.95, 10.0);
    const Eigen::Vector3d los = lineOfSight(p, lookAt(p, target));
    const Eigen::Vector3d toTarget =
        (target - geodeticToEcef(p.latitude, p.longitude, p.altitude)).normalized();
    EXPECT_NEAR(los.norm(), 1.0, 1e-12);
    EXPECT_NEAR(los.dot(toTarget), 1.0, 1e-12);
    // Looking down: along the local down direction.
    const Eigen::Vector3d down = lineOfSight(p, kLookDown);
    const Eigen::Vector3d up =
        (geodeticToEcef(33.5, -115.9, 1.0) - geodeticToEcef(33.5, -115.9, 0.0));
    EXPECT_NEAR(down.dot(up.normalized()), -1.0, 1e-12);
}

} // namespace
} // namespace skyframe
