#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

struct AVFormatContext;

namespace skyframe {

// Indices of the streams the viewer plays: the last video stream and the last data stream
// of the file (-1 when there is none).
struct StreamSelection {
    int video = -1;
    int data = -1;
};
StreamSelection selectStreams(const AVFormatContext& format);

// What the frame loop hands out while it reads a media file.
struct FrameLoopHooks {
    // Every packet of the data stream, in file order, handed on just before the picture of
    // the first video packet read after it (as a decoder that holds no picture back would
    // place it).
    std::function<void(const uint8_t* data, int size)> dataPacket;
    // Every second decoded picture (the 2nd, 4th, ...), converted to packed BGR.
    std::function<void(const uint8_t* bgr, int width, int height)> picture;
    // Asked after every packet read: true ends the loop (the window was closed).
    std::function<bool()> done;
    // Called once the media are open, before the first packet is read.
    std::function<void()> opened;
};

// Counters and time spent, for the statistics line and the benchmark.
struct FrameLoopStats {
    long packets = 0;
    long dataPackets = 0;
    long decodedPictures = 0;
    long processedPictures = 0;
    double readSeconds = 0.0;
    double decodeSeconds = 0.0;
    double convertSeconds = 0.0;
    double pictureSeconds = 0.0; // inside the picture hook
};

// Opens the media file, selects its streams and decoder, then reads it packet by packet to
// the end (or until done), decoding every video picture and converting and handing out
// every second one. Returns 0 after a normal end and -1 when the media cannot be opened;
// the reason goes to `err`, naming the file.
int runFrameLoop(const std::string& path, const FrameLoopHooks& hooks, std::ostream& err,
                 FrameLoopStats* stats = nullptr);

} // namespace skyframe
