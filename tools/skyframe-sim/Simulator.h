#pragma once

// skyframe-sim's flight: telemetry and pictures frame by frame into an MPEG-TS file.

#include "FlightTelemetry.h"
#include "Ground.h"
#include "Markers.h"
#include "RgbImage.h"
#include "Trajectory.h"

#include "camera/Camera.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace skyframe {

enum class GroundKind {
    Checkerboard, // latitude/longitude squares at groundHeight
    Plain,        // one dark colour
    Terrain,      // shaded relief of the DTED cells dtedPaths
};

struct SimOptions {
    std::string output;

    // Video.
    int width = 1280;
    int height = 720;
    int fps = 30;
    double duration = 10.0; // seconds
    int crf = 20;           // libx264 constant quality

    // Flight: hovering at a point, or along the mission's route.
    std::optional<GeodeticPoint> hover; // none: fly the route
    double hoverHeading = 0.0;          // degrees
    std::string missionPath;
    std::string targetsPath;
    double speed = 50.0;                     // metres per second
    std::optional<double> altitude = 5000.0; // metres above the ellipsoid; none: the
                                             // mission's own heights
    int startWaypoint = 0;                   // index into the route, from 0

    // Sensor.
    int lookTarget = 0;                // 1-based index into the targets file; 0: look ahead or down
    std::optional<double> lookForward; // degrees below the horizon, along the heading;
                                       // none (and no target): straight down
    double horizontalFov = 30.0;
    std::optional<double> verticalFov; // none: from the picture's aspect ratio

    // Ground.
    GroundKind ground = GroundKind::Checkerboard;
    std::vector<std::string> dtedPaths; // one cell, or a block of adjacent cells
    double groundHeight = 0.0;          // metres above the ellipsoid
    double checkerDegrees = 0.001;      // size of one square

    MarkerStyle markers;

    // Telemetry. KLV packet i carries the pose of its slot i + lead, and is stamped with
    // that pose's own time.
    int lead = 0;
    double klvRate = 0.0;     // packets per second; 0: one per frame
    double klvJitterMs = 0.0; // pose times spread up to this much around the regular slots
    std::optional<std::pair<double, double>> klvGap; // seconds [from, to) without telemetry
    bool noCameraTags = false;      // packets without sensor position and fields of view
    bool mslAltitudeOnly = false;   // the sensor's height in tag 15 alone, not tag 75
    double headingBias = 0.0;       // degrees added to the recorded platform heading
    bool cutBeforeKeyframe = false; // the file starts between two key frames
};

// One KLV packet of the flight: the time of the pose it carries, which is also its stamp.
struct KlvSlot {
    double seconds;
};

// A flight built from the options: its trajectory, sensor, ground and markers, and what
// goes into the file frame by frame. Tests use it to know what the file must hold.
// Throws as runSimulation does for inputs that cannot be read or used.
class Flight {
public:
    explicit Flight(const SimOptions& options);
    ~Flight();
    Flight(const Flight&) = delete;
    Flight& operator=(const Flight&) = delete;

    const SimOptions& options() const { return options_; }
    const FlightTelemetry& telemetry() const { return *telemetry_; }
    const Ground& ground() const { return *ground_; }
    // Every marked point: the targets, their reference points, then the route's waypoints.
    const std::vector<GeodeticPoint>& markers() const { return markers_; }
    // Number of video frames: duration * fps, rounded, at least 1.
    long frames() const;
    // Number of KLV packets: one per slot of the telemetry rate over the flight (one per
    // frame by default) and trailingPackets(lead) more, less those in the gap.
    long packets() const;

    // KLV packet `index`: the telemetry at its slot's time, as recorded (heading bias and
    // left-out tags applied).
    std::vector<unsigned char> packet(long index) const;
    // Presentation time of KLV packet `index`: the time of the pose it carries, so a player
    // matching by time finds the pose of every picture. Packets are in time order.
    double packetSeconds(long index) const;
    // The camera the viewer makes of frame `frame`'s telemetry.
    Camera camera(long frame) const;
    // Draws frame `frame`: ground, markers and frame number. The image must have the
    // picture's size.
    void draw(long frame, RgbImage& image) const;

private:
    SimOptions options_;
    std::unique_ptr<Trajectory> trajectory_;
    std::unique_ptr<Ground> ground_;
    std::unique_ptr<FlightTelemetry> telemetry_;
    std::vector<GeodeticPoint> markers_;
    std::vector<KlvSlot> slots_;
};

// The KLV packets' times of a flight of `frames` frames.
std::vector<KlvSlot> klvSchedule(const SimOptions& options, long frames);

struct SimSummary {
    int frames = 0;
    int klvPackets = 0;
    double seconds = 0.0;       // wall time of the whole run
    double drawSeconds = 0.0;   // telemetry, camera and drawing
    double encodeSeconds = 0.0; // video encoding and writing
};

// Writes the flight to options.output (through "<output>.part", moved into place only when
// complete). Progress lines go to `progress` about once a second.
// Throws std::runtime_error or std::invalid_argument, naming the file concerned, when an
// input cannot be read or used or the output cannot be written.
SimSummary runSimulation(const SimOptions& options, std::ostream& progress);

// KLV packets after the last frame, so that a player holding back four records still finds
// the record of its last pictures: 4 - lead, or none.
int trailingPackets(int lead);

} // namespace skyframe
