#include "camera/Geodesy.h"

#include <Eigen/Geometry>
#include <cmath>

namespace skyframe {

Eigen::Vector3d geodeticToEcef(double latitude, double longitude, double height) {
    const double phi = latitude * kDegToRad;
    const double lambda = longitude * kDegToRad;
    const double s = std::sin(phi);
    // Prime-vertical radius of curvature.
    const double n = kWgs84SemiMajorAxis / std::sqrt(1.0 - kWgs84EccentricitySq * s * s);
    const double q = (n + height) * std::cos(phi);
    return Eigen::Vector3d(q * std::cos(lambda), q * std::sin(lambda),
                           (n * kWgs84OneMinusEccentricitySq + height) * s);
}

namespace {

// A frame of three axis vectors turned together about one of them (or any axis), the axis
// taken from the frame before the turn.
struct Frame {
    Eigen::Vector3d forward, right, down;

    void turn(const Eigen::Vector3d& axis, double degrees) {
        const Eigen::AngleAxisd r(degrees * kDegToRad, axis);
        forward = r * forward;
        right = r * right;
        down = r * down;
    }
};

} // namespace

Eigen::Matrix3d sensorRotation(double longitude, double latitude, double heading, double pitch,
                               double roll, double azimuth, double elevation) {
    const double lambda = longitude * kDegToRad;
    const double phi = latitude * kDegToRad;

    // East and the negated X axis, turned to the meridian.
    const Eigen::AngleAxisd aboutZ(lambda, Eigen::Vector3d::UnitZ());
    const Eigen::Vector3d east = aboutZ * Eigen::Vector3d::UnitY();
    const Eigen::Vector3d west = aboutZ * Eigen::Vector3d(-1.0, -0.0, -0.0);

    // Tilting about the negated east axis by the latitude gives north and down.
    const Eigen::AngleAxisd aboutWest(phi, -east);
    Frame f{aboutWest * Eigen::Vector3d::UnitZ(), east, aboutWest * west};

    f.turn(f.down, heading);    // positive heading: forward from north toward east
    f.turn(f.right, pitch);     // positive pitch: nose up
    f.turn(f.forward, roll);    // positive roll: right wing down
    f.turn(f.down, azimuth);    // sensor azimuth: line of sight to the right
    f.turn(f.right, elevation); // sensor elevation: -90 looks along the platform's down axis

    Eigen::Matrix3d m;
    m.row(0) = f.right.transpose();
    m.row(1) = f.down.transpose();
    m.row(2) = f.forward.transpose();
    return m;
}

} // namespace skyframe
