#include "camera/Camera.h"

#include "camera/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>

namespace skyframe {
namespace {

const double kFov[2] = {90.0, 60.0};
const double kPosition[3] = {0.0, 0.0, 1000.0};
const double kLevel[3] = {0.0, 0.0, 0.0};
const double kNadir[3] = {0.0, -90.0, 0.0};

TEST(Camera, ConstructedCameraIsIdentityAtOrigin) {
    const Camera c(1920, 1080);
    EXPECT_EQ(c.imageWidth, 1920.0);
    EXPECT_EQ(c.imageHeight, 1080.0);
    EXPECT_TRUE(c.getIntrinsics().isIdentity(0.0));
    EXPECT_TRUE(c.getRotation().isIdentity(0.0));
    EXPECT_TRUE(c.getPosition().isZero(0.0));
    const Camera d;
    EXPECT_EQ(d.imageWidth, 0.0);
    EXPECT_TRUE(d.intrinsics.isIdentity(0.0));
}

TEST(Camera, PoseAtEquatorLookingNorth) {
    Camera c(1920, 1080);
    c.updatePose(kFov, kPosition, kLevel, kLevel);
    const Eigen::Matrix3d k = c.getIntrinsics();
    EXPECT_NEAR(k(0, 0), 960.0, 1e-9);
    EXPECT_NEAR(k(1, 1), 540.0 / std::tan(M_PI / 6.0), 1e-9);
    EXPECT_NEAR(k(1, 1), 935.3074360871938, 1e-9);
    EXPECT_EQ(k(0, 2), 960.0);
    EXPECT_EQ(k(1, 2), 540.0);
    EXPECT_EQ(k(2, 2), 1.0);
    EXPECT_EQ(k(0, 1), 0.0);
    EXPECT_EQ(k(1, 0), 0.0);
    Eigen::Matrix3d r;
    r << 0, 1, 0, -1, 0, 0, 0, 0, 1;
    EXPECT_NEAR((c.getRotation() - r).norm(), 0.0, 1e-12);
    EXPECT_NEAR((c.getPosition() - Eigen::Vector3d(6379137, 0, 0)).norm(), 0.0, 1e-6);
    EXPECT_NEAR((c.getTranslation() - Eigen::Vector3d(0, 6379137, 0)).norm(), 0.0, 1e-6);
}

TEST(Camera, NadirProjectionOfNearbyGroundPoints) {
    Camera c(1920, 1080);
    c.updatePose(kFov, kPosition, kNadir, kLevel);
    const Eigen::Vector2d centre = c.projectGeodetic(0, 0, 0);
    EXPECT_NEAR(centre.x(), 960.0, 1e-6);
    EXPECT_NEAR(centre.y(), 540.0, 1e-6);
    // 0.001 degree of longitude at the equator is a * 0.001 * pi/180 = 111.319 m east,
    // seen from 1000 m up with fx = 960: 960 + 960 * 0.111319 (and a hair for curvature).
    const Eigen::Vector2d east = c.projectGeodetic(0, 0.001, 0);
    EXPECT_NEAR(east.x(), 1066.867, 1e-3);
    EXPECT_NEAR(east.y(), 540.0, 1e-6);
    // North is up in a nadir image whose top points north. 0.001 degree of latitude at the
    // equator is the meridian radius a(1 - e^2) times the angle: 110.574 m, 103.42 pixels up.
    const double meridianArc = 6378137.0 * (1.0 - 0.006694379990141124) * 0.001 * M_PI / 180.0;
    const Eigen::Vector2d north = c.projectGeodetic(0.001, 0, 0);
    EXPECT_NEAR(north.x(), 960.0, 1e-6);
    EXPECT_NEAR(north.y(), 540.0 - c.intrinsics(1, 1) * meridianArc / 1000.0, 2e-3);
    EXPECT_NEAR(north.y(), 436.579, 1e-3);
}

TEST(Camera, ProjectionIsIntrinsicsTimesExtrinsics) {
    Camera c(1280, 720);
    const double fov[2] = {31.0, 17.8};
    const double pos[3] = {33.4, -115.7, 2500.0};
    const double sensor[3] = {12.0, -35.0, 0.0};
    const double platform[3] = {71.0, 3.0, -4.0};
    c.updatePose(fov, pos, sensor, platform);
    const Eigen::MatrixXd e = c.getExtrinsics();
    ASSERT_EQ(e.rows(), 3);
    ASSERT_EQ(e.cols(), 4);
    EXPECT_NEAR((e.block<3, 3>(0, 0) - c.rotation).norm(), 0.0, 0.0);
    EXPECT_NEAR((e.col(3) - c.getTranslation()).norm(), 0.0, 1e-6);
    const Eigen::MatrixXd p = c.getProjection();
    EXPECT_NEAR((p - c.intrinsics * e).norm(), 0.0, 1e-6);

    // The pixel of a ground point agrees with the pinhole written out by hand.
    const Eigen::Vector3d x = geodeticToEcef(33.38, -115.69, 120.0);
    const Eigen::Vector3d q = c.rotation * (x - c.position);
    const Eigen::Vector2d uv = c.projectGeodetic(33.38, -115.69, 120.0);
    EXPECT_NEAR(uv.x(), c.intrinsics(0, 0) * q.x() / q.z() + 640.0, 1e-6);
    EXPECT_NEAR(uv.y(), c.intrinsics(1, 1) * q.y() / q.z() + 360.0, 1e-6);
}

TEST(Camera, SensorRelativeRollIsIgnored) {
    Camera a(640, 480), b(640, 480);
    const double pos[3] = {45.0, 7.0, 3000.0};
    const double platform[3] = {10.0, 2.0, 1.0};
    const double rollZero[3] = {20.0, -45.0, 0.0};
    const double rollFortyFive[3] = {20.0, -45.0, 45.0};
    a.updatePose(kFov, pos, rollZero, platform);
    b.updatePose(kFov, pos, rollFortyFive, platform);
    EXPECT_EQ(a.rotation, b.rotation);
    EXPECT_EQ(a.position, b.position);
    EXPECT_EQ(a.intrinsics, b.intrinsics);
}

} // namespace
} // namespace skyframe
