#include "app/CameraMatrices.h"

#include "camera/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace skyframe {
namespace {

TEST(ProjectionMatrix, NinetyDegreeFieldsGiveUnitDiagonal) {
    Camera camera(1280, 720);
    const double fov[2] = {90.0, 90.0};
    const double position[3] = {10.0, 20.0, 500.0};
    const double angles[3] = {0.0, 0.0, 0.0};
    camera.updatePose(fov, position, angles, angles);
    const osg::Matrixd p = projectionMatrixFor(camera);
    EXPECT_NEAR(p(0, 0), 1.0, 1e-12);
    EXPECT_NEAR(p(1, 1), 1.0, 1e-12);
    // Frustum with near 1 and far 10000.
    EXPECT_DOUBLE_EQ(p(2, 2), -10001.0 / 9999.0);
    EXPECT_DOUBLE_EQ(p(3, 2), -20000.0 / 9999.0);
    EXPECT_EQ(p(2, 3), -1.0);
    EXPECT_EQ(p(3, 3), 0.0);
    for (int i : {0, 1}) {
        for (int j = 0; j < 4; ++j) {
            if (i != j) {
                EXPECT_EQ(p(i, j), 0.0) << i << "," << j;
            }
        }
    }
}

// Points on the new near and far planes land on the depth range's ends; x and y in clip
// space do not move, so the picture's registration cannot change with the depth range.
TEST(ProjectionMatrix, DepthRangeMovesOnlyTheNearAndFarPlanes) {
    Camera camera(1280, 720);
    const double fov[2] = {50.0, 29.0};
    const double position[3] = {0.0, 0.0, 0.0};
    const double angles[3] = {0.0, 0.0, 0.0};
    camera.updatePose(fov, position, angles, angles);
    const osg::Matrixd sensorFrustum = projectionMatrixFor(camera);
    const osg::Matrixd p = withDepthRange(sensorFrustum, 150.0, 3.0e6);
    auto ndc = [](const osg::Matrixd& m, double x, double y, double z) {
        const osg::Vec4d c = osg::Vec4d(x, y, z, 1.0) * m;
        return osg::Vec3d(c.x() / c.w(), c.y() / c.w(), c.z() / c.w());
    };
    EXPECT_NEAR(ndc(p, 0.0, 0.0, -150.0).z(), -1.0, 1e-9);
    EXPECT_NEAR(ndc(p, 0.0, 0.0, -3.0e6).z(), 1.0, 1e-9);
    // 10 km: beyond the old far plane, inside the new range.
    EXPECT_GT(ndc(sensorFrustum, 0.0, 0.0, -1.0e4 - 1.0).z(), 1.0);
    EXPECT_LT(ndc(p, 0.0, 0.0, -1.0e4 - 1.0).z(), 1.0);
    for (const osg::Vec3d& e : {osg::Vec3d(120.0, -35.0, -900.0), osg::Vec3d(-4e3, 2e3, -2e4)}) {
        const osg::Vec3d a = ndc(sensorFrustum, e.x(), e.y(), e.z());
        const osg::Vec3d b = ndc(p, e.x(), e.y(), e.z());
        EXPECT_NEAR(a.x(), b.x(), 1e-12);
        EXPECT_NEAR(a.y(), b.y(), 1e-12);
    }
}

TEST(ViewMatrix, IdentityPoseFlipsYAndZ) {
    const Camera camera(640, 480);
    const osg::Matrixd v = viewMatrixFor(camera);
    const double expected[4][4] = {{1, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, -1, 0}, {0, 0, 0, 1}};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            EXPECT_NEAR(v(i, j), expected[i][j], 1e-15) << i << "," << j;
        }
    }
}

struct Pose {
    double fov[2];
    double position[3];
    double sensor[3];
    double platform[3];
};

// The scene graph must put every point on the pixel the sensor model gives it: run a point
// through view, projection and the viewport as OpenGL does and compare with projectGeodetic.
TEST(CameraMatrices, SceneCameraDrawsPointsOnTheSensorModelsPixels) {
    const std::vector<Pose> poses = {
        {{30.0, 17.0}, {33.3, -115.8, 2500.0}, {15.0, -40.0, 0.0}, {80.0, 2.0, -3.0}},
        {{60.0, 34.0}, {-41.0, 174.0, 800.0}, {-120.0, -10.0, 0.0}, {300.0, -5.0, 10.0}},
        {{5.0, 2.8}, {60.2, 128.4, 9000.0}, {0.0, -89.0, 0.0}, {10.0, 0.0, 0.0}},
    };
    const int width = 1280;
    const int height = 720;
    for (const Pose& pose : poses) {
        Camera camera(width, height);
        camera.updatePose(pose.fov, pose.position, pose.sensor, pose.platform);
        const osg::Matrixd vp = viewMatrixFor(camera) * projectionMatrixFor(camera);
        int checked = 0;
        for (double du = -0.03; du <= 0.03; du += 0.01) {
            for (double dv = -0.03; dv <= 0.03; dv += 0.01) {
                const double lat = pose.position[0] + du;
                const double lon = pose.position[1] + dv;
                const Eigen::Vector2d expected = camera.projectGeodetic(lat, lon, 100.0);
                const Eigen::Vector3d x = geodeticToEcef(lat, lon, 100.0);
                const osg::Vec4d clip = osg::Vec4d(x.x(), x.y(), x.z(), 1.0) * vp;
                if (clip.w() <= 0.0) {
                    continue; // behind the sensor: not drawn
                }
                const double column = (clip.x() / clip.w() + 1.0) * 0.5 * width;
                const double rowFromTop = (1.0 - clip.y() / clip.w()) * 0.5 * height;
                // A micro-pixel on screen; relative for points far outside it.
                EXPECT_NEAR(column, expected.x(), 1e-6 + 1e-11 * std::abs(expected.x()));
                EXPECT_NEAR(rowFromTop, expected.y(), 1e-6 + 1e-11 * std::abs(expected.y()));
                ++checked;
            }
        }
        EXPECT_GT(checked, 0);
    }
}

} // namespace
} // namespace skyframe
