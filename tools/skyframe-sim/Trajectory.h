#pragma once

// Where the simulated aircraft is at a given time: hovering at one point, or flying a
// mission's route leg after leg at a constant speed.

#include <osg/Array>

#include <Eigen/Core>

#include <cstddef>
#include <optional>
#include <vector>

namespace skyframe {

// A geodetic WGS84 position: degrees, degrees, metres above the ellipsoid.
struct GeodeticPoint {
    double latitude = 0.0;
    double longitude = 0.0;
    double height = 0.0;
};

// The platform at one instant, as ST 0601 describes it: position of the sensor (degrees,
// metres above the ellipsoid) and attitude (degrees; heading from north toward east).
struct PlatformState {
    double latitude = 0.0;
    double longitude = 0.0;
    double altitude = 0.0;
    double heading = 0.0;
    double pitch = 0.0;
    double roll = 0.0;
};

class Trajectory {
public:
    virtual ~Trajectory() = default;
    // The platform at `seconds` from the start of the flight; defined for every time,
    // negative ones and those past the end included (the flight is extrapolated).
    virtual PlatformState at(double seconds) const = 0;
};

// Stays at one point with a fixed heading, level.
class HoverTrajectory : public Trajectory {
public:
    HoverTrajectory(const GeodeticPoint& point, double heading);
    PlatformState at(double seconds) const override;

private:
    PlatformState state_;
};

// Flies the waypoints from `start` to the last one in straight legs (straight lines in the
// Earth-centred frame) at `speed` metres per second, level (pitch and roll 0), heading along
// the leg. `altitude` gives one flight height above the ellipsoid for every waypoint;
// without it each waypoint is flown at its own height and the height changes linearly
// along each leg. Before the start and after the last waypoint the flight goes on along the
// first and the last leg, at their end heights.
// Throws std::invalid_argument when the speed is not positive, `start` is not a waypoint,
// or fewer than two distinct waypoints are left to fly.
class RouteTrajectory : public Trajectory {
public:
    RouteTrajectory(const std::vector<GeodeticPoint>& waypoints, double speed,
                    std::optional<double> altitude, std::size_t start = 0);
    PlatformState at(double seconds) const override;

    // Length of the route flown, metres.
    double length() const { return cumulative_.back(); }
    // Seconds from the start to waypoint `index` of the flown route (0 is the start).
    double arrivalTime(std::size_t index) const;
    std::size_t waypointCount() const { return points_.size(); }

private:
    std::vector<Eigen::Vector3d> points_; // Earth-centred, at the flight heights
    std::vector<double> heights_;         // flight height of each waypoint, metres
    std::vector<double> cumulative_;      // distance from the start to each waypoint
    double speed_;
};

// Heading (degrees from north toward east, 0..360) of the direction `direction` (an
// Earth-centred vector) at the geodetic position (degrees): the direction projected on
// the local horizontal plane.
double headingOf(const Eigen::Vector3d& direction, double latitude, double longitude);

// Geodetic positions of Earth-centred points, as the mission and targets readers return
// them.
std::vector<GeodeticPoint> toGeodetic(const osg::Vec3Array& points);

} // namespace skyframe
