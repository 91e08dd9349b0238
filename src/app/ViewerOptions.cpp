#include "app/ViewerOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace skyframe {

namespace {

const char* const kHelp =
    R"(usage: skyframe [OPTIONS] VIDEO MISSION TARGETS TERRAIN

Plays VIDEO (an MPEG transport stream file, or any URL FFmpeg opens: udp://, rtp://,
srt://) with the route of MISSION, the targets of TARGETS and the terrain model TERRAIN
drawn over it from the sensor's viewpoint given by the video's KLV telemetry.

options:
  --sync time|queue     match telemetry to pictures by timestamp (the default when the data
                        stream carries timestamps) or by the four-record queue
  --max-gap SECONDS     no interpolation across telemetry gaps longer than this; past it
                        the last pose stays and is reported stale (default 2)
  --klv-offset SECONDS  added to every telemetry time (an encoder's known latency)
  --realtime            show pictures at the video's own rate (late pictures are skipped)
  --every-picture       show every decoded picture, not every second one
  --data-stream N       take the telemetry from stream N (default: the last data stream
                        that carries KLV)
  --timeout SECONDS     a live stream silent this long has ended (default 5)
  --snapshot T[,T...] DIR
                        save the window (or the exported picture) as DIR/snapshot-T.png at
                        video times T (seconds)
  --klv-strict          discard ST 0601 packets whose checksum is wrong or absent
  --frame-center        draw where the telemetry puts the frame centre (a cross) and the
                        frame's corners (a quadrilateral): on a consistent recording the
                        cross sits on the picture's centre
  --export OUT          render every shown picture with its overlay off screen, at the
                        video's own size, into OUT (H.264; MPEG-TS with the source's KLV
                        stream copied, or OUT.mp4 with the video alone and the telemetry
                        beside it in a .csv file as skyframe-klv --format csv writes it);
                        no window; without a DISPLAY a private Xvfb is started
  --crf N               the export's H.264 constant quality, 0 (lossless) to 51 (default 20)
  --hud                 show the status line from the start; burnt into exported pictures
  -q                    no export progress line
  --help                this text

keys:
  Space        pause / resume
  Right, Left  one shown picture forward / back
  Up, Down     10 s forward / back
  Home         back to the start
  h            show / hide the status line (video time, picture, sync mode, telemetry
               age, sensor position, heading, horizontal field of view)
  s            the scene graph's statistics (repeat to cycle)
  Esc          quit

At the end a summary line on standard error counts the KLV packets (decoded, by set,
checksums bad or absent, unknown tags, out-of-range codes, records unusable for a pose) and
gives the median and 95th-percentile distance (pixels) between the projected frame centre
and the picture's centre.

exit status: 0 after the video has played (or the window was closed), 255 on a bad
command line, an output folder that is missing or not writable, or a file that cannot be
read; 1 when an export fails while writing, 130 when it is interrupted (Ctrl-C). An export
is written as OUT.part and renamed when complete: a failed or interrupted one leaves
nothing.
)";

double parseNumber(const std::string& option, const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const double v = std::strtod(begin, &end);
    if (text.empty() || end != begin + text.size() || !std::isfinite(v)) {
        throw UsageError("skyframe: " + option + " needs a number, not \"" + text + "\"");
    }
    return v;
}

std::vector<double> parseTimes(const std::string& option, const std::string& text) {
    std::vector<double> times;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const double t = parseNumber(option, item);
        if (t < 0) {
            throw UsageError("skyframe: " + option + " times must not be negative");
        }
        times.push_back(t);
    }
    if (times.empty()) {
        throw UsageError("skyframe: " + option + " needs at least one time");
    }
    std::sort(times.begin(), times.end());
    return times;
}

// One option with its values; returns the index of the last argument it used.
size_t parseOption(const std::vector<std::string>& args, size_t i, ViewerOptions& o) {
    const std::string& a = args[i];
    const auto value = [&](size_t k) -> const std::string& {
        if (i + k >= args.size()) {
            throw UsageError("skyframe: " + a + " needs a value");
        }
        return args[i + k];
    };
    PlaybackOptions& p = o.playback;
    if (a == "--help" || a == "-h") {
        o.help = true;
    } else if (a == "--realtime") {
        p.realtime = true;
    } else if (a == "--every-picture") {
        p.everyPicture = true;
    } else if (a == "--klv-strict") {
        p.sync.intake.strict = true;
    } else if (a == "--frame-center") {
        o.frameCenter = true;
    } else if (a == "--hud") {
        o.hud = true;
    } else if (a == "-q" || a == "--quiet") {
        o.quiet = true;
    } else if (a == "--export") {
        o.exportPath = value(1);
        if (o.exportPath.empty()) {
            throw UsageError("skyframe: --export needs a file name");
        }
        return i + 1;
    } else if (a == "--crf") {
        const double n = parseNumber(a, value(1));
        if (n < 0 || n > 51 || n != std::floor(n)) {
            throw UsageError("skyframe: --crf needs a whole number from 0 to 51, not \"" +
                             value(1) + "\"");
        }
        o.crf = static_cast<int>(n);
        return i + 1;
    } else if (a == "--sync") {
        const std::string& v = value(1);
        if (v != "time" && v != "queue") {
            throw UsageError("skyframe: --sync takes time or queue, not \"" + v + "\"");
        }
        p.sync.mode = v == "time" ? SyncMode::Time : SyncMode::Queue;
        return i + 1;
    } else if (a == "--max-gap") {
        p.sync.maxGapSeconds = parseSeconds(a, value(1));
        return i + 1;
    } else if (a == "--klv-offset") {
        p.sync.klvOffsetSeconds = parseNumber(a, value(1));
        return i + 1;
    } else if (a == "--timeout") {
        p.media.timeoutSeconds = parseSeconds(a, value(1));
        return i + 1;
    } else if (a == "--data-stream") {
        const double n = parseNumber(a, value(1));
        if (n < 0 || n != std::floor(n) || n > 1e6) {
            throw UsageError("skyframe: --data-stream needs a stream number, not \"" + value(1) +
                             "\"");
        }
        p.media.dataStream = static_cast<int>(n);
        return i + 1;
    } else if (a == "--snapshot") {
        o.snapshotTimes = parseTimes(a, value(1));
        o.snapshotDir = value(2);
        return i + 2;
    } else {
        throw UsageError("skyframe: unknown option " + a + " (see skyframe --help)");
    }
    return i;
}

} // namespace

double parseSeconds(const std::string& option, const std::string& text) {
    const double v = parseNumber(option, text);
    if (v <= 0) {
        throw UsageError("skyframe: " + option + " needs a positive number of seconds, not \"" +
                         text + "\"");
    }
    return v;
}

ViewerOptions parseViewerOptions(const std::vector<std::string>& args) {
    ViewerOptions o;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            i = parseOption(args, i, o);
        } else {
            o.files.push_back(a);
        }
    }
    return o;
}

const char* viewerHelp() {
    return kHelp;
}

} // namespace skyframe
