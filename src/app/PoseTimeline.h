#pragma once

// Telemetry placed on the video's clock: the camera inputs of every usable record at the
// time its data packet was presented, and the pose for any picture time interpolated
// between the two records that bracket it.

#include "app/TelemetryIntake.h"
#include "telemetry/KlvTally.h"

#include <deque>

namespace skyframe {

// The camera inputs of a usable record (see usableForPose): extractCameraData's five groups,
// with the heights made ellipsoid heights, the scene's: the sensor's from tag 75 when the
// record has it, else tag 15 (mean sea level) plus the EGM96 geoid height there; the frame
// centre's likewise from tag 25. The frame corners come along when the record has them.
CameraInputs cameraInputsOf(KlvRecord& record);

// Mean sea level height to ellipsoid height at a point. Without PROJ's geoid grid the
// height is taken as it is, after one warning.
double ellipsoidHeightOf(double mslHeight, double latitude, double longitude);

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
