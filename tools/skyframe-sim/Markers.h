#pragma once

// Registration markers: rings drawn into the video around the pixel where a known point
// projects, in a colour the overlay never uses, so that the overlay's shapes drawn over the
// video can be checked against them.

#include "RgbImage.h"
#include "Trajectory.h"

#include "camera/Camera.h"

#include <Eigen/Core>

#include <optional>
#include <vector>

namespace skyframe {

struct MarkerStyle {
    double radius = 20.0;   // pixels, to the middle of the ring's line
    double thickness = 3.0; // pixels
    Rgb colour{255, 0, 255};
};

// Pixel coordinates (u right, v down; the centre of pixel (x, y) is (x + 0.5, y + 0.5)) of
// a geodetic point, by Camera::projectGeodetic; nothing when the point lies behind the
// sensor or on its image plane, where a projection has no meaning.
std::optional<Eigen::Vector2d> projectMarker(const Camera& camera, const GeodeticPoint& point);

// Sets every pixel whose centre lies within thickness / 2 of the circle of `radius` around
// `centre` (pixel coordinates as above); pixels outside the image are skipped.
void drawRing(RgbImage& image, const Eigen::Vector2d& centre, const MarkerStyle& style);

// One ring per point in front of the sensor. Returns the number of rings that touch the
// image.
int drawMarkers(RgbImage& image, const Camera& camera, const std::vector<GeodeticPoint>& points,
                const MarkerStyle& style);

} // namespace skyframe
