#include "MediaContents.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

namespace skyframe::test {

namespace {

struct Handles {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    ~Handles() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

RgbImage toRgb(const AVFrame& frame) {
    RgbImage image;
    image.width = frame.width;
    image.height = frame.height;
    image.rgb.resize(static_cast<size_t>(frame.width) * frame.height * 3);
    SwsContext* sws = sws_getContext(
        frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
        frame.height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    uint8_t* planes[1] = {image.rgb.data()};
    const int strides[1] = {frame.width * 3};
    sws_scale(sws, frame.data, frame.linesize, 0, frame.height, planes, strides);
    sws_freeContext(sws);
    return image;
}

// Takes every picture the decoder has ready.
void receive(Handles& h, MediaContents& m, const std::set<size_t>& wanted) {
    while (avcodec_receive_frame(h.codec, h.frame) == 0) {
        // The sources have no B-frames: output order is display order.
        const size_t index = m.videoPts.size();
        m.videoPts.push_back(h.frame->best_effort_timestamp);
        if (wanted.count(index) != 0) {
            m.pictures[index] = toRgb(*h.frame);
        }
        av_frame_unref(h.frame);
    }
}

// libx264 writes its version and options as text in a user-data message of the first
// picture: "x264 - core 164 ... - options: cabac=1 ref=1 ...", ended by a zero byte.
std::string x264OptionsIn(const AVPacket& packet) {
    const std::string bytes(reinterpret_cast<const char*>(packet.data),
                            static_cast<size_t>(packet.size));
    const std::string mark = " - options: ";
    const size_t banner = bytes.find("x264 - core");
    const size_t start = banner == std::string::npos ? banner : bytes.find(mark, banner);
    if (start == std::string::npos) {
        return "";
    }
    const size_t end = bytes.find('\0', start);
    return bytes.substr(start + mark.size(),
                        end == std::string::npos ? end : end - start - mark.size());
}

} // namespace

MediaContents readMedia(const std::filesystem::path& file, const std::set<size_t>& wanted) {
    Handles h;
    MediaContents m;
    if (avformat_open_input(&h.format, file.c_str(), nullptr, nullptr) != 0 ||
        avformat_find_stream_info(h.format, nullptr) < 0) {
        throw std::runtime_error(file.string() + ": FFmpeg cannot open it");
    }
    int video = -1, data = -1;
    for (unsigned i = 0; i < h.format->nb_streams; ++i) {
        const AVCodecParameters& p = *h.format->streams[i]->codecpar;
        if (p.codec_type == AVMEDIA_TYPE_VIDEO) {
            ++m.videoStreams;
            video = static_cast<int>(i);
            m.width = p.width;
            m.height = p.height;
        } else if (p.codec_type == AVMEDIA_TYPE_DATA) {
            ++m.dataStreams;
            data = static_cast<int>(i);
            const uint32_t tag = p.codec_tag;
            m.dataTag = std::string{static_cast<char>(tag & 0xFF), static_cast<char>(tag >> 8),
                                    static_cast<char>(tag >> 16), static_cast<char>(tag >> 24)};
        }
    }
    if (video < 0) {
        return m;
    }
    const AVCodecParameters& vp = *h.format->streams[video]->codecpar;
    h.codec = avcodec_alloc_context3(avcodec_find_decoder(vp.codec_id));
    avcodec_parameters_to_context(h.codec, &vp);
    if (avcodec_open2(h.codec, nullptr, nullptr) < 0) {
        throw std::runtime_error(file.string() + ": cannot open the video decoder");
    }
    while (av_read_frame(h.format, h.packet) >= 0) {
        if (h.packet->stream_index == video) {
            if (m.x264Options.empty()) {
                m.x264Options = x264OptionsIn(*h.packet);
            }
            avcodec_send_packet(h.codec, h.packet);
            receive(h, m, wanted);
        } else if (h.packet->stream_index == data) {
            m.data.push_back({std::vector<uint8_t>(h.packet->data, h.packet->data + h.packet->size),
                              h.packet->pts == AV_NOPTS_VALUE ? INT64_MIN : h.packet->pts});
        }
        av_packet_unref(h.packet);
    }
    avcodec_send_packet(h.codec, nullptr);
    receive(h, m, wanted);
    return m;
}

} // namespace skyframe::test
