#include "app/FrameLoop.h"

#include "app/BgrConverter.h"
#include "app/FfmpegHandles.h"

#include <chrono>
#include <iostream>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace skyframe {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One decoding thread. Frame threads would hold every picture back by a thread's worth of
// packets, so the telemetry queued by the time a picture is shown would depend on the core
// count, and the overlay would drift from the video by that many frames. Single-threaded
// decoding of 720p H.264 is several times faster than the rendering it feeds.
constexpr int kDecoderThreads = 1;

} // namespace

StreamSelection selectStreams(const AVFormatContext& format) {
    StreamSelection s;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        switch (format.streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            s.video = static_cast<int>(i);
            break;
        case AVMEDIA_TYPE_DATA:
            s.data = static_cast<int>(i);
            break;
        default:
            break;
        }
    }
    return s;
}

int runFrameLoop(const std::string& path, const FrameLoopHooks& hooks, std::ostream& err,
                 FrameLoopStats* stats) {
    FrameLoopStats local;
    FrameLoopStats& st = stats ? *stats : local;

    AVFormatContext* rawFormat = nullptr;
    int rc = avformat_open_input(&rawFormat, path.c_str(), nullptr, nullptr);
    if (rc != 0) {
        err << path << ": cannot open video: " << avErrorText(rc) << std::endl;
        return -1;
    }
    InputFormatPtr format(rawFormat);
    rc = avformat_find_stream_info(format.get(), nullptr);
    if (rc < 0) {
        err << path << ": cannot read stream information: " << avErrorText(rc) << std::endl;
        return -1;
    }
    av_dump_format(format.get(), 0, path.c_str(), 0);

    const StreamSelection streams = selectStreams(*format);
    if (streams.video < 0) {
        err << path << ": no video stream" << std::endl;
        return -1;
    }
    const AVCodecParameters* parameters = format->streams[streams.video]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder) {
        std::cerr << "Unsupported codec!\n";
        return -1;
    }
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), parameters) < 0) {
        std::cerr << "Couldn't copy codec context" << std::flush;
        return -1;
    }
    codec->thread_count = kDecoderThreads;
    rc = avcodec_open2(codec.get(), decoder, nullptr);
    if (rc < 0) {
        err << path << ": cannot open the " << decoder->name << " decoder: " << avErrorText(rc)
            << std::endl;
        return -1;
    }
    FramePtr picture(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!picture || !packet) {
        err << path << ": out of memory" << std::endl;
        return -1;
    }
    BgrConverter converter;
    if (!converter.configure(codec->width, codec->height, codec->pix_fmt)) {
        err << path << ": cannot convert " << codec->width << "x" << codec->height << " "
            << (av_get_pix_fmt_name(codec->pix_fmt) ? av_get_pix_fmt_name(codec->pix_fmt) : "?")
            << " pictures to BGR" << std::endl;
        return -1;
    }
    if (hooks.opened) {
        hooks.opened();
    }

    // Hands out every picture the decoder has completed; false once the viewer is done.
    auto receivePictures = [&]() {
        for (;;) {
            const auto decodeStart = Clock::now();
            const int r = avcodec_receive_frame(codec.get(), picture.get());
            st.decodeSeconds += secondsSince(decodeStart);
            if (r < 0) {
                // EAGAIN: needs the next packet; EOF: drained; anything else: a broken
                // picture, which is not counted.
                return true;
            }
            ++st.decodedPictures;
            if (st.decodedPictures % 2 == 1) {
                av_frame_unref(picture.get());
                continue;
            }
            const auto convertStart = Clock::now();
            const uint8_t* bgr = converter.convert(*picture);
            st.convertSeconds += secondsSince(convertStart);
            const int width = picture->width;
            const int height = picture->height;
            av_frame_unref(picture.get());
            if (!bgr) {
                continue;
            }
            ++st.processedPictures;
            const auto hookStart = Clock::now();
            if (hooks.picture) {
                hooks.picture(bgr, width, height);
            }
            st.pictureSeconds += secondsSince(hookStart);
            if (hooks.done && hooks.done()) {
                return false;
            }
        }
    };

    bool running = true;
    for (;;) {
        const auto readStart = Clock::now();
        const int r = av_read_frame(format.get(), packet.get());
        st.readSeconds += secondsSince(readStart);
        if (r < 0) {
            break;
        }
        ++st.packets;
        if (hooks.done && hooks.done()) {
            av_packet_unref(packet.get());
            running = false;
            break;
        }
        if (packet->stream_index == streams.data && streams.data >= 0) {
            ++st.dataPackets;
            if (hooks.dataPacket) {
                hooks.dataPacket(packet->data, packet->size);
            }
        }
        if (packet->stream_index == streams.video) {
            const auto decodeStart = Clock::now();
            avcodec_send_packet(codec.get(), packet.get());
            st.decodeSeconds += secondsSince(decodeStart);
            running = receivePictures();
        }
        av_packet_unref(packet.get());
        if (!running) {
            break;
        }
    }
    if (running) {
        // The decoder may still hold delayed pictures (B-frames, frame threads).
        avcodec_send_packet(codec.get(), nullptr);
        receivePictures();
    }
    return 0;
}

} // namespace skyframe
