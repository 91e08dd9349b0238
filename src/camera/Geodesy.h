#pragma once

#include <Eigen/Core>

namespace skyframe {

// Degrees to radians, the one conversion factor used across the system.
constexpr double kDegToRad = 0.017453292519943295;

// WGS84 ellipsoid. 1 - e^2 is kept as its own constant rather than computed, so that
// every conversion in the system produces bit-identical coordinates.
constexpr double kWgs84SemiMajorAxis = 6378137.0; // metres
constexpr double kWgs84EccentricitySq = 0.006694379990141124;
constexpr double kWgs84OneMinusEccentricitySq = 0.9933056200098589;

// Geodetic WGS84 position to Earth-centred, Earth-fixed Cartesian coordinates.
//   latitude  geodetic latitude (degrees, north positive)
//   longitude longitude (degrees, east positive)
//   height    height above the ellipsoid along its normal (metres)
// Returns (x, y, z) in metres: X through (0 N, 0 E), Y through (0 N, 90 E), Z through the
// north pole. Every position in the scene (sensor, route, targets, terrain) comes out of
// this one function, which is what makes them line up.
Eigen::Vector3d geodeticToEcef(double latitude, double longitude, double height);

// Geodetic WGS84 position of an Earth-centred point: the inverse of geodeticToEcef.
// Returns (latitude, longitude, height): degrees (latitude -90..90, longitude -180..180,
// east positive) and metres above the ellipsoid. Accurate to well below a millimetre for
// every point more than 100 km from the Earth's centre; on the polar axis the longitude
// is 0.
Eigen::Vector3d ecefToGeodetic(const Eigen::Vector3d& ecef);

// Rotation from Earth-centred directions to the sensor's axes.
//   longitude, latitude          sensor position (degrees; note longitude comes first)
//   heading, pitch, roll         platform attitude (degrees)
//   azimuth, elevation           sensor pointing relative to the platform (degrees)
// Rows of the result are the sensor's x (image right), y (image down) and z (line of sight)
// axes in Earth-centred components, so q = R * v maps a direction into sensor coordinates.
// The platform turns heading, pitch, roll about its successively moved down, right and
// forward axes of the local north-east-down frame; the sensor then turns azimuth about the
// platform's down axis and elevation about its right axis. There is no rotation about the
// line of sight (the sensor's relative roll is not an input). With every angle 0 the line of
// sight points north along the horizon, image right is east and image down is down.
Eigen::Matrix3d sensorRotation(double longitude, double latitude, double heading, double pitch,
                               double roll, double azimuth, double elevation);

} // namespace skyframe
