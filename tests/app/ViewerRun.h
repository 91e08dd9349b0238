#pragma once

// Runs the viewer as a user runs it, on a display (Xvfb when there is none), and reads back
// what it printed and what the screen showed.

#include "TestSupport.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace skyframe::test {

extern const std::filesystem::path kViewer;
extern const std::filesystem::path kMission; // the sample mission
extern const std::filesystem::path kTargets; // the sample targets
extern const std::vector<std::string> kStartUpLines;

// Where the window sits on the 1600 x 900 screen.
constexpr int kWindowX = 50;
constexpr int kWindowY = 50;
constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 720;

// A screenshot, or with a name "key=KEY" a key pressed in the window (xdotool's key names:
// space, Up, h ...), in the order given.
struct Shot {
    double delaySeconds; // after "Reading init."
    std::string name;
};

struct ViewerRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::map<std::string, RgbImage> shots;
    std::filesystem::path dir;
};

ViewerRun runViewer(const std::vector<std::string>& args, const std::vector<Shot>& shots = {});

// Runs the viewer with --snapshot at the given video times: each picture is the window as
// drawn for the first picture shown at or after its time, whatever the machine's speed.
// The shots are keyed by snapshotKey(time) and hold the window alone (no screen around it).
ViewerRun runViewerAt(const std::vector<std::string>& args, const std::vector<double>& times);
std::string snapshotKey(double time);

// The counters of the statistics line: decoded pictures, pictures processed by the loop,
// frames the scene graph rendered and records taken from the queue (-1 when absent).
struct Counts {
    long decoded = -1;
    long processed = -1;
    long frames = -1;
    long recordsUsed = -1;
    double playSeconds = -1; // from the media's opening to the end of playback
};

Counts countsOf(const std::string& err);

} // namespace skyframe::test
