#pragma once

// How far the overlay's shapes lie from the simulator's marker rings: the simulator draws a
// magenta ring around the pixel where every target reference point and route waypoint is in
// its video, and the viewer draws reference boxes and waypoint spheres over them.

#include "ScreenAnalysis.h"

#include <string>
#include <vector>

namespace skyframe::test {

constexpr double kRingRadius = 30.0; // pixels, as the flights are simulated

// All three lit faces of the opaque blue cube (the shading differs per face): the centroid
// of the whole silhouette is the projection of the cube's centre.
bool isReferenceBox(const uint8_t* rgb);
// The red text of a label; a box it hides in part cannot be measured.
bool isLabel(const uint8_t* rgb);
// Waypoint spheres, blended over the simulator's plain ground (40, 40, 40).
bool isWaypointSphere(const uint8_t* rgb);

struct Measurement {
    const char* kind;
    Point ring;
    Point shape;
    double error() const;
};

// Where the picture lies in an image: its top-left corner and size (pixels).
struct PictureArea {
    int x0;
    int y0;
    int width;
    int height;
};

// Measures the shapes inside the picture's area of `shot`.
std::vector<Measurement> measure(const RgbImage& shot, const PictureArea& area);

// One line per measurement, for failure messages.
std::string report(const std::vector<Measurement>& ms);

// Spheres only: a sphere's silhouette is centred on its centre's projection from any side,
// while a cube seen obliquely shows its top and one side and its silhouette's centroid
// leans toward them by up to a pixel.
std::vector<Measurement> spheres(const std::vector<Measurement>& ms);

} // namespace skyframe::test
