// The export end to end: simulated flights are exported with `skyframe --export` and the
// files written are read back with FFmpeg: their pictures, timestamps and telemetry against
// the source's, the overlay against the simulator's rings on the exported pictures.

#include "BitmapFont.h"
#include "MediaContents.h"
#include "OverlayMeasure.h"
#include "TestSupport.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace skyframe::test {
namespace {

namespace fs = std::filesystem;

const fs::path kViewer = SKYFRAME_VIEWER;
const fs::path kSim = SKYFRAME_SIM;
const fs::path kKlv = SKYFRAME_KLV;
const fs::path kMission = fs::path(SKYFRAME_SOURCE_DIR) / "data/mission.xml";
const fs::path kTargets = fs::path(SKYFRAME_SOURCE_DIR) / "data/targets.xml";
constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kFps = 30;

// A moving flight looking obliquely ahead over the plain ground, several waypoints in view.
const std::vector<std::string> kOblique = {
    "--ground",   "plain", "--ring-radius", "30", "--hfov", "60",      "--speed", "150",
    "--altitude", "5000",  "--start",       "0",  "--look", "forward", "50",      "--duration",
    "4"};

// Each flight is simulated once, and again only when its options or the simulator change:
// CTest runs the tests that share it in parallel processes, so the first to come makes it
// under a lock and the others wait for it (the simulator moves a finished file into place,
// never leaves a partial one).
fs::path flight(const std::string& name, const std::vector<std::string>& options) {
    const fs::path dir = fs::path(SKYFRAME_BINARY_DIR) / "test-scratch/export-flights";
    fs::create_directories(dir);
    const fs::path out = dir / (name + ".ts");
    const std::string lockPath = (dir / (name + ".lock")).string();
    const int lock = open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    EXPECT_GE(lock, 0) << lockPath;
    if (lock >= 0) {
        flock(lock, LOCK_EX);
    }
    std::vector<std::string> command = {kSim.string(), out.string()};
    command.insert(command.end(), options.begin(), options.end());
    std::string recipe;
    for (const std::string& word : command) {
        recipe += word + "\n";
    }
    const fs::path recipePath = dir / (name + ".recipe");
    const bool current = fs::exists(out) && fs::exists(recipePath) &&
                         readText(recipePath) == recipe &&
                         fs::last_write_time(kSim) < fs::last_write_time(out);
    if (!current) {
        fs::remove(recipePath);
        const ProcessResult r = runProcess(command, dir);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::ofstream(recipePath) << recipe;
    }
    if (lock >= 0) {
        close(lock);
    }
    return out;
}

fs::path obliqueFlight() {
    std::vector<std::string> options = kOblique;
    options.insert(options.end(), {"--size", "640x360"});
    return flight("oblique", options);
}

// No DISPLAY: the viewer starts its own virtual display. The sanitizer build keeps the GL
// driver loaded until the leak check, as for the viewer's other end-to-end tests.
std::vector<std::string> exportEnvironment() {
    std::vector<std::string> env = {"DISPLAY=", "SKYFRAME_STATS=1"};
#ifdef SKYFRAME_VIEWER_PRELOAD
    env.push_back(std::string("LD_PRELOAD=") + SKYFRAME_VIEWER_PRELOAD);
#endif
    return env;
}

std::vector<std::string> exportCommand(const fs::path& video, const fs::path& out,
                                       const std::vector<std::string>& options) {
    std::vector<std::string> command = {kViewer.string(), "--export", out.string()};
    command.insert(command.end(), options.begin(), options.end());
    command.insert(command.end(),
                   {video.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"});
    return command;
}

ProcessResult runExport(const fs::path& video, const fs::path& out,
                        const std::vector<std::string>& options = {}) {
    fs::remove(out);
    return runProcess(exportCommand(video, out, options), out.parent_path(), exportEnvironment());
}

long processedPictures(const std::string& err) {
    std::smatch m;
    static const std::regex line(R"(skyframe stats: decoded \d+ processed (\d+) )");
    return std::regex_search(err, m, line) ? std::stol(m[1]) : -1;
}

std::optional<int> drawnFrameNumber(const RgbImage& picture) {
    skyframe::RgbImage video(picture.width, picture.height);
    video.pixels = picture.rgb;
    return readFrameNumber(video, frameNumberScale(picture.height));
}

// Every second picture from the second, or all of them: the source's own timestamps.
std::vector<int64_t> shownOf(const std::vector<int64_t>& source, bool everyPicture) {
    std::vector<int64_t> shown;
    for (size_t i = everyPicture ? 0 : 1; i < source.size(); i += everyPicture ? 1 : 2) {
        shown.push_back(source[i]);
    }
    return shown;
}

// FFmpeg's automatic count for libx264: one more than the cores this process (and the
// viewer it starts) may run on, at most 16.
int encoderThreads() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) {
        return -1;
    }
    return std::min(16, CPU_COUNT(&cpus) + 1);
}

TEST(Export, ShownPicturesKeepTheSourceTimestampsAndPictures) {
    const fs::path source = obliqueFlight();
    const MediaContents in = readMedia(source);
    ASSERT_EQ(in.videoPts.size(), 4u * kFps);
    struct Case {
        const char* name;
        bool everyPicture;
    };
    for (const Case& c : {Case{"half", false}, Case{"every", true}}) {
        SCOPED_TRACE(c.name);
        const fs::path out = scratchDir("export") / (std::string(c.name) + ".ts");
        const ProcessResult r =
            runExport(source, out,
                      c.everyPicture ? std::vector<std::string>{"--every-picture"}
                                     : std::vector<std::string>{});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("rendering off screen on a private Xvfb display :"), std::string::npos)
            << r.err;
        const std::vector<int64_t> shown = shownOf(in.videoPts, c.everyPicture);
        // The last picture too: each is read back while the next is drawn, the last alone
        // after the end of the video.
        const MediaContents exported = readMedia(out, {0, 10, 25, shown.size() - 1});
        EXPECT_EQ(exported.width, kWidth);
        EXPECT_EQ(exported.height, kHeight);
        EXPECT_EQ(exported.videoPts, shown);
        EXPECT_EQ(exported.pictures.size(), 4u);
        EXPECT_EQ(static_cast<long>(exported.videoPts.size()), processedPictures(r.err)) << r.err;
        // The simulator drew each picture's number in it: the exported picture is the one
        // its timestamp names (the source starts at timestamp 0, 3000 ticks a picture).
        for (const auto& [index, picture] : exported.pictures) {
            const auto number = drawnFrameNumber(picture);
            ASSERT_TRUE(number.has_value()) << "picture " << index;
            EXPECT_EQ(*number, exported.videoPts[index] / (90000 / kFps)) << "picture " << index;
        }
        EXPECT_FALSE(fs::exists(out.string() + ".part"));
        // The encoder may use every core this process may use, as FFmpeg's automatic choice
        // would give it: threads started by the viewer after it set up its window are not
        // confined to the first core.
        EXPECT_NE(exported.x264Options.find(" threads=" + std::to_string(encoderThreads()) + " "),
                  std::string::npos)
            << exported.x264Options;
    }
}

// At the simulator's full size, where the waypoint spheres are large enough to be measured.
TEST(Export, OverlayLiesOnTheRingsInTheExportedPictures) {
    std::vector<std::string> options = kOblique;
    options.insert(options.end(), {"--size", "1280x720"});
    const fs::path source = flight("oblique-720", options);
    const fs::path out = scratchDir("export") / "registered.ts";
    const ProcessResult r = runExport(source, out, {"--crf", "12"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const MediaContents exported = readMedia(out, {24, 36, 48});
    ASSERT_EQ(exported.pictures.size(), 3u);
    std::vector<Measurement> all;
    for (const auto& [index, picture] : exported.pictures) {
        const auto ms = spheres(measure(picture, {0, 0, picture.width, picture.height}));
        all.insert(all.end(), ms.begin(), ms.end());
    }
    ASSERT_GE(all.size(), 3u) << report(all);
    for (const Measurement& m : all) {
        EXPECT_LE(m.error(), 1.0) << report(all);
    }
}

TEST(Export, TelemetryIsCopiedPacketForPacket) {
    const fs::path source =
        flight("jittered", {"--ground", "plain", "--size", "320x180", "--duration", "3",
                            "--klv-rate", "7.5", "--klv-jitter", "12"});
    const fs::path out = scratchDir("export") / "telemetry.ts";
    const ProcessResult r = runExport(source, out, {"-q"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("\rexport:"), std::string::npos) << "-q still showed progress";
    const MediaContents in = readMedia(source);
    const MediaContents exported = readMedia(out);
    EXPECT_EQ(exported.dataStreams, 1);
    EXPECT_EQ(exported.dataTag, "KLVA");
    ASSERT_GT(in.data.size(), 10u);
    ASSERT_EQ(exported.data.size(), in.data.size());
    for (size_t i = 0; i < in.data.size(); ++i) {
        EXPECT_EQ(exported.data[i].bytes, in.data[i].bytes) << "packet " << i;
        EXPECT_EQ(exported.data[i].pts, in.data[i].pts) << "packet " << i;
    }
    // skyframe-klv reads the same telemetry from both files.
    const ProcessResult fromSource =
        runProcess({kKlv.string(), source.string(), "--format", "csv"}, out.parent_path());
    const ProcessResult fromExport =
        runProcess({kKlv.string(), out.string(), "--format", "csv"}, out.parent_path());
    EXPECT_EQ(fromExport.exitCode, 0) << fromExport.err;
    EXPECT_EQ(fromExport.out, fromSource.out);
}

TEST(Export, Mp4HoldsTheVideoAloneAndTheTelemetryBesideIt) {
    const fs::path source = obliqueFlight();
    const fs::path out = scratchDir("export") / "flight.mp4";
    const fs::path csv = out.parent_path() / "flight.csv";
    fs::remove(csv);
    const ProcessResult r = runExport(source, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const MediaContents exported = readMedia(out);
    EXPECT_EQ(exported.videoStreams, 1);
    EXPECT_EQ(exported.dataStreams, 0);
    EXPECT_EQ(exported.videoPts.size(), 2u * kFps);
    const ProcessResult klv =
        runProcess({kKlv.string(), source.string(), "--format", "csv"}, out.parent_path());
    ASSERT_EQ(klv.exitCode, 0) << klv.err;
    EXPECT_EQ(readText(csv), klv.out);
    EXPECT_FALSE(fs::exists(csv.string() + ".part"));
}

// Without telemetry the pictures go out as they came in: nothing drawn over them.
TEST(Export, FileWithoutKlvExportsItsVideoWithoutOverlay) {
    const fs::path dir = scratchDir("export");
    const fs::path bare = dir / "no-klv.ts";
    const ProcessResult strip =
        runProcess({"ffmpeg", "-v", "error", "-y", "-i", obliqueFlight().string(), "-map", "0:v",
                    "-c", "copy", bare.string()},
                   dir);
    ASSERT_EQ(strip.exitCode, 0) << strip.err;
    const fs::path out = dir / "no-klv-out.ts";
    const ProcessResult r = runExport(bare, out, {"--crf", "10"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("no data stream: the video plays without overlay"), std::string::npos);
    const MediaContents in = readMedia(bare, {41});
    const MediaContents exported = readMedia(out, {20});
    EXPECT_EQ(exported.dataStreams, 0);
    ASSERT_EQ(exported.videoPts.size(), 2u * kFps);
    EXPECT_EQ(exported.videoPts[20], in.videoPts[41]);
    const RgbImage& a = in.pictures.at(41);
    const RgbImage& b = exported.pictures.at(20);
    ASSERT_EQ(a.rgb.size(), b.rgb.size());
    double difference = 0.0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        difference += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
    }
    // Two rounds of lossy coding, no shapes: a couple of levels on average at most.
    EXPECT_LT(difference / static_cast<double>(a.rgb.size()), 2.0);
}

// Mean and largest difference of the pixels of two pictures inside a box (x, y from the top).
struct BoxDifference {
    double mean = 0.0;
    int largest = 0;
};
BoxDifference boxDifference(const RgbImage& a, const RgbImage& b, int x0, int y0, int x1, int y1) {
    BoxDifference d;
    long count = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            for (int k = 0; k < 3; ++k) {
                const int diff = std::abs(int(a.at(x, y)[k]) - int(b.at(x, y)[k]));
                d.mean += diff;
                d.largest = std::max(d.largest, diff);
                ++count;
            }
        }
    }
    d.mean /= static_cast<double>(std::max(1L, count));
    return d;
}

// The status line (a darkened box at the bottom left) and the frame centre's cross (on the
// picture's centre) are drawn after the scene, by cameras of their own: they reach the
// exported pictures too, and nothing else changes.
TEST(Export, StatusLineAndFrameCentreAreBurntIntoThePictures) {
    const fs::path source = obliqueFlight();
    const fs::path dir = scratchDir("export");
    const ProcessResult plain = runExport(source, dir / "plain.ts", {"--crf", "10"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    const ProcessResult marked =
        runExport(source, dir / "marked.ts", {"--crf", "10", "--hud", "--frame-center"});
    ASSERT_EQ(marked.exitCode, 0) << marked.err;
    const MediaContents a = readMedia(dir / "plain.ts", {20});
    const MediaContents b = readMedia(dir / "marked.ts", {20});
    ASSERT_EQ(a.pictures.count(20), 1u);
    ASSERT_EQ(b.pictures.count(20), 1u);
    const RgbImage& before = a.pictures.at(20);
    const RgbImage& after = b.pictures.at(20);
    const BoxDifference status = boxDifference(before, after, 10, kHeight - 28, 150, kHeight - 12);
    EXPECT_GT(status.mean, 20.0) << "no status line";
    const BoxDifference cross = boxDifference(before, after, kWidth / 2 - 8, kHeight / 2 - 8,
                                              kWidth / 2 + 8, kHeight / 2 + 8);
    EXPECT_GT(cross.largest, 60) << "no frame centre";
    const BoxDifference elsewhere = boxDifference(before, after, 200, 60, 260, 120);
    EXPECT_LT(elsewhere.mean, 2.0);
}

TEST(Export, SnapshotsAtThreeTimesShowTheirPictures) {
    const fs::path dir = scratchDir("export-snapshots");
    const std::vector<double> times = {0.5, 1.5, 2.5};
    for (const auto& entry : fs::directory_iterator(dir)) {
        fs::remove(entry.path());
    }
    const ProcessResult r =
        runExport(obliqueFlight(), dir / "snap.ts", {"--snapshot", "0.5,1.5,2.5", dir.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (double t : times) {
        char name[64];
        std::snprintf(name, sizeof name, "snapshot-%.3f", t);
        const fs::path png = dir / (std::string(name) + ".png");
        const fs::path ppm = dir / (std::string(name) + ".ppm");
        ASSERT_TRUE(fs::exists(png)) << png << "\n" << r.err;
        ASSERT_EQ(runProcess({"convert", png.string(), ppm.string()}, dir).exitCode, 0);
        const RgbImage shot = readPpm(ppm);
        EXPECT_EQ(shot.width, kWidth);
        // The first shown picture (odd-numbered, as every second one from the second is
        // shown) at or after t, half a picture's time allowed.
        int expected = static_cast<int>(std::ceil(t * kFps - 0.5));
        expected += expected % 2 == 0 ? 1 : 0;
        EXPECT_EQ(drawnFrameNumber(shot), std::optional<int>(expected)) << name;
    }
}

struct InterruptedRun {
    std::string exitCode; // as the shell tells it, with its end of line
    std::string err;
    double seconds = -1; // from Ctrl-C to the end
};

// Starts the export in the background, waits (a minute at most) until the shell condition
// `ready` holds, lets a second pass, sends Ctrl-C and waits for the export to end. An export
// still running 40 s after Ctrl-C is killed (exit 137).
InterruptedRun interruptExport(const std::vector<std::string>& words, const fs::path& dir,
                               const std::string& ready) {
    std::string command;
    for (const std::string& word : words) {
        command += shellQuote(word) + " ";
    }
    const std::string err = shellQuote((dir / "export-err").string());
    const std::string exitFile = shellQuote((dir / "export-exit").string());
    const std::string timeFile = shellQuote((dir / "export-seconds").string());
    std::string script = command + "2>" + err + " & pid=$!\n";
    script += "n=0; while ! { " + ready + "; } && [ $n -lt 600 ]; do sleep 0.1; n=$((n+1)); done\n";
    script += "sleep 1; start=$(date +%s.%N); kill -INT $pid\n";
    script += "( sleep 40; kill -KILL $pid 2>/dev/null ) & watchdog=$!\n";
    script += "wait $pid; echo $? >" + exitFile + "; end=$(date +%s.%N)\n";
    script += "kill $watchdog 2>/dev/null\n";
    script += "awk -v a=$start -v b=$end 'BEGIN { print b - a }' >" + timeFile + "\n";
    const ProcessResult r = runProcess({"sh", "-c", script}, dir, exportEnvironment());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    InterruptedRun run;
    run.exitCode = readText(dir / "export-exit");
    run.err = readText(dir / "export-err");
    const std::string seconds = readText(dir / "export-seconds");
    if (!seconds.empty()) {
        run.seconds = std::stod(seconds);
    }
    return run;
}

// Ctrl-C while the pictures are being written: no file, no partial file, exit 130.
TEST(Export, InterruptedExportLeavesNothing) {
    const fs::path source =
        flight("long", {"--ground", "plain", "--size", "320x180", "--duration", "30"});
    const fs::path dir = scratchDir("export-interrupted");
    const fs::path out = dir / "cut.ts";
    fs::remove(out);
    // Paced at the video's own rate, the export takes 30 s however fast the machine is, so
    // the interrupt is sure to arrive while pictures are still being written.
    const InterruptedRun run = interruptExport(exportCommand(source, out, {"--realtime"}), dir,
                                               "[ -e " + shellQuote(out.string() + ".part") + " ]");
    EXPECT_EQ(run.exitCode, "130\n") << run.err;
    EXPECT_NE(run.err.find("interrupted"), std::string::npos);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(out.string() + ".part"));
}

// Ctrl-C while the export waits on a live source that sends nothing: it ends at once, not
// when the silence timeout (here a minute) runs out, and leaves nothing.
TEST(Export, InterruptedWhileTheSourceIsSilentEndsAtOnce) {
    const fs::path dir = scratchDir("export-interrupted-silent");
    const fs::path out = dir / "silent.ts";
    fs::remove(out);
    const std::string url = "udp://127.0.0.1:" + std::to_string(20000 + (getpid() + 7) % 20000);
    std::vector<std::string> command = exportCommand(url, out, {"--timeout", "60"});
    const InterruptedRun run = interruptExport(command, dir, "true");
    EXPECT_EQ(run.exitCode, "130\n") << run.err;
    EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
    EXPECT_LT(run.seconds, 20.0) << "Ctrl-C waited for the silence timeout";
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(out.string() + ".part"));
}

// The output's folder is checked before anything is decoded: one line naming it, 255,
// nothing written.
TEST(Export, MissingOrUnwritableFolderIsRefusedBeforeAnythingIsWritten) {
    struct Case {
        std::string out;
        std::string message;
    };
    const fs::path dir = scratchDir("export-refused");
    const std::vector<Case> cases = {
        {(dir / "no-such-folder/out.ts").string(),
         "output folder " + (dir / "no-such-folder").string() + " does not exist"},
        {"/proc/out.ts", "cannot write in output folder /proc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        const ProcessResult r =
            runProcess(exportCommand(obliqueFlight(), c.out, {}), dir, exportEnvironment());
        EXPECT_EQ(r.exitCode, 255);
        EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << "started before refusing";
        EXPECT_FALSE(fs::exists(c.out));
        EXPECT_FALSE(fs::exists(c.out + ".part"));
    }
}

} // namespace
} // namespace skyframe::test
