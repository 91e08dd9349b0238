#pragma once

namespace skyframe {

// The viewer's entry point: `skyframe VIDEO MISSION TARGETS TERRAIN`. Builds the scene, opens
// the 1280 x 720 window and plays the video with the overlay registered on it. Returns 0
// after the stream ends or the window is closed, -1 on a wrong argument count, a bad input
// file or media that cannot be opened.
//
// With the environment variable SKYFRAME_STATS set, a summary of the run (pictures decoded
// and rendered, time per stage) is written to standard error at the end.
int runSkyframe(int argc, char** argv);

} // namespace skyframe
