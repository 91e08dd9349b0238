#include "app/FrameCenterCheck.h"

#include "camera/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace skyframe {
namespace {

TEST(Percentile, InterpolatesBetweenOrderStatistics) {
    EXPECT_TRUE(std::isnan(percentile({}, 50)));
    EXPECT_DOUBLE_EQ(percentile({7.0}, 95), 7.0);
    EXPECT_DOUBLE_EQ(percentile({3, 1, 2}, 50), 2.0);
    EXPECT_DOUBLE_EQ(percentile({4, 1, 3, 2}, 50), 2.5);
    // 11 values 0..10: the 95th percentile lies halfway between 9 and 10.
    std::vector<double> v;
    for (int i = 10; i >= 0; --i) {
        v.push_back(i);
    }
    EXPECT_DOUBLE_EQ(percentile(v, 95), 9.5);
    EXPECT_DOUBLE_EQ(percentile(v, 100), 10.0);
}

// A frame centre on the line of sight lands on the picture's centre; one moved sideways by d
// at range r lands fx * d / r pixels off it.
TEST(FrameCenterCheck, MeasuresTheCentresDistanceFromThePictureCentre) {
    Camera camera(1280, 720);
    const double fov[2] = {50.0, 30.0};
    const double position[3] = {33.4, -115.9, 3000.0};
    const double sensor[3] = {20.0, -35.0, 0.0};
    const double platform[3] = {75.0, 2.0, -3.0};
    camera.updatePose(fov, position, sensor, platform);
    const Eigen::Matrix3d R = camera.getRotation();
    const Eigen::Vector3d right = R.row(0).transpose(), sight = R.row(2).transpose();
    const double fx = camera.getIntrinsics()(0, 0);

    FrameCenterCheck check(1280, 720, ~0u);
    const double range = 4000.0;
    for (double d : {0.0, 20.0, -35.0}) {
        const Eigen::Vector3d p = camera.getPosition() + range * sight + d * right;
        Footprint f;
        f.centre = ecefToGeodetic(p);
        check.update(camera, f, true);
    }
    ASSERT_EQ(check.distances().size(), 3u);
    EXPECT_NEAR(check.distances()[0], 0.0, 1e-6);
    EXPECT_NEAR(check.distances()[1], fx * 20.0 / range, 1e-6);
    EXPECT_NEAR(check.distances()[2], fx * 35.0 / range, 1e-6);
    EXPECT_NE(check.summary().find("3 pictures, median"), std::string::npos) << check.summary();
    // A picture without a frame centre adds nothing.
    check.update(camera, Footprint{}, true);
    EXPECT_EQ(check.distances().size(), 3u);
}

} // namespace
} // namespace skyframe
