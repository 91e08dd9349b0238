#include "app/PoseTimeline.h"

#include "camera/Geodesy.h"
#include "camera/Geoid.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <stdexcept>

namespace skyframe {

namespace {

// a + f * (b - a) along the shorter way round a circle of `period` degrees, the result
// brought back into the range the angle came from.
double lerpAngle(double a, double b, double f, double period, double low) {
    const double d = std::remainder(b - a, period);
    double v = a + f * d;
    v = low + std::fmod(v - low, period);
    return v < low ? v + period : v;
}

double lerp(double a, double b, double f) {
    return a + f * (b - a);
}

} // namespace

double ellipsoidHeightOf(double mslHeight, double latitude, double longitude) {
    static bool warned = false;
    try {
        return mslHeight + geoidHeightEgm96(latitude, longitude);
    } catch (const std::exception& e) {
        if (!warned) {
            std::cerr << "warning: " << e.what() << "; mean sea level heights are used as they are"
                      << std::endl;
            warned = true;
        }
        return mslHeight;
    }
}

CameraInputs cameraInputsOf(KlvRecord& record) {
    CameraInputs in;
    extractCameraData(record, in.fov, in.sensorPosition, in.sensorAngles, in.platformAngles,
                      in.frameCenter);
    in.sensorPosition[2] = record.carries(&KlvRecord::sensorEllipsoidHeight)
                               ? record.sensorEllipsoidHeight
                               : ellipsoidHeightOf(record.sensorAltitude, record.sensorLatitude,
                                                   record.sensorLongitude);
    in.hasFrameCenter = record.carries(&KlvRecord::frameCenterLatitude) &&
                        record.carries(&KlvRecord::frameCenterLongitude);
    if (in.hasFrameCenter) {
        in.frameCenter[2] = ellipsoidHeightOf(
            record.frameCenterElevation, record.frameCenterLatitude, record.frameCenterLongitude);
    }
    in.hasCorners = record.hasCorners;
    for (int i = 0; i < 4; ++i) {
        in.corners[i][0] = record.cornerLatitude[i];
        in.corners[i][1] = record.cornerLongitude[i];
    }
    return in;
}

CameraInputs interpolateInputs(const CameraInputs& a, const CameraInputs& b, double f) {
    CameraInputs out;
    const Eigen::Vector3d pa =
        geodeticToEcef(a.sensorPosition[0], a.sensorPosition[1], a.sensorPosition[2]);
    const Eigen::Vector3d pb =
        geodeticToEcef(b.sensorPosition[0], b.sensorPosition[1], b.sensorPosition[2]);
    const Eigen::Vector3d g = ecefToGeodetic(pa + f * (pb - pa));
    for (int i = 0; i < 3; ++i) {
        out.sensorPosition[i] = g[i];
    }
    for (int i = 0; i < 2; ++i) {
        out.fov[i] = lerp(a.fov[i], b.fov[i], f);
    }
    // Heading, azimuth and the sensor's roll run 0..360; pitch, roll and elevation -180..180.
    out.platformAngles[0] = lerpAngle(a.platformAngles[0], b.platformAngles[0], f, 360.0, 0.0);
    out.platformAngles[1] = lerpAngle(a.platformAngles[1], b.platformAngles[1], f, 360.0, -180.0);
    out.platformAngles[2] = lerpAngle(a.platformAngles[2], b.platformAngles[2], f, 360.0, -180.0);
    out.sensorAngles[0] = lerpAngle(a.sensorAngles[0], b.sensorAngles[0], f, 360.0, 0.0);
    out.sensorAngles[1] = lerpAngle(a.sensorAngles[1], b.sensorAngles[1], f, 360.0, -180.0);
    out.sensorAngles[2] = lerpAngle(a.sensorAngles[2], b.sensorAngles[2], f, 360.0, 0.0);
    out.frameCenter[0] = lerp(a.frameCenter[0], b.frameCenter[0], f);
    out.frameCenter[1] = lerpAngle(a.frameCenter[1], b.frameCenter[1], f, 360.0, -180.0);
    out.frameCenter[2] = lerp(a.frameCenter[2], b.frameCenter[2], f);
    out.hasFrameCenter = a.hasFrameCenter && b.hasFrameCenter;
    out.hasCorners = a.hasCorners && b.hasCorners;
    for (int i = 0; i < 4; ++i) {
        out.corners[i][0] = lerp(a.corners[i][0], b.corners[i][0], f);
        out.corners[i][1] = lerpAngle(a.corners[i][1], b.corners[i][1], f, 360.0, -180.0);
    }
    return out;
}

void PoseTimeline::add(double time, const CameraInputs& inputs) {
    if (!std::isfinite(time)) {
        return;
    }
    auto it = std::upper_bound(samples_.begin(), samples_.end(), time,
                               [](double t, const Sample& s) { return t < s.time; });
    samples_.insert(it, Sample{time, inputs});
}

TimedPose PoseTimeline::fromSample(const Sample& s, double t) const {
    TimedPose p;
    p.valid = true;
    p.recordTime = s.time;
    p.inputs = s.inputs;
    p.stale = std::abs(t - s.time) > maxGap_;
    return p;
}

TimedPose PoseTimeline::at(double t) const {
    if (samples_.empty() || !std::isfinite(t)) {
        return {};
    }
    auto after = std::upper_bound(samples_.begin(), samples_.end(), t,
                                  [](double v, const Sample& s) { return v < s.time; });
    if (after == samples_.begin()) {
        return fromSample(samples_.front(), t);
    }
    const Sample& a = *(after - 1);
    if (after == samples_.end() || after->time - a.time > maxGap_ || after->time <= a.time) {
        return fromSample(a, t);
    }
    const Sample& b = *after;
    TimedPose p = fromSample(a, t);
    p.inputs = interpolateInputs(a.inputs, b.inputs, (t - a.time) / (b.time - a.time));
    p.stale = false;
    return p;
}

void PoseTimeline::forgetBefore(double t, double keepSeconds) {
    while (samples_.size() > 1 && samples_[1].time < t - keepSeconds) {
        samples_.pop_front();
    }
}

double PoseTimeline::latest() const {
    return samples_.empty() ? -std::numeric_limits<double>::infinity() : samples_.back().time;
}

} // namespace skyframe
