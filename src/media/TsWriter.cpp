#include "media/TsWriter.h"

#include "media/FfmpegHandles.h"
#include "media/MetadataCell.h"
#include "media/OutputFile.h"
#include "media/PictureEncoder.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace skyframe {

namespace {

// MPEG-TS time stamps run at 90 kHz.
constexpr AVRational kTsTimeBase = {1, 90000};

} // namespace

struct TsWriter::State {
    explicit State(const std::string& path, const TsWriterOptions& o)
        : file(path, "mpegts"), options(o) {}

    OutputFile file;
    TsWriterOptions options;
    CodecContextPtr encoder;
    std::unique_ptr<PictureEncoder> pictures;
    AVStream* videoStream = nullptr;
    AVStream* klvStream = nullptr;
    int frames = 0;
    int videoPacketsOut = 0;
    int64_t lastKlvPts = INT64_MIN;
    unsigned klvSequence = 0;

    [[noreturn]] void fail(const std::string& what, int code = 0) const { file.fail(what, code); }
    void check(int code, const std::string& what) const { file.check(code, what); }

    // Moves every packet the encoder has ready into the file.
    void drainEncoder() {
        pictures->receive([this](AVPacket& p) {
            if (videoPacketsOut++ < options.skipFirstVideoPackets) {
                return;
            }
            av_packet_rescale_ts(&p, encoder->time_base, videoStream->time_base);
            p.stream_index = videoStream->index;
            file.write(&p, "cannot write video packet");
        });
    }
};

TsWriter::TsWriter(const std::string& path, const TsWriterOptions& options)
    : state_(std::make_unique<State>(path, options)) {
    State& s = *state_;
    if (options.width <= 0 || options.height <= 0 || options.width % 2 != 0 ||
        options.height % 2 != 0) {
        s.fail("video size " + std::to_string(options.width) + "x" +
               std::to_string(options.height) + " is not a positive even size");
    }
    if (options.fps <= 0) {
        s.fail("frame rate " + std::to_string(options.fps) + " is not positive");
    }

    const AVCodec* codec = nullptr;
    if (options.codec == VideoCodec::H264) {
        codec = avcodec_find_encoder_by_name("libx264");
        if (codec == nullptr) {
            s.fail("FFmpeg has no libx264 encoder");
        }
    } else {
        codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
        if (codec == nullptr) {
            s.fail("FFmpeg has no MPEG-2 video encoder");
        }
    }
    s.encoder.reset(avcodec_alloc_context3(codec));
    if (!s.encoder) {
        s.fail("cannot allocate the video encoder");
    }
    AVCodecContext* enc = s.encoder.get();
    enc->width = options.width;
    enc->height = options.height;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = AVRational{1, options.fps};
    enc->framerate = AVRational{options.fps, 1};
    enc->gop_size = options.keyframeInterval > 0 ? options.keyframeInterval : options.fps;
    enc->max_b_frames = 0;
    if (options.codec == VideoCodec::H264) {
        s.check(av_opt_set(enc->priv_data, "preset", options.h264Preset.c_str(), 0),
                "libx264 rejects preset \"" + options.h264Preset + "\"");
        s.check(av_opt_set_double(enc->priv_data, "crf", options.h264Crf, 0),
                "libx264 rejects crf " + std::to_string(options.h264Crf));
    } else {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * options.mpeg2Quantizer;
    }
    if (s.file.format()->oformat->flags & AVFMT_GLOBALHEADER) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    s.check(avcodec_open2(enc, codec, nullptr), "cannot open the video encoder");

    s.videoStream = avformat_new_stream(s.file.format(), nullptr);
    if (s.videoStream == nullptr) {
        s.fail("cannot add the video stream");
    }
    s.videoStream->time_base = enc->time_base;
    s.check(avcodec_parameters_from_context(s.videoStream->codecpar, enc),
            "cannot describe the video stream");

    s.klvStream = avformat_new_stream(s.file.format(), nullptr);
    if (s.klvStream == nullptr) {
        s.fail("cannot add the KLV stream");
    }
    s.klvStream->codecpar->codec_type = AVMEDIA_TYPE_DATA;
    s.klvStream->codecpar->codec_id = AV_CODEC_ID_SMPTE_KLV;
    // Synchronous metadata: each KLV packet carries the time of the picture it describes.
    s.klvStream->codecpar->profile = FF_PROFILE_KLVA_SYNC;
    s.klvStream->time_base = kTsTimeBase;

    const AVPixelFormat input =
        options.pixelOrder == PixelOrder::Rgb ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_BGR24;
    s.pictures = std::make_unique<PictureEncoder>(*enc, input, SWS_BILINEAR, s.file);
    s.file.open();
}

TsWriter::~TsWriter() = default;

void TsWriter::writeFrame(const unsigned char* pixels, int stride) {
    State& s = *state_;
    if (s.file.complete()) {
        s.fail("frame written after finish");
    }
    if (pixels == nullptr) {
        s.fail("frame without pixels");
    }
    const int rowBytes = stride > 0 ? stride : s.options.width * 3;
    s.pictures->send(pixels, rowBytes, s.frames);
    ++s.frames;
    s.drainEncoder();
}

void TsWriter::writeKlv(const unsigned char* data, size_t size, double seconds) {
    State& s = *state_;
    if (s.file.complete()) {
        s.fail("KLV written after finish");
    }
    if (!std::isfinite(seconds) || seconds < 0.0) {
        s.fail("KLV time " + std::to_string(seconds) + " s is not a time in the stream");
    }
    if (size == 0 || size > kMaxCellData) {
        s.fail("KLV data packet of " + std::to_string(size) + " bytes (1 to " +
               std::to_string(kMaxCellData) + " allowed)");
    }
    const int64_t pts =
        std::llround(seconds * s.klvStream->time_base.den / s.klvStream->time_base.num);
    if (pts < s.lastKlvPts) {
        s.fail("KLV time " + std::to_string(seconds) + " s goes back in time");
    }
    s.lastKlvPts = pts;
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        s.fail("cannot allocate a packet");
    }
    s.check(av_new_packet(packet.get(), static_cast<int>(kCellHeaderSize + size)),
            "cannot allocate a packet");
    uint8_t* cell = packet->data;
    writeCellHeader(cell, size, s.klvSequence++);
    std::copy(data, data + size, cell + kCellHeaderSize);
    packet->pts = pts;
    packet->dts = pts;
    packet->stream_index = s.klvStream->index;
    s.file.write(packet.get(), "cannot write KLV packet");
}

void TsWriter::finish() {
    State& s = *state_;
    if (s.file.complete()) {
        return;
    }
    s.pictures->sendEnd();
    s.drainEncoder();
    s.file.finish();
}

int TsWriter::framesWritten() const {
    return state_->frames;
}

const std::string& TsWriter::path() const {
    return state_->file.path();
}

} // namespace skyframe
