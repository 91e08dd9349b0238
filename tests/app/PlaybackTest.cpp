// Playback of recordings made elsewhere: telemetry that cannot pose the camera, files cut
// short, pictures of awkward sizes, the real-time clock, the choice of data stream and live
// input.

#include "ViewerRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace skyframe::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSim = SKYFRAME_SIM;
const fs::path kTestData = SKYFRAME_TESTDATA;

fs::path simulate(const std::string& name, const std::vector<std::string>& options) {
    const fs::path dir = scratchDir("playback-flights");
    const fs::path out = dir / (name + ".ts");
    std::vector<std::string> command = {kSim.string(), out.string()};
    command.insert(command.end(), options.begin(), options.end());
    const ProcessResult r = runProcess(command, dir);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return out;
}

ViewerRun play(const fs::path& video, std::vector<std::string> options = {}) {
    options.insert(options.end(),
                   {video.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"});
    return runViewer(options);
}

// A crash shows as a signal's exit status (128 + n) or a sanitizer's report.
void expectCleanEnd(const ViewerRun& run) {
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 255) << "exit " << run.exitCode << "\n"
                                                          << run.err;
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
}

const std::vector<std::string> kSmallFlight = {"--size", "320x180", "--ground",
                                               "plain",  "--hover", "33.49756,-115.89876,5000"};

TEST(Playback, RecordsWithoutCameraTagsPlayWithoutOverlayAndSayWhy) {
    std::vector<std::string> options = kSmallFlight;
    options.insert(options.end(), {"--duration", "1", "--no-camera-tags"});
    const ViewerRun run = play(simulate("no-camera-tags", options));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const Counts c = countsOf(run.err);
    EXPECT_EQ(c.decoded, 30);
    EXPECT_EQ(c.frames, 15);
    EXPECT_EQ(c.recordsUsed, 0);
    EXPECT_NE(run.err.find("no usable telemetry (34 data packets, 34 records, 0 usable)"),
              std::string::npos)
        << run.err;
}

TEST(Playback, FilesCutShortEndCleanly) {
    std::vector<std::string> options = kSmallFlight;
    options.insert(options.end(), {"--duration", "2"});
    const fs::path whole = simulate("to-cut", options);
    const std::string bytes = readText(whole);
    ASSERT_GT(bytes.size(), 20000u);
    for (size_t keep :
         {size_t{188}, size_t{1024}, size_t{3000}, bytes.size() / 3, bytes.size() * 4 / 5}) {
        SCOPED_TRACE(keep);
        const fs::path cut = whole.parent_path() / ("cut-" + std::to_string(keep) + ".ts");
        std::ofstream(cut, std::ios::binary).write(bytes.data(), static_cast<long>(keep));
        const ViewerRun run = play(cut);
        expectCleanEnd(run);
    }
}

TEST(Playback, GapInTelemetryLeavesTheLastPoseAndPlaysOn) {
    std::vector<std::string> options = kSmallFlight;
    options.insert(options.end(), {"--duration", "4", "--klv-gap", "1,3.5"});
    const ViewerRun run = play(simulate("gap", options), {"--max-gap", "1"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const Counts c = countsOf(run.err);
    EXPECT_EQ(c.processed, 60);
    // A new record posed the pictures before the gap and after it, not within it.
    EXPECT_GT(c.recordsUsed, 15);
    EXPECT_LT(c.recordsUsed, 40);
}

// libswscale writes past a tightly packed picture at some widths; odd sizes, the smallest
// and a 4K picture.
TEST(Playback, PicturesOfAwkwardSizesPlay) {
    struct Case {
        const char* size;
        const char* codec;
        const char* pixels;
        int frames;
    };
    const std::vector<Case> cases = {
        {"360x240", "mpeg2video", "yuv420p", 20}, {"360x240", "libx264", "yuv420p", 20},
        {"361x239", "libx264", "yuv444p", 10},    {"2x2", "libx264", "yuv444p", 6},
        {"4096x2160", "libx264", "yuv420p", 4},
    };
    const fs::path dir = scratchDir("playback-sizes");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.size) + " " + c.codec);
        const fs::path video = dir / (std::string(c.size) + "-" + c.codec + ".ts");
        const ProcessResult made = runProcess({"ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i",
                                               std::string("testsrc2=size=") + c.size + ":rate=30",
                                               "-frames:v", std::to_string(c.frames), "-c:v",
                                               c.codec, "-pix_fmt", c.pixels, video.string()},
                                              dir);
        ASSERT_EQ(made.exitCode, 0) << made.err;
        const ViewerRun run = play(video);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(countsOf(run.err).decoded, c.frames) << run.err;
        EXPECT_EQ(countsOf(run.err).frames, c.frames / 2) << run.err;
    }
}

TEST(Playback, RealTimeTakesTheVideosOwnTime) {
    std::vector<std::string> options = kSmallFlight;
    options.insert(options.end(), {"--duration", "10"});
    const ViewerRun run = play(simulate("ten-seconds", options), {"--realtime"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const Counts c = countsOf(run.err);
    EXPECT_NEAR(c.playSeconds, 10.0, 0.5) << run.err;
    EXPECT_EQ(c.decoded, 300);
}

// A file whose last data stream never carries a packet takes its telemetry from the last
// one that does.
TEST(Playback, TelemetryComesFromTheLastDataStreamThatCarriesKlv) {
    const fs::path file = kTestData / "h265_tricky_klv.ts";
    if (!fs::exists(file)) {
        GTEST_SKIP() << file << " not present";
    }
    const ViewerRun run = play(file);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // Stream 1 carries 30 full sets with time stamps, stream 2 60 tiny sets without a
    // position, stream 3 nothing.
    EXPECT_NE(run.err.find("data-packets 60 "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("no usable telemetry (60 data packets, 60 records, 0 usable)"),
              std::string::npos)
        << run.err;
    const ViewerRun chosen = play(file, {"--data-stream", "1"});
    EXPECT_EQ(chosen.exitCode, 0) << chosen.err;
    EXPECT_NE(chosen.err.find("data-packets 30 records-used 15 "), std::string::npos) << chosen.err;
    const ViewerRun wrong = play(file, {"--data-stream", "0"});
    EXPECT_EQ(wrong.exitCode, 255);
    EXPECT_NE(wrong.err.find("stream 0 is not a data stream"), std::string::npos) << wrong.err;
}

// A real recording in the legacy EG 0104 set: posed from it, and the frame centre it reports
// lands near the picture's centre (the set gives pointing as absolute angles).
TEST(Playback, LegacySetRecordingIsPosedAndItsFrameCentreLandsNearTheCentre) {
    const fs::path file = kTestData / "aphill_short.ts";
    if (!fs::exists(file)) {
        GTEST_SKIP() << file << " not present";
    }
    const ViewerRun run = play(file, {"--frame-center"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("48 decoded (0 ST 0601, 48 EG 0104)"), std::string::npos) << run.err;
    const Counts c = countsOf(run.err);
    EXPECT_EQ(c.recordsUsed, c.processed) << run.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(run.err, m, std::regex(R"(median ([0-9.]+) px, 95th)")))
        << run.err;
    // 720 x 480 pictures: within 15 pixels of the centre.
    EXPECT_LT(std::stod(m[1]), 15.0) << run.err;
}

TEST(Playback, HelpAndBadOptions) {
    const ProcessResult help = runProcess({kViewer.string(), "--help"}, scratchDir("viewer"));
    EXPECT_EQ(help.exitCode, 0);
    for (const char* word : {"--sync", "--realtime", "--every-picture", "--max-gap", "--klv-offset",
                             "--data-stream", "--timeout", "Space", "Home"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
    const ProcessResult bad =
        runProcess({kViewer.string(), "--sync", "clock", "a", "b", "c", "d"}, scratchDir("viewer"));
    EXPECT_EQ(bad.exitCode, 255);
    EXPECT_EQ(lines(bad.err).size(), 1u) << bad.err;
    EXPECT_TRUE(bad.out.empty()) << bad.out;
}

} // namespace
} // namespace skyframe::test
