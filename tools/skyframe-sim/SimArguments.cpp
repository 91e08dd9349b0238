#include "SimArguments.h"

#include <cmath>
#include <cstdlib>
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
  --dted CELL           shaded terrain of a DTED cell (flat ground outside it)
  --ground-height M     height of the checkerboard, of the plain ground and of the ground
                        outside the DTED cell (default 0)
  --checker-size DEG    size of a checkerboard square (default 0.001)
Video:
  --size WxH            picture size, even numbers (default 1280x720)
  --fps N               frames per second (default 30)
  --duration SECONDS    length of the flight (default 10)
  --crf N               libx264 constant quality, 0 best .. 51 (default 20)
Markers and timing:
  --ring-radius PX      radius of the marker rings (default 20; 3 pixels thick)
  --lead N              KLV packet i carries the telemetry of frame i + N (default 2)
  --help                show this text

Telemetry timing. KLV packet i is stamped one 90 kHz tick before video frame i (packet 0
at the instant of frame 0), so a player reads it ahead of the frame's video. The viewer
decodes every picture, shows every second one, and at each shown picture takes records
from the front of its queue while more than 4 are queued, using the last one taken: when n
KLV packets have been read, the record in use is record n - 5. FFmpeg's MPEG-TS demuxer
hands out the video packet of frame j only after the KLV packets of frames j + 1 and j + 2
(it completes a video packet when the next one has begun), and a decoder without frame
threads returns picture j for that packet: n = j + 3 at picture j, and the record in use
is record j - 2. With the default lead of 2, that record holds the telemetry of picture j
itself, so video and overlay show the same instant. A player whose decoder holds back d
more pictures (frame threads: d = threads - 1) needs --lead 2-d. After the last frame,
4 - lead more packets (extrapolated) keep the queue moving for the last pictures. The time
stamp item (tag 2) of a packet is the time of the frame whose telemetry it carries; frame
0 is at 2024-01-01 00:00:00 UTC.

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
            o.dtedPath = value();
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
        } else if (arg == "--lead") {
            o.lead = parseInteger(arg, value(), -1000, 1000);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else if (!o.output.empty()) {
            throw UsageError("more than one OUTPUT given (\"" + o.output + "\" and \"" + arg +
                             "\")");
        } else {
            o.output = arg;
        }
    }
    if (!o.dtedPath.empty()) {
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
