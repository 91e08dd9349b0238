#include "OverlayMeasure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <sstream>

namespace skyframe::test {

bool isReferenceBox(const uint8_t* rgb) {
    return rgb[2] > 80 && rgb[0] < 40 && rgb[1] < 40;
}

bool isLabel(const uint8_t* rgb) {
    return rgb[0] > 150 && rgb[1] < 90 && rgb[2] < 90;
}

// Every pixel of the silhouette differs from the ground, brighter where lit, darker at the
// limb, so the silhouette's centroid is the projection of the sphere's centre.
bool isWaypointSphere(const uint8_t* rgb) {
    const int ground = 40;
    const bool differs = std::abs(rgb[0] - ground) > 6 || std::abs(rgb[1] - ground) > 6 ||
                         std::abs(rgb[2] - ground) > 6;
    return differs && !isMarkerMagenta(rgb) && !isReferenceBox(rgb) && !isLabel(rgb);
}

double Measurement::error() const {
    return std::hypot(shape.x - ring.x, shape.y - ring.y);
}

std::vector<Measurement> measure(const RgbImage& shot, const PictureArea& a) {
    std::vector<Measurement> result;
    for (const Ring& ring : findRings(shot, kRingRadius - 4.0, kRingRadius + 4.0)) {
        // Rings cut by the picture's edge are not whole shapes.
        if (ring.centre.x - kRingRadius < a.x0 + 2 ||
            ring.centre.x + kRingRadius > a.x0 + a.width - 2 ||
            ring.centre.y - kRingRadius < a.y0 + 2 ||
            ring.centre.y + kRingRadius > a.y0 + a.height - 2) {
            continue;
        }
        const double inner = ring.radius - 3.0;
        Point c;
        long area = 0;
        if (shapeCentroid(shot, ring.centre, inner, isReferenceBox, 1, 12, c, &area)) {
            // Measured only when no label touches the box.
            const double reach = 1.5 * std::sqrt(area / M_PI) + 3.0;
            Point label;
            if (!shapeCentroid(shot, c, reach, isLabel, 0, 1, label)) {
                result.push_back({"reference box", ring.centre, c});
            }
        } else if (shapeCentroid(shot, ring.centre, inner, isWaypointSphere, 2, 30, c, &area)) {
            // A silhouette filling the ring is a target's wide sphere, not a waypoint's. The
            // scene's light shines along the view axis, so a sphere far off that axis is lit
            // on its outer side and its dim inner limb merges with the ground: measured only
            // near the middle of the picture, where the lit silhouette is symmetric.
            const double offAxis = std::hypot(ring.centre.x - (a.x0 + a.width / 2.0),
                                              ring.centre.y - (a.y0 + a.height / 2.0));
            if (std::sqrt(area / M_PI) < inner - 6.0 && offAxis < 300.0) {
                result.push_back({"waypoint sphere", ring.centre, c});
            }
        }
    }
    return result;
}

std::string report(const std::vector<Measurement>& ms) {
    std::ostringstream text;
    for (const auto& m : ms) {
        text << "  " << m.kind << " ring (" << m.ring.x << ", " << m.ring.y << ") shape ("
             << m.shape.x << ", " << m.shape.y << ") off " << m.error() << " px\n";
    }
    return text.str();
}

std::vector<Measurement> spheres(const std::vector<Measurement>& ms) {
    std::vector<Measurement> out;
    std::copy_if(ms.begin(), ms.end(), std::back_inserter(out),
                 [](const Measurement& m) { return std::string(m.kind) == "waypoint sphere"; });
    return out;
}

} // namespace skyframe::test
