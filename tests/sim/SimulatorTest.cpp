// End to end: flights written by the simulator, read back the way the viewer reads them.

#include "Simulator.h"
#include "BitmapFont.h"

#include "media/FfmpegHandles.h"
#include "telemetry/Klv.h"
#include "telemetry/KlvPacket.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace skyframe {
namespace {

namespace fs = std::filesystem;

const bool quietFfmpeg = (av_log_set_level(AV_LOG_ERROR), true);
const std::string kSamples = SKYFRAME_SOURCE_DIR "/data";
const std::string kCell = SKYFRAME_TESTDATA "/n33_w116_3arc_v2.dt1";

fs::path scratchDir() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir = fs::path(SKYFRAME_BINARY_DIR) / "test-scratch" / "skyframe-sim" /
                         (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// A short, small flight along the sample route, looking down on plain ground.
SimOptions smallFlight(const fs::path& output) {
    SimOptions o;
    o.output = output.string();
    o.width = 320;
    o.height = 180;
    o.fps = 30;
    o.duration = 0.4; // 12 frames
    o.missionPath = kSamples + "/mission.xml";
    o.targetsPath = kSamples + "/targets.xml";
    o.ground = GroundKind::Plain;
    o.markers.radius = 10.0;
    return o;
}

struct Picture {
    RgbImage image;
    int klvBefore = 0; // KLV packets demuxed when the decoder handed out this picture
};

struct ReadBack {
    std::string order; // 'K' and 'V' per packet, in demux order
    std::vector<std::vector<unsigned char>> klv;
    std::vector<int64_t> klvPts, videoPts;
    AVRational klvTimeBase{0, 1}, videoTimeBase{0, 1};
    std::vector<Picture> pictures;
};

// Demuxes and decodes the way the viewer does: the last video and data streams, one
// decoder thread, send/receive, every received frame one picture.
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
    int video = -1, data = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVMediaType type = format->streams[i]->codecpar->codec_type;
        video = type == AVMEDIA_TYPE_VIDEO ? static_cast<int>(i) : video;
        data = type == AVMEDIA_TYPE_DATA ? static_cast<int>(i) : data;
    }
    if (video < 0 || data < 0) {
        throw std::runtime_error("missing stream in " + file.string());
    }
    r.videoTimeBase = format->streams[video]->time_base;
    r.klvTimeBase = format->streams[data]->time_base;
    const AVCodecParameters* par = format->streams[video]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), par);
    codec->thread_count = 1;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        throw std::runtime_error("cannot open the decoder");
    }
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    auto receive = [&]() {
        while (avcodec_receive_frame(codec.get(), frame.get()) == 0) {
            Picture p;
            p.image = RgbImage(frame->width, frame->height);
            p.klvBefore = static_cast<int>(r.klv.size());
            SwsContextPtr sws(sws_getContext(frame->width, frame->height,
                                             static_cast<AVPixelFormat>(frame->format),
                                             frame->width, frame->height, AV_PIX_FMT_RGB24,
                                             SWS_BILINEAR, nullptr, nullptr, nullptr));
            uint8_t* planes[1] = {p.image.pixels.data()};
            const int strides[1] = {frame->width * 3};
            sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
            r.pictures.push_back(std::move(p));
        }
    };
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == data) {
            r.order += 'K';
            r.klv.emplace_back(packet->data, packet->data + packet->size);
            r.klvPts.push_back(packet->pts);
        } else if (packet->stream_index == video) {
            r.order += 'V';
            r.videoPts.push_back(packet->pts);
            avcodec_send_packet(codec.get(), packet.get());
            receive();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    receive();
    return r;
}

KlvRecord decode(const std::vector<unsigned char>& packet) {
    recordQueue queue;
    EXPECT_EQ(appendKlvRecords(queue, packet.data(), packet.size()), 1u);
    return queue.empty() ? KlvRecord() : std::move(*queue.front());
}

long frameOfTimestamp(const KlvRecord& r, int fps) {
    return std::lround((r.timestamp - kFlightEpochMicroseconds) * fps / 1e6);
}

bool isMagentaLike(const uint8_t* p) {
    return p[0] > 150 && p[2] > 150 && p[1] < 110;
}

// A flight written once per test process for the tests of this suite. CTest runs the tests
// as separate processes, in parallel: each writes a file of its own.
class SmallFlight : public testing::Test {
protected:
    static void SetUpTestSuite() {
        const fs::path dir = fs::path(SKYFRAME_BINARY_DIR) / "test-scratch" / "skyframe-sim";
        fs::create_directories(dir);
        options_ =
            new SimOptions(smallFlight(dir / ("small-" + std::to_string(::getpid()) + ".ts")));
        try {
            std::ostringstream progress;
            summary_ = new SimSummary(runSimulation(*options_, progress));
            readBack_ = new ReadBack(readBack(options_->output));
        } catch (const std::exception& e) {
            setUpError_ = new std::string(e.what());
        }
        std::error_code ec;
        fs::remove(options_->output, ec);
    }
    static void TearDownTestSuite() {
        delete setUpError_;
        delete readBack_;
        delete summary_;
        delete options_;
        setUpError_ = nullptr;
        readBack_ = nullptr;
        summary_ = nullptr;
        options_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(setUpError_, nullptr)
            << "the flight could not be written or read: " << *setUpError_;
    }
    static SimOptions* options_;
    static SimSummary* summary_;
    static ReadBack* readBack_;
    static std::string* setUpError_;
};
SimOptions* SmallFlight::options_ = nullptr;
SimSummary* SmallFlight::summary_ = nullptr;
ReadBack* SmallFlight::readBack_ = nullptr;
std::string* SmallFlight::setUpError_ = nullptr;

TEST_F(SmallFlight, HoldsOneKlvPacketPerFrameCarryingTheTelemetryOfTheFrameLeadAhead) {
    const ReadBack& r = *readBack_;
    const Flight flight(*options_);
    ASSERT_EQ(summary_->frames, 12);
    ASSERT_EQ(r.pictures.size(), 12u);
    ASSERT_EQ(r.videoPts.size(), 12u);
    // One per frame, and 4 - lead after the last so that the last pictures find theirs.
    const size_t expectedPackets = 12u + static_cast<size_t>(trailingPackets(options_->lead));
    ASSERT_EQ(r.klv.size(), expectedPackets);
    EXPECT_EQ(summary_->klvPackets, static_cast<int>(expectedPackets));
    for (size_t i = 0; i < r.klv.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.klv[i], flight.packet(static_cast<long>(i)));
        EXPECT_EQ(r.klv[i][16], 0x81);
        const KlvRecord record = decode(r.klv[i]);
        EXPECT_EQ(frameOfTimestamp(record, 30), static_cast<long>(i) + options_->lead);
        const KlvRecord expected = flight.telemetry().at(static_cast<long>(i) + options_->lead);
        EXPECT_NEAR(record.sensorLatitude, expected.sensorLatitude, 1e-7);
        EXPECT_NEAR(record.sensorLongitude, expected.sensorLongitude, 1e-7);
        EXPECT_NEAR(record.sensorEllipsoidHeight, *options_->altitude, 0.2);
        EXPECT_NEAR(record.sensorElevation, -90.0, 1e-6);
        KlvPacket framed;
        ASSERT_TRUE(frameKlvPacket(r.klv[i].data(), r.klv[i].size(), framed));
        EXPECT_EQ(verifyChecksum(framed), ChecksumStatus::Ok);
    }
    // Each presented at the instant of the pose it carries: with no lead, its frame's.
    for (size_t i = 0; i < r.videoPts.size(); ++i) {
        const int64_t video = av_rescale_q(r.videoPts[i], r.videoTimeBase, r.klvTimeBase);
        EXPECT_EQ(video - r.klvPts[i], 0) << i;
    }
}

TEST_F(SmallFlight, DemuxesEachFramesKlvPacketBeforeItsVideo) {
    const std::string& order = readBack_->order;
    int klv = 0, video = 0;
    for (char c : order) {
        if (c == 'K') {
            ++klv;
        } else {
            EXPECT_GT(klv, video) << "video packet " << video << " comes before KLV packet "
                                  << video << " in " << order;
            ++video;
        }
    }
    EXPECT_EQ(video, 12);
}

// What a player that pairs records by their order in the file meets: FFmpeg's demuxer hands
// out a video packet after the KLV packet of the next frame, and a decoder without frame
// threads returns its picture at once. (At the end of the file the last video packets come
// out with the final flush, after every packet.)
TEST_F(SmallFlight, EachPictureArrivesAfterTheKlvPacketOfTheNextFrame) {
    const auto& pictures = readBack_->pictures;
    for (size_t j = 0; j < pictures.size(); ++j) {
        if (j + 2 < pictures.size()) {
            EXPECT_EQ(pictures[j].klvBefore, static_cast<int>(j) + 2) << "picture " << j;
        } else {
            EXPECT_GE(pictures[j].klvBefore, static_cast<int>(j) + 2) << "picture " << j;
        }
    }
}

// A player matching by time finds, at every picture's own time stamp, the packet that
// carries that picture's telemetry.
TEST_F(SmallFlight, EveryPictureHasThePacketOfItsOwnInstant) {
    const ReadBack& r = *readBack_;
    ASSERT_EQ(r.videoPts.size(), r.pictures.size());
    for (size_t j = 0; j < r.videoPts.size(); ++j) {
        const int64_t t = av_rescale_q(r.videoPts[j], r.videoTimeBase, r.klvTimeBase);
        const auto at = std::find(r.klvPts.begin(), r.klvPts.end(), t);
        ASSERT_NE(at, r.klvPts.end()) << "no KLV packet at the time of picture " << j;
        const auto k = static_cast<size_t>(at - r.klvPts.begin());
        EXPECT_EQ(frameOfTimestamp(decode(r.klv[k]), 30), static_cast<long>(j)) << j;
    }
}

TEST_F(SmallFlight, RingsSurroundWhereTheCameraProjectsEveryMarker) {
    const Flight flight(*options_);
    const double radius = options_->markers.radius;
    int ringsChecked = 0;
    for (size_t j = 0; j < readBack_->pictures.size(); ++j) {
        const RgbImage& image = readBack_->pictures[j].image;
        const Camera camera = flight.camera(static_cast<long>(j));
        std::vector<Eigen::Vector2d> centres;
        for (const GeodeticPoint& m : flight.markers()) {
            if (const auto uv = projectMarker(camera, m)) {
                centres.push_back(*uv);
            }
        }
        for (size_t k = 0; k < centres.size(); ++k) {
            const Eigen::Vector2d& c = centres[k];
            const double margin = radius + 4.0;
            if (c.x() < margin || c.y() < margin || c.x() > image.width - margin ||
                c.y() > image.height - margin) {
                continue;
            }
            SCOPED_TRACE(testing::Message()
                         << "picture " << j << " marker at " << c.x() << ", " << c.y());
            int onRing = 0;
            for (int a = 0; a < 24; ++a) {
                const double angle = a * 2.0 * M_PI / 24.0;
                const int x = static_cast<int>(std::floor(c.x() + radius * std::cos(angle)));
                const int y = static_cast<int>(std::floor(c.y() + radius * std::sin(angle)));
                onRing += isMagentaLike(image.at(x, y));
            }
            EXPECT_GE(onRing, 22);
            // Inside and just outside the ring the plain ground shows, unless another
            // marker's ring passes there.
            bool alone = true;
            for (size_t other = 0; other < centres.size(); ++other) {
                alone = alone && (other == k || (centres[other] - c).norm() > 2.0 * radius + 8.0);
            }
            if (alone) {
                const int x = static_cast<int>(c.x()), y = static_cast<int>(c.y());
                EXPECT_FALSE(isMagentaLike(image.at(x, y)));
                EXPECT_FALSE(isMagentaLike(image.at(x + static_cast<int>(radius) / 2, y)));
                EXPECT_FALSE(isMagentaLike(image.at(x + static_cast<int>(radius) + 4, y)));
            }
            ++ringsChecked;
        }
    }
    EXPECT_GE(ringsChecked, 12);
}

TEST_F(SmallFlight, EveryPictureCarriesItsFrameNumber) {
    const int scale = frameNumberScale(options_->height);
    for (size_t j = 0; j < readBack_->pictures.size(); ++j) {
        const auto number = readFrameNumber(readBack_->pictures[j].image, scale);
        ASSERT_TRUE(number.has_value()) << "picture " << j;
        EXPECT_EQ(*number, static_cast<int>(j));
    }
}

TEST(SimulatedHover, KeepsTheLookedAtTargetInTheMiddleOfThePicture) {
    const fs::path dir = scratchDir();
    SimOptions o = smallFlight(dir / "hover.ts");
    o.hover = GeodeticPoint{33.515, -115.93, 2500.0};
    o.hoverHeading = 80.0;
    o.lookTarget = 1;
    o.duration = 0.2;
    o.ground = GroundKind::Checkerboard;
    std::ostringstream progress;
    runSimulation(o, progress);
    const ReadBack r = readBack(o.output);
    ASSERT_EQ(r.pictures.size(), 6u);
    const Flight flight(o);
    // Target 1 is the first marker; its ring is centred on the middle of the picture.
    const auto uv = projectMarker(flight.camera(3), flight.markers().front());
    ASSERT_TRUE(uv.has_value());
    EXPECT_NEAR(uv->x(), 160.0, 0.1);
    EXPECT_NEAR(uv->y(), 90.0, 0.1);
    int onRing = 0;
    for (int a = 0; a < 24; ++a) {
        const double angle = a * 2.0 * M_PI / 24.0;
        onRing +=
            isMagentaLike(r.pictures[3].image.at(static_cast<int>(160 + 10 * std::cos(angle)),
                                                 static_cast<int>(90 + 10 * std::sin(angle))));
    }
    EXPECT_GE(onRing, 22);
    // The checkerboard itself has no magenta: away from the rings, none is found.
    EXPECT_FALSE(isMagentaLike(r.pictures[3].image.at(160, 90)));
}

TEST(SimulatedTerrain, DrawsTheDtedCellUnderTheMarkers) {
    if (!fs::exists(kCell)) {
        GTEST_SKIP() << "DTED cell not found: " << kCell;
    }
    const fs::path dir = scratchDir();
    SimOptions o = smallFlight(dir / "terrain.ts");
    o.ground = GroundKind::Terrain;
    o.dtedPaths = {kCell};
    o.duration = 0.1;
    std::ostringstream progress;
    const SimSummary s = runSimulation(o, progress);
    EXPECT_EQ(s.frames, 3);
    const ReadBack r = readBack(o.output);
    ASSERT_EQ(r.pictures.size(), 3u);
    // Shaded ground: many different colours, none of them sky.
    const RgbImage& image = r.pictures[1].image;
    int lighter = 0, darker = 0;
    const uint8_t* middle = image.at(160, 120);
    for (int x = 0; x < 320; x += 4) {
        const uint8_t* p = image.at(x, 150);
        lighter += p[0] > middle[0] + 3;
        darker += p[0] + 3 < middle[0];
    }
    EXPECT_GT(lighter + darker, 10);
    // The frame centre the packets carry lies on the terrain.
    const KlvRecord record = decode(r.klv[0]);
    EXPECT_GT(record.frameCenterElevation, -90.0);
    EXPECT_LT(record.frameCenterElevation, 100.0);
}

TEST(Simulation, RefusesAMissingMissionAndLeavesNothingBehind) {
    const fs::path dir = scratchDir();
    SimOptions o = smallFlight(dir / "never.ts");
    o.missionPath = (dir / "missing.xml").string();
    std::ostringstream progress;
    try {
        runSimulation(o, progress);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("missing.xml"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(dir / "never.ts"));
    EXPECT_FALSE(fs::exists(dir / "never.ts.part"));
}

TEST(Simulation, RefusesATargetThatIsNotInTheFile) {
    const fs::path dir = scratchDir();
    SimOptions o = smallFlight(dir / "never.ts");
    o.lookTarget = 99;
    try {
        const Flight flight(o);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("targets.xml: there is no target 99"),
                  std::string::npos)
            << e.what();
    }
    o.lookTarget = 0;
    o.startWaypoint = 48;
    EXPECT_THROW(Flight{o}, std::invalid_argument); // the last waypoint leaves no leg
}

// The binary itself: exit codes, messages, help.
struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ToolRun runTool(const fs::path& dir, const std::string& args) {
    const std::string command = std::string("'") + SKYFRAME_SIM_TOOL + "' " + args + " >'" +
                                (dir / "stdout").string() + "' 2>'" + (dir / "stderr").string() +
                                "'";
    const int status = std::system(command.c_str());
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readText(dir / "stdout");
    run.err = readText(dir / "stderr");
    return run;
}

TEST(SkyframeSimTool, ExitsZeroWithHelpTwoOnUsageErrorsOneOnFailures) {
    const fs::path dir = scratchDir();
    const ToolRun help = runTool(dir, "--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: skyframe-sim OUTPUT.ts"), std::string::npos);
    EXPECT_NE(help.out.find("Telemetry timing"), std::string::npos);

    const ToolRun none = runTool(dir, "");
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("skyframe-sim: no OUTPUT given"), std::string::npos);

    const ToolRun bad = runTool(dir, "x.ts --lead many");
    EXPECT_EQ(bad.exitCode, 2);

    const fs::path out = dir / "fail.ts";
    const ToolRun missing =
        runTool(dir, "'" + out.string() + "' --mission '" + (dir / "nope.xml").string() + "'");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("nope.xml"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(out));
}

TEST(SkyframeSimTool, WritesAFlightAndReportsIt) {
    const fs::path dir = scratchDir();
    const fs::path out = dir / "flight.ts";
    const ToolRun run =
        runTool(dir, "'" + out.string() + "' --size 160x90 --duration 0.2 --look target 2");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("6 frames 160x90 at 30 fps, 10 KLV packets (lead 0)"), std::string::npos)
        << run.err;
    const ReadBack r = readBack(out);
    EXPECT_EQ(r.pictures.size(), 6u);
    EXPECT_EQ(r.klv.size(), 10u);
}

} // namespace
} // namespace skyframe

namespace skyframe {
namespace {

// The telemetry schedule: rates, jitter, gaps, each slot stamped with its pose's time.
TEST(KlvSchedule, RatesJitterAndGapsPlaceEveryPacket) {
    struct Case {
        double rate, jitterMs;
        std::optional<std::pair<double, double>> gap;
        long frames;
        size_t expected;
    };
    const std::vector<Case> cases = {
        {0.0, 0.0, std::nullopt, 30, 34},              // one per frame and four after
        {1.0, 0.0, std::nullopt, 90, 7},               // 3 s at 1 Hz: 3, and four after
        {7.5, 0.0, std::nullopt, 60, 19},              // 2 s at 7.5 Hz
        {90.0, 0.0, std::nullopt, 30, 94},             // three per frame
        {30.0, 0.0, std::make_pair(0.5, 1.5), 60, 34}, // 30 of 64 slots fall in the gap
        {30.0, 12.0, std::nullopt, 60, 64},
    };
    for (const Case& c : cases) {
        SimOptions o;
        o.klvRate = c.rate;
        o.klvJitterMs = c.jitterMs;
        o.klvGap = c.gap;
        const std::vector<KlvSlot> slots = klvSchedule(o, c.frames);
        SCOPED_TRACE(c.rate);
        ASSERT_EQ(slots.size(), c.expected);
        const double rate = c.rate > 0 ? c.rate : o.fps;
        for (size_t i = 0; i + 1 < slots.size(); ++i) {
            EXPECT_LE(slots[i].seconds, slots[i + 1].seconds) << "not in time order at " << i;
        }
        for (const KlvSlot& slot : slots) {
            if (c.gap) {
                EXPECT_FALSE(slot.seconds >= c.gap->first && slot.seconds < c.gap->second);
            }
            // Every slot lies within the jitter of a regular one.
            const double nearest = std::round(slot.seconds * rate) / rate;
            EXPECT_LE(std::abs(slot.seconds - nearest), c.jitterMs * 1e-3 + 1e-12);
        }
        if (c.jitterMs > 0) {
            int off = 0;
            for (const KlvSlot& slot : slots) {
                off += std::abs(slot.seconds * rate - std::round(slot.seconds * rate)) > 1e-6;
            }
            EXPECT_GT(off, static_cast<int>(slots.size()) / 2) << "the jitter moved nothing";
        }
    }
}

} // namespace
} // namespace skyframe
