#include "Trajectory.h"

#include "camera/Geodesy.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace skyframe {

HoverTrajectory::HoverTrajectory(const GeodeticPoint& point, double heading) {
    state_.latitude = point.latitude;
    state_.longitude = point.longitude;
    state_.altitude = point.height;
    state_.heading = heading;
}

PlatformState HoverTrajectory::at(double) const {
    return state_;
}

double headingOf(const Eigen::Vector3d& direction, double latitude, double longitude) {
    const double phi = latitude * kDegToRad;
    const double lambda = longitude * kDegToRad;
    const Eigen::Vector3d north(-std::sin(phi) * std::cos(lambda),
                                -std::sin(phi) * std::sin(lambda), std::cos(phi));
    const Eigen::Vector3d east(-std::sin(lambda), std::cos(lambda), 0.0);
    double heading = std::atan2(direction.dot(east), direction.dot(north)) / kDegToRad;
    if (heading < 0.0) {
        heading += 360.0;
    }
    return heading >= 360.0 ? 0.0 : heading;
}

RouteTrajectory::RouteTrajectory(const std::vector<GeodeticPoint>& waypoints, double speed,
                                 std::optional<double> altitude, std::size_t start)
    : speed_(speed) {
    if (!(speed > 0.0) || !std::isfinite(speed)) {
        throw std::invalid_argument("speed " + std::to_string(speed) +
                                    " m/s is not a positive speed");
    }
    if (start >= waypoints.size()) {
        throw std::invalid_argument("waypoint " + std::to_string(start) +
                                    " does not exist: the route has " +
                                    std::to_string(waypoints.size()) + " waypoints (0 to " +
                                    std::to_string(static_cast<long>(waypoints.size()) - 1) + ")");
    }
    for (std::size_t i = start; i < waypoints.size(); ++i) {
        const GeodeticPoint& w = waypoints[i];
        const double height = altitude ? *altitude : w.height;
        const Eigen::Vector3d p = geodeticToEcef(w.latitude, w.longitude, height);
        // A waypoint repeated in place would make a leg without a direction.
        if (!points_.empty() && (p - points_.back()).norm() < 1e-3) {
            continue;
        }
        cumulative_.push_back(points_.empty() ? 0.0
                                              : cumulative_.back() + (p - points_.back()).norm());
        points_.push_back(p);
        heights_.push_back(height);
    }
    if (points_.size() < 2) {
        throw std::invalid_argument("the route from waypoint " + std::to_string(start) +
                                    " has no leg to fly");
    }
}

double RouteTrajectory::arrivalTime(std::size_t index) const {
    return cumulative_.at(index) / speed_;
}

PlatformState RouteTrajectory::at(double seconds) const {
    const double distance = seconds * speed_;
    // The leg flown at that distance; before the start and past the end, the first and the
    // last leg, extended.
    const auto next = std::upper_bound(cumulative_.begin(), cumulative_.end(), distance);
    std::size_t leg =
        next == cumulative_.begin() ? 0 : static_cast<std::size_t>(next - cumulative_.begin() - 1);
    leg = std::min(leg, points_.size() - 2);
    const Eigen::Vector3d& a = points_[leg];
    const Eigen::Vector3d& b = points_[leg + 1];
    const double legLength = cumulative_[leg + 1] - cumulative_[leg];
    const double fraction = (distance - cumulative_[leg]) / legLength;

    const Eigen::Vector3d position = a + (b - a) * fraction;
    const Eigen::Vector3d geodetic = ecefToGeodetic(position);
    PlatformState s;
    s.latitude = geodetic.x();
    s.longitude = geodetic.y();
    // The straight chord sags below the flight height between the waypoints (by about
    // 0.2 m on a 3 km leg); the height is interpolated instead, so that a level flight is
    // exactly level.
    const double clamped = std::clamp(fraction, 0.0, 1.0);
    s.altitude = heights_[leg] + (heights_[leg + 1] - heights_[leg]) * clamped;
    s.heading = headingOf(b - a, s.latitude, s.longitude);
    return s;
}

std::vector<GeodeticPoint> toGeodetic(const osg::Vec3Array& points) {
    std::vector<GeodeticPoint> result;
    result.reserve(points.size());
    for (const osg::Vec3f& p : points) {
        const Eigen::Vector3d g = ecefToGeodetic(Eigen::Vector3d(p.x(), p.y(), p.z()));
        result.push_back({g.x(), g.y(), g.z()});
    }
    return result;
}

} // namespace skyframe
