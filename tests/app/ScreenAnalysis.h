#pragma once

// Finds the simulator's marker rings in a screenshot and the overlay shapes drawn inside
// them, to measure how far the overlay lies from the video.

#include "TestSupport.h"

#include <functional>
#include <vector>

namespace skyframe::test {

struct Point {
    double x = 0.0;
    double y = 0.0;
};

struct Ring {
    Point centre;  // pixels, screen coordinates
    double radius; // pixels, to the middle of the ring's stroke
    int pixels;    // magenta pixels on it
};

// A pixel classifier: true for the pixels that belong to the shape looked for.
using PixelTest = std::function<bool(const uint8_t* rgb)>;

// Pure-ish magenta (the simulator's marker colour, which the overlay never uses), allowing
// for video compression.
bool isMarkerMagenta(const uint8_t* rgb);

// Groups marker pixels that lie within `linkDistance` of each other and fits a circle to
// each group of at least `minPixels` (least squares, so a ring partly hidden by a label or a
// leg still gives its true centre). Only circles with a radius within
// [minRadius, maxRadius] are returned.
std::vector<Ring> findRings(const RgbImage& image, double minRadius, double maxRadius,
                            int minPixels = 40, int linkDistance = 4);

// The centroid of the pixels inside `radius` of `centre` that pass `test` and stay set after
// eroding the mask by `erosion` pixels (which removes thin legs and connectors crossing a
// sphere or box). Returns false when fewer than `minPixels` remain.
// `area`, if given, receives the number of pixels the centroid was taken over.
bool shapeCentroid(const RgbImage& image, Point centre, double radius, const PixelTest& test,
                   int erosion, int minPixels, Point& centroid, long* area = nullptr);

} // namespace skyframe::test
