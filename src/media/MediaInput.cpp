#include "media/MediaInput.h"

#include <cmath>
#include <limits>

namespace skyframe {

namespace {

using Clock = std::chrono::steady_clock;

bool isData(const AVStream& s) {
    return s.codecpar->codec_type == AVMEDIA_TYPE_DATA;
}

int lastDataStream(const AVFormatContext& format) {
    int last = -1;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        if (isData(*format.streams[i])) {
            last = static_cast<int>(i);
        }
    }
    return last;
}

double toSeconds(int64_t timestamp, AVRational base) {
    if (timestamp == AV_NOPTS_VALUE) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(timestamp) * av_q2d(base);
}

} // namespace

bool startsWithUniversalKey(const uint8_t* data, int size) {
    return data != nullptr && size >= 16 && data[0] == 0x06 && data[1] == 0x0E && data[2] == 0x2B &&
           data[3] == 0x34;
}

int lastKlvDataStream(const std::string& path, int packetLimit) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) {
        return -1;
    }
    InputFormatPtr format(raw);
    const int fallback = lastDataStream(*format);
    PacketPtr packet(av_packet_alloc());
    int best = -1;
    for (int n = 0; packet && n < packetLimit; ++n) {
        if (av_read_frame(format.get(), packet.get()) < 0) {
            break;
        }
        const int s = packet->stream_index;
        if (s > best && s < static_cast<int>(format->nb_streams) && isData(*format->streams[s]) &&
            startsWithUniversalKey(packet->data, packet->size)) {
            best = s;
        }
        av_packet_unref(packet.get());
    }
    return best >= 0 ? best : fallback;
}

void SourceWatch::install(AVFormatContext& format) {
    format.interrupt_callback.callback = &SourceWatch::check;
    format.interrupt_callback.opaque = this;
}

InputFormatPtr SourceWatch::open(const std::string& path, double seconds,
                                 const std::string& failure) {
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) {
        throw MediaError(path + ": out of memory");
    }
    install(*raw);
    restart(seconds);
    const int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc != 0) {
        // avformat_open_input frees the context on failure.
        throw MediaError(path + ": " + failure + ": " + avErrorText(rc));
    }
    return InputFormatPtr(raw);
}

void SourceWatch::restart(double seconds) {
    deadline_ = Clock::now() +
                std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int SourceWatch::check(void* self) {
    auto* watch = static_cast<SourceWatch*>(self);
    if (watch->stop_ != nullptr && *watch->stop_ != 0) {
        return 1;
    }
    if (Clock::now() > watch->deadline_) {
        watch->timedOut_ = true;
        return 1;
    }
    return 0;
}

MediaInput::MediaInput(const std::string& path, const MediaOpenOptions& options)
    : path_(path), timeout_(options.timeoutSeconds), watch_(options.stop) {
    openSource(path);
    selectStreams(options);
    openDecoder(options.decoderThreads);
}

void MediaInput::openSource(const std::string& path) {
    format_ = watch_.open(path, timeout_ + 5.0, "cannot open video");
    const int rc = avformat_find_stream_info(format_.get(), nullptr);
    if (rc < 0) {
        throw MediaError(path + ": cannot read stream information: " + avErrorText(rc));
    }
    av_dump_format(format_.get(), 0, path.c_str(), 0);
}

void MediaInput::selectStreams(const MediaOpenOptions& options) {
    const AVFormatContext& f = *format_;
    for (unsigned i = 0; i < f.nb_streams; ++i) {
        if (f.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            video_ = static_cast<int>(i);
        }
    }
    if (video_ < 0) {
        throw MediaError(path_ + ": no video stream");
    }
    if (options.dataStream >= 0) {
        if (options.dataStream >= static_cast<int>(f.nb_streams) ||
            !isData(*f.streams[options.dataStream])) {
            throw MediaError(path_ + ": stream " + std::to_string(options.dataStream) +
                             " is not a data stream");
        }
        data_ = options.dataStream;
    } else {
        data_ = seekable() ? lastKlvDataStream(path_) : lastDataStream(f);
    }
    const AVStream& v = *f.streams[video_];
    const double first = toSeconds(v.start_time, v.time_base);
    start_ = std::isfinite(first) ? first : 0.0;
    const AVRational rate = v.avg_frame_rate.num > 0 ? v.avg_frame_rate : v.r_frame_rate;
    frameRate_ = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
}

void MediaInput::openDecoder(int threads) {
    const AVCodecParameters* parameters = format_->streams[video_]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) {
        throw MediaError("Unsupported codec!");
    }
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), parameters) < 0) {
        throw MediaError("Couldn't copy codec context");
    }
    decoder_->thread_count = threads;
    const int rc = avcodec_open2(decoder_.get(), codec, nullptr);
    if (rc < 0) {
        throw MediaError(path_ + ": cannot open the " + codec->name +
                         " decoder: " + avErrorText(rc));
    }
}

bool MediaInput::read(AVPacket& packet) {
    watch_.restart(timeout_);
    return av_read_frame(format_.get(), &packet) >= 0;
}

bool MediaInput::seekable() const {
    return format_->pb != nullptr && (format_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
}

bool MediaInput::seek(double secondsTarget) {
    if (!seekable()) {
        return false;
    }
    watch_.restart(timeout_);
    const AVStream& v = *format_->streams[video_];
    const auto ts = static_cast<int64_t>(std::floor(secondsTarget / av_q2d(v.time_base)));
    if (av_seek_frame(format_.get(), video_, ts, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(format_.get(), video_, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0) {
        return false;
    }
    avcodec_flush_buffers(decoder_.get());
    return true;
}

double MediaInput::seconds(int stream, int64_t timestamp) const {
    if (stream < 0 || stream >= static_cast<int>(format_->nb_streams)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return toSeconds(timestamp, format_->streams[stream]->time_base);
}

} // namespace skyframe
