#pragma once

// Writes an MPEG transport stream with one video stream and one KLV metadata stream, the
// kind of file the viewer plays: synthetic flights, and small fixtures with known pixels
// and known telemetry for tests.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace skyframe {

enum class VideoCodec {
    H264,  // libx264, yuv420p
    Mpeg2, // FFmpeg's MPEG-2 encoder, yuv420p; fast, for tests
};

enum class PixelOrder {
    Rgb, // packed 24-bit R, G, B
    Bgr, // packed 24-bit B, G, R
};

struct TsWriterOptions {
    int width = 1280; // pixels; even, as 4:2:0 chroma needs
    int height = 720; // pixels; even
    int fps = 30;     // frames per second
    VideoCodec codec = VideoCodec::H264;
    PixelOrder pixelOrder = PixelOrder::Rgb;
    std::string h264Preset = "veryfast"; // libx264 speed/size preset
    int h264Crf = 20;                    // libx264 constant quality, 0 (lossless) .. 51
    int mpeg2Quantizer = 2;              // MPEG-2 fixed quantiser, 1 (best) .. 31
    int keyframeInterval = 0;            // frames between key frames; 0: one per second
    // Encoded video packets left out at the start: the file then begins between key frames,
    // as a recording cut anywhere does.
    int skipFirstVideoPackets = 0;
};

// The file appears at `path` only when finish() succeeds: until then it is written to
// "<path>.part", which is removed if the writer is destroyed unfinished. Every failure
// throws std::runtime_error naming the file and FFmpeg's own reason.
//
// Time stamps: frame i is shown at i / fps seconds; a KLV packet is stamped with the
// seconds given to writeKlv, on the same clock (the muxer may add one constant start delay
// to every time stamp of the file, so compare times within a file, not across files). The
// KLV stream is the synchronous kind (stream type 0x15, registration "KLVA"), whose packets
// carry their presentation time. Frames are encoded without B-frames, so packets come out
// in display order.
class TsWriter {
public:
    explicit TsWriter(const std::string& path, const TsWriterOptions& options = {});
    ~TsWriter();
    TsWriter(const TsWriter&) = delete;
    TsWriter& operator=(const TsWriter&) = delete;

    // Encodes the next frame from packed 24-bit pixels in options.pixelOrder, top row
    // first. `stride` is the bytes from one row to the next; 0 means width * 3.
    void writeFrame(const unsigned char* pixels, int stride = 0);

    // Writes one data packet of the KLV stream: `size` bytes (1 to 65535), usually one or
    // more whole KLV packets back to back, presented at `seconds`. Times must not decrease.
    // A demuxer hands the same bytes back as one data packet.
    void writeKlv(const unsigned char* data, size_t size, double seconds);
    void writeKlv(const std::vector<unsigned char>& data, double seconds) {
        writeKlv(data.data(), data.size(), seconds);
    }

    // Flushes the encoder, completes the file and moves it to its path.
    void finish();

    int framesWritten() const;
    const std::string& path() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace skyframe
