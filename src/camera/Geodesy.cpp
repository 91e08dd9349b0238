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

Eigen::Vector3d ecefToGeodetic(const Eigen::Vector3d& ecef) {
    const double a = kWgs84SemiMajorAxis;
    const double b = a * std::sqrt(kWgs84OneMinusEccentricitySq);
    const double e2 = kWgs84EccentricitySq;
    const double ep2 = e2 / kWgs84OneMinusEccentricitySq; // second eccentricity squared
    const double x = ecef.x(), y = ecef.y(), z = ecef.z();
    const double p = std::hypot(x, y); // distance from the polar axis

    // Bowring's iteration on the reduced latitude: each step gains several orders of
    // magnitude, so three steps reach the limits of double precision at any height
    // that matters; the start value is already within 0.2 arc-seconds on the surface.
    double beta = std::atan2(z * a, p * b);
    double phi = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double sb = std::sin(beta), cb = std::cos(beta);
        phi = std::atan2(z + ep2 * b * sb * sb * sb, p - e2 * a * cb * cb * cb);
        beta = std::atan2(b * std::sin(phi), a * std::cos(phi));
    }
    // Height along the normal, in a form that stays exact near the poles (where
    // p / cos(phi) would divide by almost zero) and near the equator alike.
    const double s = std::sin(phi), c = std::cos(phi);
    const double height = p * c + z * s - a * std::sqrt(1.0 - e2 * s * s);
    const double longitude = (p == 0.0) ? 0.0 : std::atan2(y, x);
    return Eigen::Vector3d(phi / kDegToRad, longitude / kDegToRad, height);
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
