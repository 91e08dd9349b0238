#include "Markers.h"

#include "camera/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace skyframe {
namespace {

bool isMagenta(const RgbImage& image, int x, int y) {
    const uint8_t* p = image.at(x, y);
    return p[0] == 255 && p[1] == 0 && p[2] == 255;
}

TEST(DrawRing, SetsThePixelsAroundTheCircleAndNothingElse) {
    RgbImage image(120, 100);
    const Eigen::Vector2d centre(60.3, 47.8);
    const MarkerStyle style; // radius 20, 3 thick
    drawRing(image, centre, style);
    int set = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const double d = std::hypot(x + 0.5 - centre.x(), y + 0.5 - centre.y());
            const bool onRing = d >= 18.5 && d <= 21.5;
            ASSERT_EQ(isMagenta(image, x, y), onRing) << x << " " << y << " at " << d;
            set += onRing;
        }
    }
    // The ring's area: pi * (21.5^2 - 18.5^2) = 377 pixels.
    EXPECT_NEAR(set, 377, 15);
}

TEST(DrawRing, ClipsAtTheEdgesAndSkipsRingsOutsideTheImage) {
    RgbImage image(40, 30);
    MarkerStyle style;
    style.radius = 10;
    drawRing(image, {-5.0, 15.0}, style); // partly outside on the left
    EXPECT_TRUE(isMagenta(image, 4, 15));
    EXPECT_FALSE(isMagenta(image, 0, 15));
    RgbImage untouched(40, 30);
    drawRing(untouched, {-20.0, 15.0}, style);
    drawRing(untouched, {60.0, 15.0}, style);
    drawRing(untouched, {20.0, 1e12}, style);
    drawRing(untouched, {NAN, 15.0}, style);
    for (uint8_t v : untouched.pixels) {
        ASSERT_EQ(v, 0);
    }
}

Camera downCamera() {
    const double fov[2] = {30.0, 17.14};
    const double position[3] = {33.5, -115.9, 3500.0};
    const double sensor[3] = {0.0, -90.0, 0.0};
    const double platform[3] = {0.0, 0.0, 0.0};
    Camera c(320, 180);
    c.updatePose(fov, position, sensor, platform);
    return c;
}

TEST(ProjectMarker, ProjectsPointsInFrontAndSkipsThoseBehind) {
    const Camera c = downCamera();
    const auto below = projectMarker(c, {33.5, -115.9, 0.0});
    ASSERT_TRUE(below.has_value());
    EXPECT_NEAR(below->x(), 160.0, 1e-6);
    EXPECT_NEAR(below->y(), 90.0, 1e-6);
    // A point above the sensor lies behind a camera looking down; its mirrored projection
    // would land inside the image, so it must be refused.
    EXPECT_FALSE(projectMarker(c, {33.5, -115.9, 5000.0}).has_value());
    EXPECT_FALSE(projectMarker(c, {33.5, -115.9, 3500.0}).has_value());
    const Eigen::Vector2d mirrored = c.projectGeodetic(33.5001, -115.9, 5000.0);
    EXPECT_GT(mirrored.x(), 0.0);
    EXPECT_LT(mirrored.x(), 320.0);
}

TEST(DrawMarkers, RingsEveryVisiblePointInFrontOfTheSensor) {
    const Camera c = downCamera();
    const std::vector<GeodeticPoint> points = {
        {33.5, -115.9, 0.0},      // image centre
        {33.502, -115.9, 1300.0}, // a little north (up in the picture), higher
        {33.5, -115.9, 6000.0},   // above the sensor: behind it
        {34.0, -115.9, 0.0},      // far outside the picture
    };
    RgbImage image(320, 180);
    MarkerStyle style;
    style.radius = 8;
    EXPECT_EQ(drawMarkers(image, c, points, style), 2);
    EXPECT_TRUE(isMagenta(image, 160 + 8, 90));
    EXPECT_FALSE(isMagenta(image, 160, 90));
    const Eigen::Vector2d north = *projectMarker(c, points[1]);
    EXPECT_LT(north.y(), 90.0);
    EXPECT_TRUE(isMagenta(image, static_cast<int>(north.x()), static_cast<int>(north.y() - 8)));
}

} // namespace
} // namespace skyframe
