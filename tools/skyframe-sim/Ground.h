#pragma once

// The ground the simulated sensor films: what a pixel's ray meets, and the picture of it.

#include "RgbImage.h"

#include "camera/Camera.h"
#include "camera/Geodesy.h"

#include <Eigen/Core>

#include <optional>

namespace skyframe {

class Ground {
public:
    virtual ~Ground() = default;
    // First point (Earth-centred metres) where the ray from `origin` along `direction`
    // meets the ground, or nothing when it passes above it.
    virtual std::optional<Eigen::Vector3d> intersect(const Eigen::Vector3d& origin,
                                                     const Eigen::Vector3d& direction) const = 0;
    // Draws the ground (and the sky above it) as `camera` sees it; the image has the
    // camera's size.
    virtual void render(const Camera& camera, RgbImage& image) const = 0;
};

// Smallest t >= 0 at which origin + t * direction lies on the ellipsoid with the WGS84
// semi-axes lengthened by `height` metres (a close stand-in for the surface `height` above
// the ellipsoid: within millimetres for heights of a few kilometres), or nothing.
std::optional<double> intersectEllipsoid(const Eigen::Vector3d& origin,
                                         const Eigen::Vector3d& direction, double height);

// Earth-centred direction (not normalised) of the ray through the image point (u, v) of the
// camera's pixel coordinates: u to the right, v down, (0, 0) the top-left corner of the
// top-left pixel, so the centre of pixel (x, y) is (x + 0.5, y + 0.5).
Eigen::Vector3d pixelRay(const Camera& camera, double u, double v);

// Latitude and longitude of the point on the ellipsoid lengthened by `height` (see
// intersectEllipsoid) that `point` lies on: the direction of that surface's normal. Cheaper
// than ecefToGeodetic and exact enough to look up a ground pattern.
Eigen::Vector2d surfaceLatLon(const Eigen::Vector3d& point, double height);

// A latitude/longitude checkerboard at a constant height above the ellipsoid: squares of
// `cellDegrees` in two tones, in blocks of 10 x 10 squares whose hue changes from block to
// block so that the pattern can be told apart from place to place. The sky is light blue.
class CheckerboardGround : public Ground {
public:
    CheckerboardGround(double height, double cellDegrees);
    std::optional<Eigen::Vector3d> intersect(const Eigen::Vector3d& origin,
                                             const Eigen::Vector3d& direction) const override;
    void render(const Camera& camera, RgbImage& image) const override;

    // The colour of the pattern at a latitude and longitude (degrees).
    Rgb colourAt(double latitude, double longitude) const;

private:
    double height_;
    double cellDegrees_;
};

// One dark colour for the whole picture, ground and sky alike, so that what is drawn on it
// is easy to pick out. Rays meet the ellipsoid lengthened by `height`.
class PlainGround : public Ground {
public:
    explicit PlainGround(double height, Rgb colour = kColour);
    std::optional<Eigen::Vector3d> intersect(const Eigen::Vector3d& origin,
                                             const Eigen::Vector3d& direction) const override;
    void render(const Camera& camera, RgbImage& image) const override;

    static constexpr Rgb kColour{40, 40, 40};

private:
    double height_;
    Rgb colour_;
};

constexpr Rgb kSkyColour{150, 185, 220};

// Renders by a grid of exact samples: `sample` is called for the pixel-coordinate corners of
// cells of `cell` x `cell` pixels and returns whether its ray found something, two values to
// interpolate (latitude and longitude, degrees) and the distance along the ray. A cell whose
// four corners were all found, at distances that lie on one plane seen in perspective, and
// whose centre, sampled exactly, lies within `tolerance` pixels of where the corners put
// it, is filled by `shade` of the bilinear interpolation of the two values; elsewhere (edges
// of the ground, the horizon, hidden parts of the terrain) each pixel is sampled exactly at
// its centre. `metresPerDegree` converts the values' differences to metres. Pixels without
// a hit get `sky`.
struct GroundSample {
    bool hit = false;
    double a = 0.0, b = 0.0; // the two values to interpolate
    double distance = 0.0;   // metres along the ray, to detect occlusion edges
};
struct GridSettings {
    int cell = 8;            // pixels
    double tolerance = 0.25; // pixels
    double metresPerDegree = kWgs84SemiMajorAxis * kDegToRad;
};
template <typename Sample, typename Shade>
void renderByGrid(RgbImage& image, const GridSettings& grid, Rgb sky, Sample sample, Shade shade);

} // namespace skyframe

#include "GroundGrid.inl"
