#include "Markers.h"

#include "camera/Geodesy.h"

#include <algorithm>
#include <cmath>

namespace skyframe {

std::optional<Eigen::Vector2d> projectMarker(const Camera& camera, const GeodeticPoint& point) {
    const Eigen::Vector3d x = geodeticToEcef(point.latitude, point.longitude, point.height);
    const double depth = camera.rotation.row(2).dot(x - camera.position);
    if (!(depth > 0.0)) {
        return std::nullopt;
    }
    return camera.projectGeodetic(point.latitude, point.longitude, point.height);
}

namespace {

// Whether the ring can touch the image at all; also keeps the pixel loops' bounds within
// int for projections far outside it.
bool ringTouches(const RgbImage& image, const Eigen::Vector2d& c, double reach) {
    return std::isfinite(c.x()) && std::isfinite(c.y()) && c.x() + reach >= 0.0 &&
           c.y() + reach >= 0.0 && c.x() - reach <= image.width && c.y() - reach <= image.height;
}

} // namespace

void drawRing(RgbImage& image, const Eigen::Vector2d& centre, const MarkerStyle& style) {
    const double half = style.thickness * 0.5;
    const double reach = style.radius + half;
    if (!ringTouches(image, centre, reach)) {
        return;
    }
    const double inner = std::max(0.0, style.radius - half);
    const double outer = style.radius + half;
    const int x0 = std::max(0, static_cast<int>(std::floor(centre.x() - reach)));
    const int x1 = std::min(image.width - 1, static_cast<int>(std::ceil(centre.x() + reach)));
    const int y0 = std::max(0, static_cast<int>(std::floor(centre.y() - reach)));
    const int y1 = std::min(image.height - 1, static_cast<int>(std::ceil(centre.y() + reach)));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double d = std::hypot(x + 0.5 - centre.x(), y + 0.5 - centre.y());
            if (d >= inner && d <= outer) {
                image.set(x, y, style.colour);
            }
        }
    }
}

int drawMarkers(RgbImage& image, const Camera& camera, const std::vector<GeodeticPoint>& points,
                const MarkerStyle& style) {
    int drawn = 0;
    for (const GeodeticPoint& p : points) {
        const auto pixel = projectMarker(camera, p);
        if (pixel && ringTouches(image, *pixel, style.radius + style.thickness * 0.5)) {
            drawRing(image, *pixel, style);
            ++drawn;
        }
    }
    return drawn;
}

} // namespace skyframe
