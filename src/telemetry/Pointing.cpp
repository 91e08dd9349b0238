#include "telemetry/Pointing.h"

#include <cmath>

namespace skyframe {

namespace {
constexpr double kDegToRad = 0.017453292519943295;
constexpr double kRadToDeg = 57.295779513082323;
} // namespace

RelativePointing relativePointing(double heading, double pitch, double roll, double absoluteAzimuth,
                                  double absoluteElevation) {
    const double ch = std::cos(heading * kDegToRad), sh = std::sin(heading * kDegToRad);
    const double cp = std::cos(pitch * kDegToRad), sp = std::sin(pitch * kDegToRad);
    const double cr = std::cos(roll * kDegToRad), sr = std::sin(roll * kDegToRad);
    const double ca = std::cos(absoluteAzimuth * kDegToRad);
    const double sa = std::sin(absoluteAzimuth * kDegToRad);
    const double ce = std::cos(absoluteElevation * kDegToRad);
    const double se = std::sin(absoluteElevation * kDegToRad);

    // Line of sight in north, east, down components.
    const double n = ce * ca, e = ce * sa, d = -se;
    // The platform's forward, right and down axes in the same components: the rows of the
    // heading-pitch-roll direction cosine matrix.
    const double fwd[3] = {cp * ch, cp * sh, -sp};
    const double right[3] = {sr * sp * ch - cr * sh, sr * sp * sh + cr * ch, sr * cp};
    const double down[3] = {cr * sp * ch + sr * sh, cr * sp * sh - sr * ch, cr * cp};
    const double x = fwd[0] * n + fwd[1] * e + fwd[2] * d;
    const double y = right[0] * n + right[1] * e + right[2] * d;
    const double z = down[0] * n + down[1] * e + down[2] * d;

    RelativePointing out;
    const double horizontal = std::hypot(x, y);
    out.elevation = std::atan2(-z, horizontal) * kRadToDeg;
    // Below this the line of sight runs along the down axis and its azimuth is only noise.
    constexpr double kVertical = 1e-12;
    double azimuth = horizontal > kVertical ? std::atan2(y, x) * kRadToDeg : 0.0;
    if (azimuth < 0.0) {
        azimuth += 360.0;
    }
    out.azimuth = azimuth;
    return out;
}

double localBearing(double latitude, double longitude, double toLatitude, double toLongitude) {
    constexpr double a = 6378137.0;
    constexpr double e2 = 0.006694379990141124;
    const double phi = latitude * kDegToRad;
    const double w = 1.0 - e2 * std::sin(phi) * std::sin(phi);
    const double meridian = a * (1.0 - e2) / (w * std::sqrt(w));
    const double primeVertical = a / std::sqrt(w);
    double dLon = toLongitude - longitude;
    dLon -= 360.0 * std::round(dLon / 360.0);
    const double north = (toLatitude - latitude) * kDegToRad * meridian;
    const double east = dLon * kDegToRad * primeVertical * std::cos(phi);
    const double bearing = std::atan2(east, north) * kRadToDeg;
    return bearing < 0.0 ? bearing + 360.0 : bearing;
}

} // namespace skyframe
