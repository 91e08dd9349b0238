#pragma once

// Where the simulated sensor looks, as ST 0601 carries it: azimuth and elevation relative
// to the platform.

#include "Trajectory.h"

#include <Eigen/Core>

namespace skyframe {

struct SensorAngles {
    double azimuth = 0.0;   // degrees 0..360, from the platform's nose toward its right wing
    double elevation = 0.0; // degrees -90..90, up from the platform's horizontal plane
};

// Straight down along the platform's down axis.
constexpr SensorAngles kLookDown{0.0, -90.0};

// Azimuth and elevation that put the line of sight through `target` (Earth-centred metres)
// for a platform in state `platform`, through the same rotation chain the camera uses, so
// that the target projects onto the image centre.
// A target straight below or above the sensor gets azimuth 0.
SensorAngles lookAt(const PlatformState& platform, const Eigen::Vector3d& target);

// Unit line of sight (Earth-centred) of a sensor pointed by `angles` on `platform`.
Eigen::Vector3d lineOfSight(const PlatformState& platform, const SensorAngles& angles);

} // namespace skyframe
