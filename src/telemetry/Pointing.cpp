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
    double azimuth = horizontal > 0.0 ? std::atan2(y, x) * kRadToDeg : 0.0;
    if (azimuth < 0.0) {
        azimuth += 360.0;
    }
    out.azimuth = azimuth;
    return out;
}

} // namespace skyframe
