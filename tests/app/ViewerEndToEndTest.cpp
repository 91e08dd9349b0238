// The viewer run as a user runs it: on a display (Xvfb when there is none), with fixture
// videos written by the tests themselves and the third-party recordings when present.

#include "ViewerRun.h"
#include "media/TsWriter.h"
#include "telemetry/KlvEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace skyframe {
namespace {

namespace fs = std::filesystem;

using namespace test;

const fs::path kTestData = SKYFRAME_TESTDATA;

// A pose over the sample mission's area, looking straight down, so that the route and
// targets are in view of frames whose telemetry carries it.
KlvRecord hoverRecord(double timestampMicroseconds) {
    KlvRecord r;
    r.timestamp = timestampMicroseconds;
    r.sensorLatitude = 33.40;
    r.sensorLongitude = -115.85;
    r.sensorAltitude = 3000.0;
    r.horizontalFov = 40.0;
    r.verticalFov = 23.0;
    r.sensorElevation = -90.0;
    return r;
}

// `frames` pictures of one colour layout, at 320 x 180 MPEG-2; with telemetry, one KLV
// packet per frame.
void writeFixture(const fs::path& path, int frames, bool withTelemetry,
                  const std::vector<unsigned char>& bgrFrame = {}) {
    TsWriterOptions options;
    options.width = 320;
    options.height = 180;
    options.codec = VideoCodec::Mpeg2;
    options.pixelOrder = PixelOrder::Bgr;
    TsWriter writer(path.string(), options);
    std::vector<unsigned char> grey(320 * 180 * 3, 90);
    const std::vector<unsigned char>& picture = bgrFrame.empty() ? grey : bgrFrame;
    for (int i = 0; i < frames; ++i) {
        const double seconds = i / 30.0;
        if (withTelemetry) {
            writer.writeKlv(encodeUasLocalSet(hoverRecord(seconds * 1e6)), seconds);
        }
        writer.writeFrame(picture.data());
    }
    writer.finish();
}

// A video made by the ffmpeg command-line tool from its built-in sources (for layouts the
// fixture writer does not make: no data stream, two video streams).
void ffmpegFixture(const fs::path& path, const std::vector<std::string>& args) {
    std::vector<std::string> command = {"ffmpeg", "-y", "-v", "error"};
    command.insert(command.end(), args.begin(), args.end());
    command.push_back(path.string());
    const test::ProcessResult r = test::runProcess(command, path.parent_path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

bool near(const uint8_t* rgb, int r, int g, int b, int tolerance = 40) {
    return std::abs(rgb[0] - r) <= tolerance && std::abs(rgb[1] - g) <= tolerance &&
           std::abs(rgb[2] - b) <= tolerance;
}

std::string describe(const uint8_t* rgb) {
    return "(" + std::to_string(rgb[0]) + ", " + std::to_string(rgb[1]) + ", " +
           std::to_string(rgb[2]) + ")";
}

TEST(ViewerCommandLine, WrongArgumentCountPrintsOneLineAndOpensNoWindow) {
    const fs::path dir = test::scratchDir("viewer");
    const std::vector<std::vector<std::string>> argumentLists = {
        {}, {"a.ts", "m.xml", "t.xml"}, {"a.ts", "m.xml", "t.xml", "terrain.osgb", "extra"}};
    for (const auto& args : argumentLists) {
        // Without a display: a window attempt would fail with another message.
        std::vector<std::string> command = {"env", "-u", "DISPLAY", kViewer.string()};
        command.insert(command.end(), args.begin(), args.end());
        const test::ProcessResult r = test::runProcess(command, dir);
        EXPECT_EQ(r.out, "Incorrect number of arguments\n") << args.size() << " arguments";
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 255);
    }
}

TEST(ViewerPlayback, PrintsStagesInOrderAndRendersEverySecondPicture) {
    const fs::path dir = test::scratchDir("viewer-fixtures");
    const fs::path video = dir / "odd.ts";
    writeFixture(video, 31, true);
    const ViewerRun run = runViewer({"--sync", "queue", video.string(), kMission.string(),
                                     kTargets.string(), (dir / "no-terrain.osgb").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> expected = kStartUpLines;
    expected.push_back("Reading init.");
    EXPECT_EQ(test::lines(run.out), expected);
    const Counts c = countsOf(run.err);
    EXPECT_EQ(c.decoded, 31) << run.err;
    EXPECT_EQ(c.processed, 15);
    EXPECT_EQ(c.frames, 15);
    // One record per frame, each read before its frame's video: the k-th picture meets k
    // records (also when the decoder hands pictures out late, as MPEG-2's and frame threads
    // do), four are kept back, so records are taken from the 6th decoded picture on: at
    // the 6th, 8th, ... 30th, 13 of the 15 processed pictures.
    EXPECT_EQ(c.recordsUsed, 13);

    // Matched by time (the default for stamped telemetry), every shown picture has a record
    // of its own instant from the first picture on.
    const ViewerRun timed = runViewer(
        {video.string(), kMission.string(), kTargets.string(), (dir / "no-terrain.osgb").string()});
    EXPECT_EQ(timed.exitCode, 0) << timed.err;
    EXPECT_EQ(countsOf(timed.err).processed, 15);
    EXPECT_EQ(countsOf(timed.err).recordsUsed, 15) << timed.err;
}

TEST(ViewerPlayback, MissingVideoFailsAfterTheStartUpLines) {
    const fs::path missing = test::scratchDir("viewer-fixtures") / "missing.ts";
    const ViewerRun run =
        runViewer({missing.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"});
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_EQ(test::lines(run.out), kStartUpLines);
    EXPECT_NE(run.err.find(missing.string()), std::string::npos) << run.err;
}

TEST(ViewerPlayback, BadInputFilesStopWithTheirMessage) {
    const fs::path dir = test::scratchDir("viewer-fixtures");
    const fs::path video = dir / "short.ts";
    writeFixture(video, 4, true);
    const fs::path broken = dir / "broken.xml";
    { std::ofstream(broken) << "<CRD><TARGETS_LIST><TARGET></CRD>"; }
    const ViewerRun badTargets =
        runViewer({video.string(), kMission.string(), broken.string(), "no-terrain.osgb"});
    EXPECT_EQ(badTargets.exitCode, 255);
    EXPECT_EQ(test::lines(badTargets.out),
              (std::vector<std::string>{"Virtual world init.", "Targets init."}));
    EXPECT_NE(badTargets.err.find(broken.string()), std::string::npos) << badTargets.err;

    const ViewerRun badMission =
        runViewer({video.string(), broken.string(), kTargets.string(), "no-terrain.osgb"});
    EXPECT_EQ(badMission.exitCode, 255);
    EXPECT_EQ(test::lines(badMission.out), kStartUpLines);
    EXPECT_NE(badMission.err.find(broken.string()), std::string::npos) << badMission.err;
}

TEST(ViewerPlayback, MissingTerrainWarnsAndPlaysOn) {
    const fs::path dir = test::scratchDir("viewer-fixtures");
    const fs::path video = dir / "short.ts";
    writeFixture(video, 6, true);
    const fs::path terrain = dir / "absent-terrain.osgb";
    const ViewerRun run =
        runViewer({video.string(), kMission.string(), kTargets.string(), terrain.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find(terrain.string() + ": cannot load the terrain model"), std::string::npos)
        << run.err;
    EXPECT_EQ(countsOf(run.err).frames, 3);
}

TEST(ViewerPlayback, FileWithoutDataStreamPlaysToTheEnd) {
    const fs::path dir = test::scratchDir("viewer-fixtures");
    const fs::path video = dir / "no-data.ts";
    ffmpegFixture(video, {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=30", "-frames:v", "21",
                          "-c:v", "mpeg2video", "-q:v", "2"});
    const ViewerRun run =
        runViewer({video.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const Counts c = countsOf(run.err);
    EXPECT_EQ(c.decoded, 21);
    EXPECT_EQ(c.frames, 10);
    EXPECT_EQ(c.recordsUsed, 0);
}

TEST(ViewerPicture, TwoVideoStreamsShowTheLaterOne) {
    const fs::path dir = test::scratchDir("viewer-fixtures");
    const fs::path video = dir / "two-videos.ts";
    ffmpegFixture(video, {"-f", "lavfi", "-i", "color=c=red:size=160x120:rate=30", "-f", "lavfi",
                          "-i", "color=c=blue:size=160x120:rate=30", "-map", "0:v", "-map", "1:v",
                          "-frames:v", "900", "-c:v", "mpeg2video", "-q:v", "2"});
    const ViewerRun run =
        runViewer({video.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"},
                  {{1.0, "two-videos"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.shots.count("two-videos"), 1u) << "no screenshot taken";
    const RgbImage& shot = run.shots.at("two-videos");
    const uint8_t* centre = shot.at(kWindowX + kWindowWidth / 2, kWindowY + kWindowHeight / 2);
    EXPECT_TRUE(near(centre, 0, 0, 255)) << describe(centre);
}

// One picture with a known layout: the top half red, written as the bytes B, G, R =
// 0, 0, 255; the bottom half blue; a green strip on the left of the top half.
std::vector<unsigned char> layoutFrame(int width, int height) {
    std::vector<unsigned char> bgr(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
            const bool top = y < height / 2;
            const bool strip = top && x < width / 8;
            p[0] = top ? 0 : 255;
            p[1] = strip ? 255 : 0;
            p[2] = top && !strip ? 255 : 0;
        }
    }
    return bgr;
}

TEST(ViewerPicture, VideoIsUprightFillsTheWindowAndRedIsRed) {
    const fs::path dir = test::scratchDir("viewer-fixtures");
    const fs::path video = dir / "layout.ts";
    writeFixture(video, 900, false, layoutFrame(320, 180));
    const ViewerRun run =
        runViewer({video.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"},
                  {{1.0, "layout"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.shots.count("layout"), 1u) << "no screenshot taken";
    const RgbImage& s = run.shots.at("layout");
    auto at = [&](int x, int y) { return s.at(kWindowX + x, kWindowY + y); };
    // Red on top, blue below: upright.
    EXPECT_TRUE(near(at(800, 150), 255, 0, 0)) << describe(at(800, 150));
    EXPECT_TRUE(near(at(800, 600), 0, 0, 255)) << describe(at(800, 600));
    // The green strip on the left: not mirrored.
    EXPECT_TRUE(near(at(60, 150), 0, 255, 0)) << describe(at(60, 150));
    EXPECT_TRUE(near(at(1220, 150), 255, 0, 0)) << describe(at(1220, 150));
    // The picture reaches every edge of the window, and nothing beyond it.
    EXPECT_TRUE(near(at(2, 2), 0, 255, 0)) << describe(at(2, 2));
    EXPECT_TRUE(near(at(kWindowWidth - 3, 2), 255, 0, 0)) << describe(at(kWindowWidth - 3, 2));
    EXPECT_TRUE(near(at(2, kWindowHeight - 3), 0, 0, 255));
    EXPECT_TRUE(near(at(kWindowWidth - 3, kWindowHeight - 3), 0, 0, 255));
    EXPECT_TRUE(near(s.at(kWindowX - 3, kWindowY + 100), 0, 0, 0, 0));
    EXPECT_TRUE(near(s.at(kWindowX + kWindowWidth + 2, kWindowY + 100), 0, 0, 0, 0));
    EXPECT_TRUE(near(s.at(kWindowX + 100, kWindowY + kWindowHeight + 2), 0, 0, 0, 0));
}

TEST(ViewerRecordings, EveryThirdPartyRecordingPlaysToTheEnd) {
    if (!fs::is_directory(kTestData)) {
        GTEST_SKIP() << "test data folder " << kTestData << " not present";
    }
    int played = 0;
    for (const auto& entry : fs::directory_iterator(kTestData)) {
        if (entry.path().extension() != ".ts") {
            continue;
        }
        SCOPED_TRACE(entry.path().filename().string());
        const ViewerRun run = runViewer(
            {entry.path().string(), kMission.string(), kTargets.string(), "no-terrain.osgb"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const Counts c = countsOf(run.err);
        EXPECT_GT(c.decoded, 0) << run.err;
        EXPECT_EQ(c.frames, c.decoded / 2);
        ++played;
    }
    EXPECT_GE(played, 5);
}

} // namespace
} // namespace skyframe
