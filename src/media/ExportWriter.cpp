#include "media/ExportWriter.h"

#include "media/MetadataCell.h"
#include "media/OutputFile.h"
#include "media/PictureEncoder.h"

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace skyframe {

struct ExportWriter::State {
    State(const std::string& path, const ExportWriterOptions& o)
        : file(path, isMp4(path) ? "mp4" : "mpegts"), options(o) {}

    OutputFile file;
    ExportWriterOptions options;
    CodecContextPtr encoder;
    std::unique_ptr<PictureEncoder> pictures;
    AVStream* video = nullptr;
    AVStream* data = nullptr;
    unsigned cellSequence = 0;
    double threadSeconds = 0.0; // the encoding thread's alone until it is idle
    // Picture buffers handed to the encoding thread come back here to be used again.
    std::mutex spareMutex;
    std::vector<std::vector<uint8_t>> spare;

    [[noreturn]] void fail(const std::string& what, int code = 0) const { file.fail(what, code); }
    void check(int code, const std::string& what) const { file.check(code, what); }

    void openEncoder();
    void addStreams();
    void openFile();
    void drainEncoder();
    std::vector<uint8_t> takeBuffer(size_t size);
    void giveBack(std::vector<uint8_t> buffer);
    void encode(const uint8_t* pixels, int stride, int64_t pts);
};

void ExportWriter::State::openEncoder() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        fail("FFmpeg has no libx264 encoder");
    }
    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder) {
        fail("cannot allocate the video encoder");
    }
    AVCodecContext* enc = encoder.get();
    enc->width = options.width;
    enc->height = options.height;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    // The source's own clock, so that every picture keeps its source timestamp.
    enc->time_base = options.timeBase;
    if (options.frameRate.num > 0) {
        enc->framerate = options.frameRate;
        enc->gop_size = std::max(1, options.frameRate.num / std::max(1, options.frameRate.den));
    }
    // Without B-frames no decoding time precedes the first picture's timestamp: the muxer
    // has no reason to shift the file's timestamps, the copied telemetry's included.
    enc->max_b_frames = 0;
    // libx264's own threads, as many as FFmpeg's automatic choice: left at 0, the count
    // reaches libx264 as one and it encodes on the calling thread alone.
    enc->thread_count = std::min(16, av_cpu_count() + 1);
    check(av_opt_set(enc->priv_data, "preset", options.preset.c_str(), 0),
          "libx264 rejects preset \"" + options.preset + "\"");
    check(av_opt_set_double(enc->priv_data, "crf", options.crf, 0),
          "libx264 rejects crf " + std::to_string(options.crf));
    if (file.format()->oformat->flags & AVFMT_GLOBALHEADER) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    check(avcodec_open2(enc, codec, nullptr), "cannot open the video encoder");
}

void ExportWriter::State::addStreams() {
    video = avformat_new_stream(file.format(), nullptr);
    if (video == nullptr) {
        fail("cannot add the video stream");
    }
    video->time_base = encoder->time_base;
    video->avg_frame_rate = encoder->framerate;
    check(avcodec_parameters_from_context(video->codecpar, encoder.get()),
          "cannot describe the video stream");
    if (!options.data) {
        return;
    }
    data = avformat_new_stream(file.format(), nullptr);
    if (data == nullptr) {
        fail("cannot add the KLV stream");
    }
    data->codecpar->codec_type = AVMEDIA_TYPE_DATA;
    data->codecpar->codec_id = AV_CODEC_ID_SMPTE_KLV;
    data->codecpar->profile =
        options.dataSynchronous ? FF_PROFILE_KLVA_SYNC : FF_PROFILE_KLVA_ASYNC;
    data->time_base = options.dataTimeBase;
}

void ExportWriter::State::openFile() {
    // Same size in and out: the filter only decides how chroma is subsampled. The point
    // filter's luma is the same as the others' and its chroma as close to a Lanczos
    // conversion's, in about half the bilinear filter's time.
    pictures = std::make_unique<PictureEncoder>(*encoder, AV_PIX_FMT_BGRA, SWS_POINT, file);
    file.open();
}

void ExportWriter::State::drainEncoder() {
    pictures->receive([this](AVPacket& p) {
        av_packet_rescale_ts(&p, encoder->time_base, video->time_base);
        p.stream_index = video->index;
        file.write(&p, "cannot write video");
    });
}

bool ExportWriter::isMp4(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    std::string end = path.substr(path.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return end == ".mp4";
}

ExportWriter::ExportWriter(const std::string& path, const ExportWriterOptions& options)
    : state_(std::make_unique<State>(path, options)) {
    State& s = *state_;
    if (options.width <= 0 || options.height <= 0 || options.width % 2 != 0 ||
        options.height % 2 != 0) {
        s.fail("video size " + std::to_string(options.width) + "x" +
               std::to_string(options.height) + " is not a positive even size");
    }
    s.options.data = options.data && !isMp4(path);
    s.openEncoder();
    s.addStreams();
    s.openFile();
    worker_ = std::make_unique<SerialWorker>(2);
}

// The encoding thread stops before the state it works on goes.
ExportWriter::~ExportWriter() {
    worker_.reset();
}

double ExportWriter::threadSeconds() const {
    return state_->threadSeconds;
}

bool ExportWriter::hasData() const {
    return state_->data != nullptr;
}

std::vector<uint8_t> ExportWriter::State::takeBuffer(size_t size) {
    std::vector<uint8_t> buffer;
    {
        std::lock_guard<std::mutex> lock(spareMutex);
        if (!spare.empty()) {
            buffer = std::move(spare.back());
            spare.pop_back();
        }
    }
    buffer.resize(size);
    return buffer;
}

void ExportWriter::State::giveBack(std::vector<uint8_t> buffer) {
    std::lock_guard<std::mutex> lock(spareMutex);
    spare.push_back(std::move(buffer));
}

void ExportWriter::State::encode(const uint8_t* pixels, int stride, int64_t pts) {
    pictures->send(pixels, stride, pts);
    drainEncoder();
}

void ExportWriter::writePicture(const uint8_t* pixels, int stride, int64_t pts) {
    // The caller's pixels are copied, top row first, so that it can draw the next picture
    // while this one is converted and encoded.
    const size_t rowBytes = static_cast<size_t>(state_->options.width) * 4;
    std::vector<uint8_t> copy = pictureBuffer();
    for (int row = 0; row < state_->options.height; ++row) {
        std::memcpy(copy.data() + row * rowBytes, pixels + static_cast<ptrdiff_t>(row) * stride,
                    rowBytes);
    }
    writePicture(std::move(copy), false, pts);
}

std::vector<uint8_t> ExportWriter::pictureBuffer() {
    return state_->takeBuffer(static_cast<size_t>(state_->options.width) * 4 *
                              state_->options.height);
}

void ExportWriter::writePicture(std::vector<uint8_t> pixels, bool bottomUp, int64_t pts) {
    State& s = *state_;
    const auto rowBytes = static_cast<ptrdiff_t>(s.options.width) * 4;
    if (pixels.size() != static_cast<size_t>(rowBytes) * s.options.height) {
        s.fail("a picture of " + std::to_string(pixels.size()) + " bytes is not " +
               std::to_string(s.options.width) + " x " + std::to_string(s.options.height) +
               " pixels of 4 bytes");
    }
    const ptrdiff_t top = bottomUp ? rowBytes * (s.options.height - 1) : 0;
    const int stride = static_cast<int>(bottomUp ? -rowBytes : rowBytes);
    auto shared = std::make_shared<std::vector<uint8_t>>(std::move(pixels));
    worker_->post([&s, shared, top, stride, pts] {
        const auto start = std::chrono::steady_clock::now();
        s.encode(shared->data() + top, stride, pts);
        s.threadSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        s.giveBack(std::move(*shared));
    });
}

void ExportWriter::writeData(const uint8_t* data, int size, int64_t pts) {
    State& s = *state_;
    if (s.data == nullptr || size <= 0) {
        return;
    }
    const bool cell = s.options.dataSynchronous;
    if (cell && static_cast<size_t>(size) > kMaxCellData) {
        s.fail("KLV data packet of " + std::to_string(size) + " bytes is too long for one cell");
    }
    auto packet = std::make_shared<PacketPtr>(av_packet_alloc());
    if (!*packet) {
        s.fail("cannot allocate a packet");
    }
    AVPacket* p = packet->get();
    const size_t header = cell ? kCellHeaderSize : 0;
    s.check(av_new_packet(p, static_cast<int>(header + size)), "cannot allocate a packet");
    if (cell) {
        writeCellHeader(p->data, static_cast<size_t>(size), s.cellSequence++);
    }
    std::copy(data, data + size, p->data + header);
    p->pts = pts;
    p->dts = pts;
    p->stream_index = s.data->index;
    av_packet_rescale_ts(p, s.options.dataTimeBase, s.data->time_base);
    // Through the encoding thread, which alone uses the muxer, in the order given.
    worker_->post([&s, packet] { s.file.write(packet->get(), "cannot write KLV"); });
}

void ExportWriter::finish() {
    State& s = *state_;
    if (s.file.complete()) {
        return;
    }
    worker_->wait(); // the encoding thread is idle from here on
    s.pictures->sendEnd();
    s.drainEncoder();
    s.file.finish();
}

} // namespace skyframe
