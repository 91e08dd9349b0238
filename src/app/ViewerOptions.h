#pragma once

#include "app/FrameLoop.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace skyframe {

// A command line the viewer cannot run with; the message is one line naming the problem.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ViewerOptions {
    bool help = false;
    std::vector<std::string> files; // video, mission, targets, terrain
    PlaybackOptions playback;
    std::vector<double> snapshotTimes; // video seconds, ascending
    std::string snapshotDir;
    bool frameCenter = false; // draw the telemetry's frame centre and footprint
    bool hud = false;         // the status line shown from the start (and in exported pictures)
    std::string exportPath;   // render off screen into this file instead of a window
    int crf = 20;             // the export's libx264 constant quality, 0 .. 51
    bool quiet = false;       // no export progress line
};

// Parses the viewer's command line (argv[1..]). Options may stand anywhere among the four
// file arguments. Throws UsageError for an unknown option or a bad value; the file count
// is the caller's to check.
ViewerOptions parseViewerOptions(const std::vector<std::string>& args);

// The text of `skyframe --help`.
const char* viewerHelp();

// A number from the whole of `text` (no trailing characters), or UsageError naming
// `option`.
double parseSeconds(const std::string& option, const std::string& text);

} // namespace skyframe
