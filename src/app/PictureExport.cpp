#include "app/PictureExport.h"

#include "KlvExport.h"
#include "app/ViewerOptions.h"

#include <osgDB/WriteFile>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>

namespace skyframe {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string minutesAndSeconds(double seconds) {
    const long s = std::lround(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// "flight.mp4" -> "flight.csv".
std::string sidecarPath(const std::string& mp4) {
    return mp4.substr(0, mp4.size() - 4) + ".csv";
}

// Removes a file unless released: the sidecar's partial file on every way out.
struct PartialFile {
    std::string path;
    ~PartialFile() {
        if (!path.empty()) {
            std::remove(path.c_str());
        }
    }
};

AVRational frameRateOf(const AVStream& stream) {
    if (stream.avg_frame_rate.num > 0 && stream.avg_frame_rate.den > 0) {
        return stream.avg_frame_rate;
    }
    if (stream.r_frame_rate.num > 0 && stream.r_frame_rate.den > 0) {
        return stream.r_frame_rate;
    }
    return AVRational{0, 1};
}

} // namespace

void ExportProgress::start(double durationSeconds) {
    duration_ = durationSeconds;
    start_ = Clock::now();
    lastLine_ = start_;
    started_ = true;
}

void ExportProgress::picture(double videoTime) {
    ++pictures_;
    const auto now = Clock::now();
    if (quiet_ || !started_ || std::chrono::duration<double>(now - lastLine_).count() < 0.5) {
        return;
    }
    lastLine_ = now;
    const double wall = secondsSince(start_);
    const double rate = wall > 0 ? pictures_ / wall : 0.0;
    char line[128];
    if (duration_ > 0 && videoTime > 0) {
        const double done = std::min(1.0, videoTime / duration_);
        const double left = wall * (1.0 - done) / done;
        std::snprintf(line, sizeof line, "\rexport: %3.0f%%  %.1f pictures/s  %s left   ",
                      100.0 * done, rate, minutesAndSeconds(left).c_str());
    } else {
        std::snprintf(line, sizeof line, "\rexport: %.1f s of video  %.1f pictures/s   ", videoTime,
                      rate);
    }
    std::cerr << line << std::flush;
    shown_ = true;
}

void ExportProgress::end() {
    if (shown_) {
        std::cerr << "\n";
    }
    shown_ = false;
}

PictureExport::PictureExport(const ViewerOptions& options, FrameReadBack& readBack,
                             Snapshots& snapshots)
    : options_(options), readBack_(readBack), snapshots_(snapshots), progress_(options.quiet) {}

void PictureExport::opened(const MediaInput& media) {
    const AVFormatContext& format = media.format();
    const AVStream& video = *format.streams[media.videoStream()];
    ExportWriterOptions w;
    w.width = readBack_.image().s();
    w.height = readBack_.image().t();
    w.frameRate = frameRateOf(video);
    w.timeBase = video.time_base;
    w.crf = options_.crf;
    if (media.dataStream() >= 0) {
        const AVStream& data = *format.streams[media.dataStream()];
        w.data = true;
        w.dataTimeBase = data.time_base;
        // Asynchronous KLV stays asynchronous; a synchronous stream, or one the demuxer
        // cannot tell, goes out synchronous, with each packet's time.
        w.dataSynchronous = data.codecpar->profile != FF_PROFILE_KLVA_ASYNC;
    }
    frameRate_ = media.frameRate();
    // The source has been described; from here on libx264's and the muxer's notes would
    // only break the progress line.
    av_log_set_level(AV_LOG_WARNING);
    writer_ = std::make_unique<ExportWriter>(options_.exportPath, w);
    const double duration =
        format.duration > 0 ? static_cast<double>(format.duration) / AV_TIME_BASE : 0.0;
    progress_.start(duration);
}

void PictureExport::dataPacket(const AVPacket& packet) {
    writer_->writeData(packet.data, packet.size, packet.pts);
}

void PictureExport::drawn(const ShownPicture& picture) {
    if (readBack_.takeReady() && pending_) {
        encode(drawn_);
    }
    drawn_ = picture;
    // Its BGR rows are the decoder's and go with the next picture.
    drawn_.bgr = nullptr;
    pending_ = true;
}

void PictureExport::encode(const ShownPicture& picture) {
    // Snapshots first: the pixels leave with the hand-over.
    const auto snapshotStart = Clock::now();
    for (const std::string& path : snapshots_.due(picture, frameRate_)) {
        if (!osgDB::writeImageFile(readBack_.image(), path)) {
            std::cerr << path << ": cannot write the snapshot" << std::endl;
        }
    }
    times_.snapshotSeconds += secondsSince(snapshotStart);

    const auto encodeStart = Clock::now();
    // The read-back's rows run bottom up.
    writer_->writePicture(readBack_.exchange(writer_->pictureBuffer()), true, picture.pts);
    times_.handOverSeconds += secondsSince(encodeStart);
    ++pictures_;
    progress_.picture(picture.videoTime);
}

void PictureExport::writeSidecar(const std::string& path) const {
    std::ofstream out(path, std::ios::binary);
    if (!out) {
        throw std::runtime_error(path + ": cannot create the telemetry file");
    }
    KlvExporter exporter(out, ExportFormat::Csv);
    KlvReadOptions read;
    read.intake = options_.playback.sync.intake;
    read.stream = options_.playback.media.dataStream;
    std::string openError;
    readMediaKlv(
        options_.files[0], read, [&](const KlvPacketReport& report) { exporter.write(report); },
        openError);
    exporter.finish();
    out.flush();
    if (!out) {
        throw std::runtime_error(path + ": cannot write the telemetry file");
    }
}

void PictureExport::finish() {
    if (pending_) {
        pending_ = false;
        if (!readBack_.readLast()) {
            throw std::runtime_error(options_.exportPath + ": cannot read back the last picture");
        }
        encode(drawn_);
    }
    progress_.end();
    if (!writer_) {
        return;
    }
    if (!ExportWriter::isMp4(options_.exportPath)) {
        writer_->finish();
        times_.encodeSeconds = writer_->threadSeconds();
        return;
    }
    // Both files or neither: the sidecar is complete before the video is moved into place.
    const std::string csv = sidecarPath(options_.exportPath);
    PartialFile part{csv + ".part"};
    writeSidecar(part.path);
    writer_->finish();
    times_.encodeSeconds = writer_->threadSeconds();
    if (std::rename(part.path.c_str(), csv.c_str()) != 0) {
        throw std::runtime_error(csv + ": cannot move the telemetry file into place");
    }
    part.path.clear();
}

void videoSize(const std::string& path, const MediaOpenOptions& options, int& width, int& height) {
    SourceWatch watch(options.stop);
    const InputFormatPtr format = watch.open(path, options.timeoutSeconds + 5.0, "cannot open");
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        throw MediaError(path + ": cannot find the streams");
    }
    width = height = 0;
    // The viewer plays the last video stream.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters& p = *format->streams[i]->codecpar;
        if (p.codec_type == AVMEDIA_TYPE_VIDEO) {
            width = p.width;
            height = p.height;
        }
    }
    if (width <= 0 || height <= 0) {
        throw MediaError(path + ": the video's picture size is unknown");
    }
}

} // namespace skyframe
