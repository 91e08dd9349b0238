#include "app/FrameLoop.h"

#include "media/BgrConverter.h"
#include "media/FfmpegHandles.h"

#include <chrono>
#include <deque>
#include <iostream>
#include <thread>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace skyframe {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Two frame threads halve the decoding time the main thread waits for (720p H.264: 10.5 s
// of a 60 s flight single-threaded, 5.7 s with two). Frame threads hand each picture out a
// packet later, which the data-packet hold-back below makes up for.
int decoderThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores >= 2 ? 2 : 1;
}

// A data packet read while the decoder holds pictures back: it is handed on only once the
// pictures of the video packets read before it have come out.
struct PendingData {
    long videoPacketsBefore;
    PacketPtr packet;
};

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
    codec->thread_count = decoderThreads();
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

    // Telemetry meets each picture in the state it would have with a decoder that holds
    // nothing back: picture k sees exactly the data packets read before the k-th video
    // packet, whatever the decoder's threads or reordering delay it by. The record in use
    // for a picture therefore does not depend on the machine's core count.
    std::deque<PendingData> pendingData;
    long videoPacketsSent = 0;
    auto releaseDataBefore = [&](long picture) {
        while (!pendingData.empty() && pendingData.front().videoPacketsBefore < picture) {
            const AVPacket& p = *pendingData.front().packet;
            if (hooks.dataPacket) {
                hooks.dataPacket(p.data, p.size);
            }
            pendingData.pop_front();
        }
    };

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
            releaseDataBefore(st.decodedPictures);
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
            PacketPtr held(av_packet_alloc());
            if (held && av_packet_ref(held.get(), packet.get()) == 0) {
                pendingData.push_back({videoPacketsSent, std::move(held)});
            }
        }
        if (packet->stream_index == streams.video) {
            const auto decodeStart = Clock::now();
            avcodec_send_packet(codec.get(), packet.get());
            ++videoPacketsSent;
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
