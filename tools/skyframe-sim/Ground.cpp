#include "Ground.h"

#include "camera/Geodesy.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace skyframe {

namespace {

// Two tones of four hues, none of them near the markers' magenta: olive, sand, slate, stone.
constexpr Rgb kLightTones[4] = {{150, 170, 105}, {200, 175, 130}, {135, 160, 170}, {180, 180, 160}};
constexpr Rgb kDarkTones[4] = {{85, 105, 55}, {125, 100, 70}, {70, 90, 105}, {105, 105, 90}};

long floorIndex(double value) {
    return static_cast<long>(std::floor(value));
}

} // namespace

std::optional<double> intersectEllipsoid(const Eigen::Vector3d& origin,
                                         const Eigen::Vector3d& direction, double height) {
    const double a = kWgs84SemiMajorAxis + height;
    const double b = kWgs84SemiMajorAxis * std::sqrt(kWgs84OneMinusEccentricitySq) + height;
    // In coordinates scaled by the semi-axes the ellipsoid is the unit sphere.
    const Eigen::Vector3d o(origin.x() / a, origin.y() / a, origin.z() / b);
    const Eigen::Vector3d d(direction.x() / a, direction.y() / a, direction.z() / b);
    const double qa = d.dot(d);
    const double qb = o.dot(d);
    const double qc = o.dot(o) - 1.0;
    const double disc = qb * qb - qa * qc;
    if (qa == 0.0 || disc < 0.0) {
        return std::nullopt;
    }
    // Both roots without cancellation: q / qa and qc / q.
    const double q = -(qb + std::copysign(std::sqrt(disc), qb));
    double t0 = q / qa;
    double t1 = q != 0.0 ? qc / q : t0;
    if (t0 > t1) {
        std::swap(t0, t1);
    }
    if (t0 >= 0.0) {
        return t0;
    }
    if (t1 >= 0.0) {
        return t1; // the origin is inside
    }
    return std::nullopt;
}

Eigen::Vector3d pixelRay(const Camera& camera, double u, double v) {
    const Eigen::Vector3d sensor((u - camera.intrinsics(0, 2)) / camera.intrinsics(0, 0),
                                 (v - camera.intrinsics(1, 2)) / camera.intrinsics(1, 1), 1.0);
    return camera.rotation.transpose() * sensor;
}

Eigen::Vector2d surfaceLatLon(const Eigen::Vector3d& point, double height) {
    const double a = kWgs84SemiMajorAxis + height;
    const double b = kWgs84SemiMajorAxis * std::sqrt(kWgs84OneMinusEccentricitySq) + height;
    const double p = std::hypot(point.x(), point.y());
    return Eigen::Vector2d(std::atan2(point.z() * a * a, p * b * b) / kDegToRad,
                           std::atan2(point.y(), point.x()) / kDegToRad);
}

CheckerboardGround::CheckerboardGround(double height, double cellDegrees)
    : height_(height), cellDegrees_(cellDegrees) {
    if (!(cellDegrees > 0.0) || !std::isfinite(cellDegrees)) {
        throw std::invalid_argument("checkerboard square of " + std::to_string(cellDegrees) +
                                    " degrees is not a positive size");
    }
}

std::optional<Eigen::Vector3d>
CheckerboardGround::intersect(const Eigen::Vector3d& origin,
                              const Eigen::Vector3d& direction) const {
    const auto t = intersectEllipsoid(origin, direction, height_);
    if (!t) {
        return std::nullopt;
    }
    return Eigen::Vector3d(origin + *t * direction);
}

Rgb CheckerboardGround::colourAt(double latitude, double longitude) const {
    const long row = floorIndex(latitude / cellDegrees_);
    const long column = floorIndex(longitude / cellDegrees_);
    const long blockRow = floorIndex(latitude / (10.0 * cellDegrees_));
    const long blockColumn = floorIndex(longitude / (10.0 * cellDegrees_));
    const int hue = static_cast<int>((blockRow & 1) * 2 + (blockColumn & 1));
    return ((row + column) & 1) != 0 ? kLightTones[hue] : kDarkTones[hue];
}

void CheckerboardGround::render(const Camera& camera, RgbImage& image) const {
    const Eigen::Vector3d origin = camera.position;
    renderByGrid(
        image, GridSettings{}, kSkyColour,
        [&](double u, double v) {
            GroundSample s;
            const Eigen::Vector3d ray = pixelRay(camera, u, v);
            const auto t = intersectEllipsoid(origin, ray, height_);
            if (t) {
                const Eigen::Vector2d latLon = surfaceLatLon(origin + *t * ray, height_);
                s.hit = true;
                s.a = latLon.x();
                s.b = latLon.y();
                s.distance = *t * ray.norm();
            }
            return s;
        },
        [&](double latitude, double longitude) { return colourAt(latitude, longitude); });
}

PlainGround::PlainGround(double height, Rgb colour) : height_(height), colour_(colour) {}

std::optional<Eigen::Vector3d> PlainGround::intersect(const Eigen::Vector3d& origin,
                                                      const Eigen::Vector3d& direction) const {
    const auto t = intersectEllipsoid(origin, direction, height_);
    if (!t) {
        return std::nullopt;
    }
    return Eigen::Vector3d(origin + *t * direction);
}

void PlainGround::render(const Camera&, RgbImage& image) const {
    image.fill(colour_);
}

} // namespace skyframe
