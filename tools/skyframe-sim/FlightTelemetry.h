#pragma once

// The telemetry of the simulated flight, frame by frame, as MISB ST 0601 local sets, and
// the camera the viewer makes of one.

#include "Ground.h"
#include "Pointing.h"
#include "Trajectory.h"

#include "camera/Camera.h"
#include "telemetry/KlvRecord.h"

#include <Eigen/Core>

#include <optional>
#include <vector>

namespace skyframe {

// Time stamp of frame 0: 2024-01-01 00:00:00 UTC, microseconds since 1970.
constexpr double kFlightEpochMicroseconds = 1704067200e6;

struct SensorPlan {
    // Earth-centred point (metres) the line of sight follows; none: ahead or down.
    std::optional<Eigen::Vector3d> target;
    // Without a target: degrees below the platform's horizontal plane, straight ahead along
    // the nose; none: straight down.
    std::optional<double> depression;
    double horizontalFov = 30.0; // degrees, full angle
    double verticalFov = 0.0;    // degrees, full angle
};

// Vertical field of view (degrees) of square pixels in a width x height picture whose
// horizontal field of view is `horizontalFov` degrees.
double verticalFovFor(double horizontalFov, int width, int height);

class FlightTelemetry {
public:
    // The three references must outlive the object.
    FlightTelemetry(const Trajectory& trajectory, const SensorPlan& sensor, const Ground& ground,
                    int fps);

    // The telemetry of frame `frame` (at frame / fps seconds; any integer, the flight is
    // extrapolated): time stamp, platform attitude, sensor position, fields of view, sensor
    // pointing (relative roll 0) and the frame centre, where the line of sight meets the
    // ground. A line of sight that misses the ground leaves the frame centre NaN, which the
    // encoder leaves out.
    KlvRecord at(long frame) const { return atSeconds(secondsOf(frame)); }
    // The same at any time (seconds from frame 0).
    KlvRecord atSeconds(double seconds) const;

    double secondsOf(long frame) const { return static_cast<double>(frame) / fps_; }

private:
    void addCorners(KlvRecord& record, const Eigen::Vector3d& origin, const PlatformState& p,
                    const SensorAngles& angles) const;

    const Trajectory& trajectory_;
    SensorPlan sensor_;
    const Ground& ground_;
    int fps_;
};

// The complete local set of a record: the fifteen decoded tags, the sensor's ellipsoid height
// (tag 75) and the frame's corners (tags 82-89) when the record has them, the mission identifier,
// platform designation, image source sensor, image coordinate system and version items, and
// the checksum. The items add up to 128 to 255 bytes, so the length is written in the
// one-byte long form 0x81 nn.
std::vector<unsigned char> encodeFlightPacket(const KlvRecord& record);

// The camera that the viewer makes of one KLV packet: the packet goes through the viewer's
// own intake (appendKlvRecords: the item walk of parseItems), extractCameraData and
// Camera::updatePose for a picture of width x height, so that a picture drawn with it and
// the overlay drawn from the same packet use bit-identical poses.
// Throws std::invalid_argument when the packet yields no record.
Camera cameraFromPacket(const std::vector<unsigned char>& packet, int width, int height);

} // namespace skyframe
