#pragma once

#include "camera/Geodesy.h"

#include <cmath>

namespace skyframe {

// geodeticToEcef split into its latitude and longitude factors, so that a grid of samples
// computes each row's and each column's sines once. The arithmetic is geodeticToEcef's,
// operation for operation, so the results are the same bits.
struct EcefLatitude {
    double sinPhi;
    double cosPhi;
    double primeVerticalRadius; // metres

    explicit EcefLatitude(double latitude) // degrees
        : sinPhi(std::sin(latitude * kDegToRad)), cosPhi(std::cos(latitude * kDegToRad)),
          primeVerticalRadius(kWgs84SemiMajorAxis /
                              std::sqrt(1.0 - kWgs84EccentricitySq * sinPhi * sinPhi)) {}
};

struct EcefLongitude {
    double cosLambda;
    double sinLambda;

    explicit EcefLongitude(double longitude) // degrees
        : cosLambda(std::cos(longitude * kDegToRad)), sinLambda(std::sin(longitude * kDegToRad)) {}
};

// Earth-centred (x, y, z) in metres of the point at a row's latitude, a column's longitude
// and height metres above the ellipsoid.
inline Eigen::Vector3d ecefAt(const EcefLatitude& row, const EcefLongitude& column, double height) {
    const double q = (row.primeVerticalRadius + height) * row.cosPhi;
    return Eigen::Vector3d(q * column.cosLambda, q * column.sinLambda,
                           (row.primeVerticalRadius * kWgs84OneMinusEccentricitySq + height) *
                               row.sinPhi);
}

} // namespace skyframe
