#pragma once

// Writes rendered pictures, encoded with libx264, into a new file with the timestamps of
// the pictures they were made from, and copies a KLV data stream into it packet for packet.

#include "media/FfmpegHandles.h"
#include "media/SerialWorker.h"

#include <memory>
#include <string>
#include <vector>

namespace skyframe {

struct ExportWriterOptions {
    int width = 0;                    // pixels; even, as 4:2:0 chroma needs
    int height = 0;                   // pixels; even
    AVRational frameRate = {0, 1};    // the source's pictures per second; {0, 1}: unknown
    AVRational timeBase = {1, 90000}; // of the picture timestamps given to writePicture
    int crf = 20;                     // libx264 constant quality, 0 (lossless) .. 51
    std::string preset = "veryfast";  // libx264 speed/size preset
    // A KLV data stream (MPEG-TS output only): the time base of its packets' timestamps and
    // whether it is the synchronous kind (stream type 0x15) or not.
    bool data = false;
    AVRational dataTimeBase = {1, 90000};
    bool dataSynchronous = true;
};

// The container follows the path's ending: ".mp4" (any case) gives MP4 with the video
// alone, anything else MPEG-TS. The file appears at `path` only when finish() succeeds;
// until then it is written to "<path>.part", removed when the writer goes unfinished.
// Every failure throws std::runtime_error naming the file and FFmpeg's own reason; pictures
// and data are encoded and written on a thread of the writer's own, so a failure may be
// reported by a later call than the one that handed over what failed.
class ExportWriter {
public:
    ExportWriter(const std::string& path, const ExportWriterOptions& options);
    ~ExportWriter();
    ExportWriter(const ExportWriter&) = delete;
    ExportWriter& operator=(const ExportWriter&) = delete;

    // Encodes one picture of packed 32-bit pixels in byte order B, G, R, A; `stride` bytes
    // from one row to the next, negative for rows stored bottom up (`pixels` then points at
    // the top row, the last in memory). `pts` is the picture's timestamp in
    // options.timeBase; timestamps must increase.
    void writePicture(const uint8_t* pixels, int stride, int64_t pts);

    // A buffer for one picture of packed B, G, R, A pixels (width x height x 4 bytes), to be
    // filled and handed back through writePicture: the picture then goes to the encoding
    // thread without being copied.
    std::vector<uint8_t> pictureBuffer();
    // Encodes a picture filled into a buffer from pictureBuffer(); rows run from the top
    // unless `bottomUp`.
    void writePicture(std::vector<uint8_t> pixels, bool bottomUp, int64_t pts);

    // Copies one data packet's bytes with its timestamp (in options.dataTimeBase, or
    // AV_NOPTS_VALUE). Ignored when the file has no data stream.
    void writeData(const uint8_t* data, int size, int64_t pts);

    // Flushes the encoder, completes the file and moves it to its path.
    void finish();

    bool hasData() const;
    // Seconds the encoding thread spent converting, encoding and writing; read it after
    // finish().
    double threadSeconds() const;
    static bool isMp4(const std::string& path);

private:
    struct State;
    std::unique_ptr<State> state_;
    std::unique_ptr<SerialWorker> worker_; // encodes and muxes, in the order given
};

} // namespace skyframe
