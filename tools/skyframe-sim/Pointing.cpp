#include "Pointing.h"

#include "camera/Geodesy.h"

#include <Eigen/Core>
#include <cmath>

namespace skyframe {

SensorAngles lookAt(const PlatformState& platform, const Eigen::Vector3d& target) {
    // With azimuth and elevation 0 the chain gives the platform's own axes: row 0 its
    // right wing, row 1 its down axis, row 2 its nose.
    const Eigen::Matrix3d axes =
        sensorRotation(platform.longitude, platform.latitude, platform.heading, platform.pitch,
                       platform.roll, 0.0, 0.0);
    const Eigen::Vector3d toTarget =
        target - geodeticToEcef(platform.latitude, platform.longitude, platform.altitude);
    const Eigen::Vector3d q = axes * toTarget;
    const double forward = q.z(), right = q.x(), down = q.y();
    SensorAngles angles;
    // Azimuth turns the nose toward the right wing about the down axis, then elevation
    // raises the line of sight about the turned right axis.
    angles.azimuth =
        (forward == 0.0 && right == 0.0) ? 0.0 : std::atan2(right, forward) / kDegToRad;
    if (angles.azimuth < 0.0) {
        angles.azimuth += 360.0;
    }
    angles.elevation = std::atan2(-down, std::hypot(forward, right)) / kDegToRad;
    return angles;
}

Eigen::Vector3d lineOfSight(const PlatformState& platform, const SensorAngles& angles) {
    const Eigen::Matrix3d r =
        sensorRotation(platform.longitude, platform.latitude, platform.heading, platform.pitch,
                       platform.roll, angles.azimuth, angles.elevation);
    return r.row(2).transpose();
}

} // namespace skyframe
