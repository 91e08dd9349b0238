#pragma once

// An opened video source: a file or any URL FFmpeg reads (udp://, rtp://, srt:// ...), its
// video stream and decoder, the data stream that carries the telemetry, and the timing
// needed to place every packet and picture on one clock.

#include "media/FfmpegHandles.h"

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <string>

namespace skyframe {

// A source that cannot be opened or decoded; the message names the source and the reason.
class MediaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct MediaOpenOptions {
    int dataStream = -1;         // data stream to use; -1: the last one that carries KLV
    double timeoutSeconds = 5.0; // a live source silent for this long has ended
    int decoderThreads = 1;
    // When set, a non-zero value (set by a signal handler: Ctrl-C) makes a call waiting on the
    // source give up at once instead of at the end of the timeout.
    const volatile std::sig_atomic_t* stop = nullptr;
};

// The way out of FFmpeg's blocking calls on a source: once a deadline has passed, or at once
// when the stop flag is set. Installed on a format context before it is opened; must outlive
// the context's use.
class SourceWatch {
public:
    explicit SourceWatch(const volatile std::sig_atomic_t* stop = nullptr) : stop_(stop) {}
    SourceWatch(const SourceWatch&) = delete;
    SourceWatch& operator=(const SourceWatch&) = delete;

    void install(AVFormatContext& format);
    // Opens path in a format context watched from its first read, `seconds` from now. Throws
    // MediaError "<path>: <failure>: <FFmpeg's reason>" when FFmpeg cannot open it.
    InputFormatPtr open(const std::string& path, double seconds, const std::string& failure);
    // The next call has `seconds` from now.
    void restart(double seconds);
    // Whether a call was given up for the deadline (not for the stop flag).
    bool timedOut() const { return timedOut_; }

private:
    static int check(void* self);

    const volatile std::sig_atomic_t* stop_;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
    bool timedOut_ = false;
};

// True when the bytes start with the 4-byte prefix every SMPTE universal key has.
bool startsWithUniversalKey(const uint8_t* data, int size);

// The data stream the telemetry comes from: the last data stream of the file whose first
// packets (up to `packetLimit` packets read) hold KLV, else the last data stream; -1 when
// the file has none. Reads from a second handle, so the caller's position is untouched.
int lastKlvDataStream(const std::string& path, int packetLimit = 4000);

class MediaInput {
public:
    // Opens the source, selects the last video stream and the telemetry's data stream and
    // opens the video decoder. Throws MediaError. The decoder's size and pixel format may
    // still be unknown (a live stream joined between key frames); pictures carry their own.
    MediaInput(const std::string& path, const MediaOpenOptions& options);

    // The next packet of any stream; false at the end of the source, on a read error, or
    // once a live source has been silent for the timeout (`timedOut()` then says so).
    bool read(AVPacket& packet);
    bool timedOut() const { return watch_.timedOut(); }

    // Moves to the key frame at or before `seconds` (presentation time, this source's own
    // clock) and empties the decoder. False when the source cannot seek (live input).
    bool seek(double seconds);

    bool seekable() const;
    AVFormatContext& format() { return *format_; }
    const AVFormatContext& format() const { return *format_; }
    AVCodecContext& decoder() { return *decoder_; }
    const std::string& path() const { return path_; }
    int videoStream() const { return video_; }
    int dataStream() const { return data_; }
    void setDataStream(int index) { data_ = index; }

    // Presentation time of a timestamp of stream `stream`, in seconds; NaN when absent.
    double seconds(int stream, int64_t timestamp) const;
    // The time of the first picture (seconds); 0 when the source does not tell.
    double startSeconds() const { return start_; }
    // Pictures per second of the video stream; 0 when unknown.
    double frameRate() const { return frameRate_; }

private:
    void openSource(const std::string& path);
    void selectStreams(const MediaOpenOptions& options);
    void openDecoder(int threads);

    std::string path_;
    InputFormatPtr format_;
    CodecContextPtr decoder_;
    int video_ = -1;
    int data_ = -1;
    double start_ = 0.0;
    double frameRate_ = 0.0;
    double timeout_ = 5.0;
    SourceWatch watch_;
};

} // namespace skyframe
