#pragma once

// Telemetry placed on the video's clock: the camera inputs of every usable record at the
// time its data packet was presented, and the pose for any picture time interpolated
// between the two records that bracket it.

#include "app/TelemetryIntake.h"

#include <deque>

namespace skyframe {

// A record can pose the camera only when its walk succeeded (status 0, or -1: an
// out-of-range marker leaves only that field out), it carries the sensor's latitude,
// longitude and altitude and both fields of view, the fields of view lie strictly between 0
// and 180 degrees, and every value it hands out is finite.
bool usableForPose(const KlvRecord& record);

// The camera inputs a record hands out (extractCameraData's five groups).
CameraInputs cameraInputsOf(KlvRecord& record);

// Inputs between a (f = 0) and b (f = 1): the sensor position along the straight line
// between the two Earth-centred points, every angle along the shorter arc (headings and
// azimuths wrap at 360, the others at +-180), fields of view and the frame centre linearly.
CameraInputs interpolateInputs(const CameraInputs& a, const CameraInputs& b, double f);

// The pose for one picture.
struct TimedPose {
    bool valid = false;      // false until a usable record has arrived
    bool stale = false;      // the record in use is more than the allowed gap away
    double recordTime = 0.0; // telemetry time of the record in use (seconds)
    CameraInputs inputs;
};

class PoseTimeline {
public:
    // Records further apart than maxGapSeconds are not interpolated across.
    explicit PoseTimeline(double maxGapSeconds = 2.0) : maxGap_(maxGapSeconds) {}

    // Adds the inputs of one usable record at its time (seconds). Records may arrive out of
    // time order (B-frame files stamp data packets out of order); the timeline keeps order.
    void add(double time, const CameraInputs& inputs);

    // The pose at picture time t: interpolated between the records that bracket t; before
    // the first record or after the last, the nearest; across a gap longer than the allowed
    // one, the earlier record, reported stale once t is more than the gap past it.
    TimedPose at(double t) const;

    // Forgets records more than `keepSeconds` older than t, keeping the one that brackets t.
    void forgetBefore(double t, double keepSeconds = 30.0);

    void clear() { samples_.clear(); }
    bool empty() const { return samples_.empty(); }
    std::size_t size() const { return samples_.size(); }
    // Time of the latest record (seconds); -infinity when empty.
    double latest() const;

private:
    struct Sample {
        double time;
        CameraInputs inputs;
    };
    TimedPose fromSample(const Sample& s, double t) const;

    double maxGap_;
    std::deque<Sample> samples_;
};

} // namespace skyframe
