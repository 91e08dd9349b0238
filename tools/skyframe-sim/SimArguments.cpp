#include "SimArguments.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <sstream>

namespace skyframe {

namespace {

std::string shortNumber(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

double parseNumber(const std::string& option, const std::string& text, double low, double high) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) || value < low ||
        value > high) {
        throw UsageError(option + " needs a number from " + shortNumber(low) + " to " +
                         shortNumber(high) + ", not \"" + text + "\"");
    }
    return value;
}

int parseInteger(const std::string& option, const std::string& text, int low, int high) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end != text.c_str() + text.size() || value < low || value > high) {
        throw UsageError(option + " needs a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\"");
    }
    return static_cast<int>(value);
}

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

// The telemetry options; false when `arg` is none of them.
bool parseTelemetryOption(const std::string& arg, const std::function<std::string()>& value,
                          SimOptions& o) {
    if (arg == "--lead") {
        o.lead = parseInteger(arg, value(), -1000, 1000);
    } else if (arg == "--klv-rate") {
        o.klvRate = parseNumber(arg, value(), 0.01, 1000);
    } else if (arg == "--klv-jitter") {
        o.klvJitterMs = parseNumber(arg, value(), 0, 10000);
    } else if (arg == "--klv-gap") {
        const std::string text = value();
        const auto parts = splitCommas(text);
        if (parts.size() != 2) {
            throw UsageError("--klv-gap needs FROM,TO in seconds, not \"" + text + "\"");
        }
        const double from = parseNumber("--klv-gap FROM", parts[0], 0, 36000);
        const double to = parseNumber("--klv-gap TO", parts[1], 0, 36000);
        if (to <= from) {
            throw UsageError("--klv-gap needs FROM before TO, not \"" + text + "\"");
        }
        o.klvGap = std::make_pair(from, to);
    } else if (arg == "--no-camera-tags") {
        o.noCameraTags = true;
    } else if (arg == "--msl-altitude-only") {
        o.mslAltitudeOnly = true;
    } else if (arg == "--heading-bias") {
        o.headingBias = parseNumber(arg, value(), -180, 180);
    } else if (arg == "--cut-before-keyframe") {
        o.cutBeforeKeyframe = true;
    } else {
        return false;
    }
    return true;
}

} // namespace

std::string simUsage() {
    return R"(usage: skyframe-sim OUTPUT.ts [options]

Writes a synthetic flight as an MPEG transport stream: H.264 video drawn in software from the
viewer's own camera model, with one MISB ST 0601 KLV packet per frame. Every target, target
reference point (1300 m) and route waypoint is marked in the video by a magenta ring centred
on the pixel where the viewer's camera projects it, so that the viewer's overlay can be
checked against the video. The frame number is written in the top-left corner.

Flight (default: the route of the mission, from waypoint 0, at 5000 m):
  --hover LAT,LON,ALT   hover at a point (degrees, degrees, metres above the ellipsoid)
  --heading DEG         platform heading while hovering (default 0, north)
  --mission FILE        mission whose route is flown and marked (default: the sample)
  --targets FILE        targets to mark and to look at (default: the sample)
  --speed M/S           speed along the route (default 50)
  --altitude M|mission  flight height above the ellipsoid (default 5000, well above the
                        sample's waypoints, so that the rings stay wider than the overlay's
                        spheres and boxes), or `mission` for the waypoints' own heights
  --start N             first waypoint flown, counted from 0 (default 0)
                        Along the route the heading follows the leg; pitch and roll are 0.
                        After the last waypoint the flight goes on along the last leg.
Sensor:
  --look down           straight down (default)
  --look forward DEG    straight ahead along the heading, DEG degrees below the horizon
  --look target N       at target N of the targets file (counted from 1)
  --hfov DEG            horizontal field of view (default 30)
  --vfov DEG            vertical field of view (default: from the picture's aspect ratio)
Ground:
  --ground checker      latitude/longitude checkerboard (default)
  --ground plain        one dark colour, for tests that pick out drawn shapes
  --dted CELL           shaded terrain of a DTED cell (flat ground outside it); repeated,
                        a block of adjacent cells of one level, drawn as one surface
  --ground-height M     height of the checkerboard, of the plain ground and of the ground
                        outside the DTED cells (default 0)
  --checker-size DEG    size of a checkerboard square (default 0.001)
Video:
  --size WxH            picture size, even numbers (default 1280x720)
  --fps N               frames per second (default 30)
  --duration SECONDS    length of the flight (default 10)
  --crf N               libx264 constant quality, 0 best .. 51 (default 20)
Markers:
  --ring-radius PX      radius of the marker rings (default 20; 3 pixels thick)
Telemetry:
  --klv-rate HZ         KLV packets per second (default: one per frame)
  --klv-jitter MS       each packet's pose taken up to MS milliseconds off its regular time
  --klv-gap FROM,TO     no telemetry from FROM to TO seconds
  --lead N              KLV packet i carries the pose of slot i + N (default 0)
  --no-camera-tags      leave out sensor latitude, longitude, altitude and fields of view
  --msl-altitude-only   the sensor's height as tag 15 (mean sea level) alone, without tag 75
  --heading-bias DEG    record the platform heading DEG degrees off the truth (the pictures
                        keep the true one)
  --cut-before-keyframe the file starts half a second into the video, between key frames
  --help                show this text

Telemetry timing. Every KLV packet is stamped with the time of the pose it carries, on the
video's clock (frame i at i / fps seconds), and goes into the file just ahead of the video of
that instant, so a player matching telemetry to pictures by time finds each picture's own
pose. The time stamp item (tag 2) holds the same time, frame 0 at 2024-01-01 00:00:00 UTC.
After the last frame, 4 - lead more packets (extrapolated) keep a four-record queue moving
for the last pictures.

Progress goes to standard error. Exit status: 0 success, 1 failure (an input that cannot
be read or used, an output that cannot be written: nothing is left at OUTPUT.ts), 2 usage
error.
)";
}

SimCommand parseSimArguments(const std::vector<std::string>& args,
                             const std::string& sampleDirectory) {
    SimCommand command;
    SimOptions& o = command.options;
    o.missionPath = sampleDirectory + "/mission.xml";
    o.targetsPath = sampleDirectory + "/targets.xml";
    bool groundGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                throw UsageError(arg + " needs a value");
            }
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            command.help = true;
        } else if (arg == "--hover") {
            const std::string text = value();
            const auto parts = splitCommas(text);
            if (parts.size() != 3) {
                throw UsageError("--hover needs LAT,LON,ALT, not \"" + text + "\"");
            }
            o.hover = GeodeticPoint{parseNumber("--hover latitude", parts[0], -90, 90),
                                    parseNumber("--hover longitude", parts[1], -180, 180),
                                    parseNumber("--hover altitude", parts[2], -900, 19000)};
        } else if (arg == "--heading") {
            o.hoverHeading = parseNumber(arg, value(), -360, 360);
        } else if (arg == "--mission") {
            o.missionPath = value();
        } else if (arg == "--targets") {
            o.targetsPath = value();
        } else if (arg == "--speed") {
            o.speed = parseNumber(arg, value(), 0.1, 1000);
        } else if (arg == "--altitude") {
            const std::string text = value();
            if (text == "mission") {
                o.altitude.reset();
            } else {
                o.altitude = parseNumber(arg, text, -900, 19000);
            }
        } else if (arg == "--start") {
            o.startWaypoint = parseInteger(arg, value(), 0, 100000);
        } else if (arg == "--look") {
            const std::string how = value();
            if (how == "down") {
                o.lookTarget = 0;
                o.lookForward.reset();
            } else if (how == "forward") {
                if (i + 1 >= args.size()) {
                    throw UsageError("--look forward needs the degrees below the horizon");
                }
                o.lookTarget = 0;
                o.lookForward = parseNumber("--look forward", args[++i], 0, 90);
            } else if (how == "target") {
                if (i + 1 >= args.size()) {
                    throw UsageError("--look target needs the target's number");
                }
                o.lookTarget = parseInteger("--look target", args[++i], 1, 100000);
                o.lookForward.reset();
            } else {
                throw UsageError("--look needs `down`, `forward DEG` or `target N`, not \"" + how +
                                 "\"");
            }
        } else if (arg == "--hfov") {
            o.horizontalFov = parseNumber(arg, value(), 0.01, 179);
        } else if (arg == "--vfov") {
            o.verticalFov = parseNumber(arg, value(), 0.01, 179);
        } else if (arg == "--ground") {
            const std::string kind = value();
            if (kind == "checker") {
                o.ground = GroundKind::Checkerboard;
            } else if (kind == "plain") {
                o.ground = GroundKind::Plain;
            } else {
                throw UsageError("--ground needs `checker` or `plain`, not \"" + kind + "\"");
            }
            groundGiven = true;
        } else if (arg == "--dted") {
            o.dtedPaths.push_back(value());
        } else if (arg == "--ground-height") {
            o.groundHeight = parseNumber(arg, value(), -900, 9000);
        } else if (arg == "--checker-size") {
            o.checkerDegrees = parseNumber(arg, value(), 1e-6, 10);
        } else if (arg == "--size") {
            const std::string size = value();
            const size_t x = size.find('x');
            if (x == std::string::npos) {
                throw UsageError("--size needs WIDTHxHEIGHT, not \"" + size + "\"");
            }
            o.width = parseInteger("--size width", size.substr(0, x), 16, 7680);
            o.height = parseInteger("--size height", size.substr(x + 1), 16, 4320);
            if (o.width % 2 != 0 || o.height % 2 != 0) {
                throw UsageError("--size needs an even width and height, not \"" + size + "\"");
            }
        } else if (arg == "--fps") {
            o.fps = parseInteger(arg, value(), 1, 240);
        } else if (arg == "--duration") {
            o.duration = parseNumber(arg, value(), 0.001, 36000);
        } else if (arg == "--crf") {
            o.crf = parseInteger(arg, value(), 0, 51);
        } else if (arg == "--ring-radius") {
            o.markers.radius = parseNumber(arg, value(), 2, 1000);
        } else if (parseTelemetryOption(arg, value, o)) {
            continue;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else if (!o.output.empty()) {
            throw UsageError("more than one OUTPUT given (\"" + o.output + "\" and \"" + arg +
                             "\")");
        } else {
            o.output = arg;
        }
    }
    if (!o.dtedPaths.empty()) {
        if (groundGiven) {
            throw UsageError("--dted and --ground cannot be used together");
        }
        o.ground = GroundKind::Terrain;
    }
    if (o.output.empty() && !command.help) {
        throw UsageError("no OUTPUT given");
    }
    return command;
}

} // namespace skyframe
