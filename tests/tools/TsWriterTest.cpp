#include "media/TsWriter.h"

#include "media/FfmpegHandles.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace skyframe {
namespace {

namespace fs = std::filesystem;

// libx264 reports its statistics at info level; the tests only want errors.
const bool quietFfmpeg = (av_log_set_level(AV_LOG_ERROR), true);

fs::path scratchFile(const std::string& name) {
    const fs::path dir = fs::path(SKYFRAME_BINARY_DIR) / "test-scratch" / "tswriter";
    fs::create_directories(dir);
    const fs::path file = dir / name;
    fs::remove(file);
    return file;
}

struct DataPacket {
    std::vector<unsigned char> bytes;
    int64_t pts;
};

struct ReadBack {
    int videoStreams = 0;
    int dataStreams = 0;
    AVCodecID videoCodec = AV_CODEC_ID_NONE;
    AVCodecID dataCodec = AV_CODEC_ID_NONE;
    int width = 0, height = 0;
    AVRational videoTimeBase{0, 1}, dataTimeBase{0, 1};
    int64_t firstVideoPts = AV_NOPTS_VALUE;
    std::vector<DataPacket> data;
    // Centre pixel (R, G, B) of every decoded picture, in display order.
    std::vector<std::array<int, 3>> centres;
};

// Demuxes and decodes the file with FFmpeg, the way a player reads it.
ReadBack readBack(const fs::path& file) {
    ReadBack r;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) != 0) {
        throw std::runtime_error("cannot open " + file.string());
    }
    InputFormatPtr format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        throw std::runtime_error("no stream info in " + file.string());
    }
    int videoIndex = -1, dataIndex = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* par = format->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            ++r.videoStreams;
            videoIndex = static_cast<int>(i);
            r.videoCodec = par->codec_id;
            r.width = par->width;
            r.height = par->height;
            r.videoTimeBase = format->streams[i]->time_base;
        } else if (par->codec_type == AVMEDIA_TYPE_DATA) {
            ++r.dataStreams;
            dataIndex = static_cast<int>(i);
            r.dataCodec = par->codec_id;
            r.dataTimeBase = format->streams[i]->time_base;
        }
    }
    if (videoIndex < 0) {
        return r;
    }
    const AVCodec* decoder = avcodec_find_decoder(r.videoCodec);
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), format->streams[videoIndex]->codecpar);
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        throw std::runtime_error("cannot open decoder");
    }
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    auto takeFrames = [&]() {
        while (avcodec_receive_frame(codec.get(), frame.get()) == 0) {
            std::vector<uint8_t> rgb(static_cast<size_t>(frame->width) * frame->height * 3);
            SwsContextPtr sws(sws_getContext(frame->width, frame->height,
                                             static_cast<AVPixelFormat>(frame->format),
                                             frame->width, frame->height, AV_PIX_FMT_RGB24,
                                             SWS_BILINEAR, nullptr, nullptr, nullptr));
            uint8_t* dst[1] = {rgb.data()};
            const int dstStride[1] = {frame->width * 3};
            sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride);
            const size_t centre =
                (static_cast<size_t>(frame->height / 2) * frame->width + frame->width / 2) * 3;
            r.centres.push_back({rgb[centre], rgb[centre + 1], rgb[centre + 2]});
        }
    };
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == dataIndex) {
            r.data.push_back({std::vector<unsigned char>(packet->data, packet->data + packet->size),
                              packet->pts});
        } else if (packet->stream_index == videoIndex) {
            if (r.firstVideoPts == AV_NOPTS_VALUE) {
                r.firstVideoPts = packet->pts;
            }
            avcodec_send_packet(codec.get(), packet.get());
            takeFrames();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    takeFrames();
    return r;
}

// A deterministic byte pattern of any length, standing in for KLV packets of every size
// class: one TS packet, several, and thousands of bytes.
std::vector<unsigned char> pattern(size_t size, unsigned seed) {
    std::vector<unsigned char> bytes(size);
    unsigned state = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}

// Frame i is one flat colour, so every decoded picture can be told apart by its centre.
std::array<int, 3> sentinelColour(int i) {
    static const std::array<int, 3> colours[] = {
        {220, 30, 30}, {30, 200, 40}, {40, 40, 210}, {230, 230, 40}, {128, 128, 128}};
    return colours[i % 5];
}

std::vector<unsigned char> flatFrame(int width, int height, std::array<int, 3> rgb,
                                     PixelOrder order) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
    for (size_t p = 0; p < pixels.size(); p += 3) {
        const bool bgr = order == PixelOrder::Bgr;
        pixels[p] = static_cast<unsigned char>(bgr ? rgb[2] : rgb[0]);
        pixels[p + 1] = static_cast<unsigned char>(rgb[1]);
        pixels[p + 2] = static_cast<unsigned char>(bgr ? rgb[0] : rgb[2]);
    }
    return pixels;
}

class TsWriterRoundTrip : public testing::TestWithParam<std::tuple<VideoCodec, PixelOrder>> {};

TEST_P(TsWriterRoundTrip, VideoAndKlvComeBackFromFfmpeg) {
    const auto [codec, order] = GetParam();
    TsWriterOptions options;
    options.width = 64;
    options.height = 48;
    options.fps = 25;
    options.codec = codec;
    options.pixelOrder = order;
    options.h264Preset = "ultrafast";
    const fs::path file = scratchFile("roundtrip_" + std::to_string(static_cast<int>(codec)) +
                                      std::to_string(static_cast<int>(order)) + ".ts");

    const std::vector<size_t> sizes = {17, 150, 184, 185, 700, 2422, 5000, 40};
    std::vector<std::vector<unsigned char>> sent;
    std::vector<double> times;
    constexpr int kFrames = 8;
    {
        TsWriter writer(file.string(), options);
        for (int i = 0; i < kFrames; ++i) {
            const auto pixels = flatFrame(64, 48, sentinelColour(i), order);
            writer.writeFrame(pixels.data());
            sent.push_back(pattern(sizes[i], static_cast<unsigned>(i)));
            times.push_back(i / 25.0 + 0.004);
            writer.writeKlv(sent.back(), times.back());
        }
        EXPECT_EQ(writer.framesWritten(), kFrames);
        EXPECT_FALSE(fs::exists(file)) << "the file must appear only when finished";
        writer.finish();
    }
    ASSERT_TRUE(fs::exists(file));
    EXPECT_FALSE(fs::exists(file.string() + ".part"));

    const ReadBack r = readBack(file);
    EXPECT_EQ(r.videoStreams, 1);
    EXPECT_EQ(r.dataStreams, 1);
    EXPECT_EQ(r.videoCodec, codec == VideoCodec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG2VIDEO);
    EXPECT_EQ(r.dataCodec, AV_CODEC_ID_SMPTE_KLV);
    EXPECT_EQ(r.width, 64);
    EXPECT_EQ(r.height, 48);

    ASSERT_EQ(r.data.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "KLV packet " << i);
        EXPECT_EQ(r.data[i].bytes, sent[i]);
        ASSERT_NE(r.data[i].pts, AV_NOPTS_VALUE);
        // Same clock as the video: the offset from the first picture is what was asked.
        const double seconds =
            r.data[i].pts * av_q2d(r.dataTimeBase) - r.firstVideoPts * av_q2d(r.videoTimeBase);
        EXPECT_NEAR(seconds, times[i], 1.0 / 90000);
    }

    ASSERT_EQ(r.centres.size(), static_cast<size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE(testing::Message() << "picture " << i);
        const auto expected = sentinelColour(i);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(r.centres[i][c], expected[c], 12) << "channel " << c;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(CodecsAndOrders, TsWriterRoundTrip,
                         testing::Values(std::make_tuple(VideoCodec::Mpeg2, PixelOrder::Rgb),
                                         std::make_tuple(VideoCodec::Mpeg2, PixelOrder::Bgr),
                                         std::make_tuple(VideoCodec::H264, PixelOrder::Rgb)));

TEST(TsWriter, UnfinishedWriterLeavesNoFile) {
    const fs::path file = scratchFile("unfinished.ts");
    {
        TsWriterOptions options;
        options.width = 32;
        options.height = 32;
        options.codec = VideoCodec::Mpeg2;
        TsWriter writer(file.string(), options);
        const auto pixels = flatFrame(32, 32, {1, 2, 3}, PixelOrder::Rgb);
        writer.writeFrame(pixels.data());
        ASSERT_TRUE(fs::exists(file.string() + ".part"));
    }
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(file.string() + ".part"));
}

TEST(TsWriter, ErrorsNameTheFile) {
    const std::string missingDir = scratchFile("no-such-dir").string() + "/out.ts";
    try {
        TsWriter writer(missingDir, TsWriterOptions{});
        FAIL() << "a file in a missing folder was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(missingDir), std::string::npos) << e.what();
    }
    TsWriterOptions odd;
    odd.width = 33;
    EXPECT_THROW(TsWriter(scratchFile("odd.ts").string(), odd), std::runtime_error);
}

TEST(TsWriter, KlvTimeGoingBackIsRefused) {
    const fs::path file = scratchFile("backwards.ts");
    TsWriterOptions options;
    options.width = 32;
    options.height = 32;
    options.codec = VideoCodec::Mpeg2;
    TsWriter writer(file.string(), options);
    const auto klv = pattern(40, 1);
    writer.writeKlv(klv, 0.5);
    EXPECT_THROW(writer.writeKlv(klv, 0.25), std::runtime_error);
    EXPECT_THROW(writer.writeKlv(klv, -1.0), std::runtime_error);
}

} // namespace
} // namespace skyframe
