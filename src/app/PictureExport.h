#pragma once

// The export's end of the frame loop: every shown picture, drawn off screen with its
// overlay, is read back, encoded and written with the source's timestamp; the telemetry's
// data packets are copied alongside; snapshots come from the same read-back.

#include "app/FrameLoop.h"
#include "app/Offscreen.h"
#include "app/ViewerControls.h"
#include "media/ExportWriter.h"
#include "media/MediaInput.h"

#include <chrono>
#include <memory>
#include <string>

namespace skyframe {

struct ViewerOptions;

// One progress line on standard error, rewritten in place at most twice a second: percent
// of the source's duration, pictures per second, time left.
class ExportProgress {
public:
    explicit ExportProgress(bool quiet) : quiet_(quiet) {}
    void start(double durationSeconds);
    void picture(double videoTime);
    void end();

private:
    using Clock = std::chrono::steady_clock;
    bool quiet_;
    double duration_ = 0.0;
    long pictures_ = 0;
    bool started_ = false;
    bool shown_ = false;
    Clock::time_point start_;
    Clock::time_point lastLine_;
};

struct ExportTimes {
    double handOverSeconds = 0.0; // copying pictures to the encoding thread, waiting for it
    double encodeSeconds = 0.0;   // the encoding thread: colour conversion, encoding, writing
    double snapshotSeconds = 0.0; // PNG files
};

class PictureExport {
public:
    // `readBack` reads back the frames drawn; `snapshots` the requested snapshot times.
    PictureExport(const ViewerOptions& options, FrameReadBack& readBack, Snapshots& snapshots);

    // The source is open, nothing read yet: the output file is made for it.
    void opened(const MediaInput& media);
    void dataPacket(const AVPacket& packet);
    // The picture has been drawn. Its pixels are read back while the next one is drawn, and
    // only then encoded: the picture drawn before it goes out now.
    void drawn(const ShownPicture& picture);
    // Encodes the last picture drawn, then completes the file (and the telemetry sidecar of an
    // MP4). Throws std::runtime_error naming the file on failure; the partial files are then
    // removed.
    void finish();

    long pictures() const { return pictures_; }
    const ExportTimes& times() const { return times_; }

private:
    void encode(const ShownPicture& picture);
    void writeSidecar(const std::string& path) const;

    const ViewerOptions& options_;
    FrameReadBack& readBack_;
    ShownPicture drawn_; // the last picture drawn, its pixels not yet encoded
    bool pending_ = false;
    Snapshots& snapshots_;
    std::unique_ptr<ExportWriter> writer_;
    ExportProgress progress_;
    double frameRate_ = 0.0;
    long pictures_ = 0;
    ExportTimes times_;
};

// The size of the source's pictures (pixels), read from its last video stream's
// description, giving up as options.timeoutSeconds and options.stop say. Throws MediaError
// when the source cannot be opened or does not tell.
void videoSize(const std::string& path, const MediaOpenOptions& options, int& width, int& height);

} // namespace skyframe
