#pragma once

#include "app/TelemetrySync.h"
#include "media/MediaInput.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace skyframe {

// How the video is played.
struct PlaybackOptions {
    bool realtime = false;     // show pictures at the video's own rate
    bool everyPicture = false; // show every decoded picture, not every second one
    SyncOptions sync;
    MediaOpenOptions media;
};

// Requests from the keyboard, read by the frame loop between two pictures.
struct PlaybackControl {
    bool paused = false;
    int step = 0;         // +1: one shown picture forward, -1: one back
    double seekBy = 0.0;  // seconds from the picture shown, when not 0
    bool toStart = false; // back to the first picture
};

// One picture as it is shown.
struct ShownPicture {
    const uint8_t* bgr = nullptr; // packed BGRA rows, bottom first, valid until the next picture
    int width = 0;
    int height = 0;
    double time = 0.0;      // presentation time on the source's clock (seconds)
    double videoTime = 0.0; // seconds since the source's first picture
    long number = 0;        // picture number from the start, by its timestamp
    int64_t pts = 0;        // its timestamp in the video stream's time base
    SyncMode sync = SyncMode::Auto;
    PictureTelemetry telemetry;
};

// What the frame loop hands out while it plays.
struct FrameLoopHooks {
    std::function<void(const MediaInput&)> opened;    // before the first packet is read
    std::function<void(const ShownPicture&)> picture; // show it: one rendered frame
    std::function<void(const AVPacket&)> dataPacket;  // a packet of the telemetry's stream
    std::function<void()> idle;                       // paused: render, handle keys
    std::function<void()> seeked;                     // the position jumped
    std::function<bool()> done;                       // true ends the loop
    PlaybackControl* control = nullptr;
};

// Counters and time spent, for the statistics line and the benchmark.
struct FrameLoopStats {
    long packets = 0;
    long dataPackets = 0;
    long decodedPictures = 0;
    long processedPictures = 0;
    long latePictures = 0;     // not shown: real-time playback had fallen behind
    long unusablePictures = 0; // of zero size or unknown format
    double readSeconds = 0.0;
    double decodeSeconds = 0.0;
    double convertSeconds = 0.0;
    double syncSeconds = 0.0;
    double pictureSeconds = 0.0; // inside the picture hook
    double playSeconds = 0.0;    // from the media's opening to the end
    long records = 0;
    long usableRecords = 0;
    long recordsUsed = 0;
    KlvTally tally;
    int dataStream = -1;
    bool timedOut = false;
    SyncMode syncMode = SyncMode::Auto;
};

// Opens the media source and plays it to the end (or until done): reads packets, decodes
// every video picture, matches telemetry to each, and hands out the pictures to be shown.
// Returns 0 after a normal end (a live source that went silent included) and -1 when the
// media cannot be opened; the reason goes to `err`, naming the source.
int runFrameLoop(const std::string& path, const PlaybackOptions& options,
                 const FrameLoopHooks& hooks, std::ostream& err, FrameLoopStats* stats = nullptr);

} // namespace skyframe
