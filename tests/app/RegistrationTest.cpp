// Registration: the overlay drawn by the viewer must lie on the video's own picture of the
// same points. The simulator draws a magenta ring around the pixel where every target
// reference point and route waypoint is in its video; the viewer draws the reference boxes
// and waypoint spheres from the telemetry. Both are measured on screenshots.

#include "BitmapFont.h"
#include "OverlayMeasure.h"
#include "ViewerRun.h"
#include "terrain/SyntheticCell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace skyframe::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSim = SKYFRAME_SIM;
const fs::path kTiler = SKYFRAME_TILER;
// The window on the screenshots of the whole screen, and the viewer's own snapshots.
constexpr PictureArea kScreenArea = {kWindowX, kWindowY, kWindowWidth, kWindowHeight};
constexpr PictureArea kSnapshotArea = {0, 0, kWindowWidth, kWindowHeight};
constexpr double kTolerance = 2.0; // pixels

fs::path simulate(const std::string& name, const std::vector<std::string>& options) {
    const fs::path dir = scratchDir("registration-flights");
    const fs::path out = dir / (name + ".ts");
    std::vector<std::string> command = {kSim.string(), out.string()};
    command.insert(command.end(), options.begin(), options.end());
    const ProcessResult r = runProcess(command, dir);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return out;
}

// Counts the measurements of each kind and checks every one against the tolerance.
void checkRegistration(const std::vector<Measurement>& ms, int minBoxes, int minSpheres,
                       double tolerance = kTolerance) {
    int boxes = 0, spheres = 0;
    for (const auto& m : ms) {
        (std::string(m.kind) == "reference box" ? boxes : spheres)++;
        EXPECT_LE(m.error(), tolerance) << m.kind << "\n" << report(ms);
    }
    EXPECT_GE(boxes, minBoxes) << report(ms);
    EXPECT_GE(spheres, minSpheres) << report(ms);
}

// A plain dark ground, so the overlay's shapes stand out; wide fields of view, so that
// several targets and waypoints are in view at once.
const std::vector<std::string> kCommonFlightOptions = {"--ground",   "plain", "--ring-radius", "30",
                                                       "--look",     "down",  "--hfov",        "60",
                                                       "--duration", "20"};

// Hovering over the route between waypoints 3 and 4, heading north (so that the labels,
// north of their boxes, leave them uncovered): both waypoints
// and several targets' reference points in view.
TEST(Registration, HoveringFlightOverlayLiesOnTheVideo) {
    std::vector<std::string> options = kCommonFlightOptions;
    options.insert(options.end(), {"--hover", "33.49756,-115.89876,5000", "--heading", "0"});
    const fs::path flight = simulate("hover", options);
    const ViewerRun run = runViewerAt(
        {flight.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"}, {1.5});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.shots.count(snapshotKey(1.5)), 1u) << run.err;
    checkRegistration(measure(run.shots.at(snapshotKey(1.5)), kSnapshotArea), 1, 2);
}

// A video smaller than the window is scaled up to it (bilinearly): upright, the same
// picture, the overlay still on its rings.
TEST(Registration, SmallerVideoIsScaledToTheWindowAndRegistered) {
    std::vector<std::string> options = kCommonFlightOptions;
    options.insert(options.end(), {"--hover", "33.49756,-115.89876,5000", "--heading", "0",
                                   "--size", "640x360", "--duration", "4",
                                   // 30 pixels in the window, as the measure expects.
                                   "--ring-radius", "15"});
    const fs::path flight = simulate("hover-small", options);
    const ViewerRun run = runViewerAt(
        {flight.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"}, {1.5});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.shots.count(snapshotKey(1.5)), 1u) << run.err;
    const RgbImage& shot = run.shots.at(snapshotKey(1.5));
    // The simulator's digits, twice their size in the window.
    skyframe::RgbImage video(kWindowWidth, kWindowHeight);
    for (int y = 0; y < kWindowHeight; ++y) {
        std::copy_n(shot.at(0, y), 3 * kWindowWidth, video.at(0, y));
    }
    const std::optional<int> number = readFrameNumber(video, 2 * frameNumberScale(360));
    ASSERT_TRUE(number.has_value());
    EXPECT_NEAR(*number, 45, 1); // 1.5 s at 30 pictures a second
    checkRegistration(measure(shot, kSnapshotArea), 1, 2);
}

TEST(Registration, MovingFlightOverlayKeepsUpWithTheVideo) {
    // 400 m/s: one frame of lag between overlay and video would put the waypoint spheres
    // about 5 pixels off their rings.
    std::vector<std::string> options = kCommonFlightOptions;
    options.insert(options.end(), {"--speed", "400", "--altitude", "5000", "--start", "0"});
    const fs::path flight = simulate("moving", options);
    const std::vector<double> times = {0.5, 1.2, 1.9, 2.6, 3.3};
    const ViewerRun run = runViewerAt(
        {flight.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"}, times);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.shots.size(), times.size()) << run.err;
    std::vector<Measurement> all;
    for (const auto& [name, shot] : run.shots) {
        const auto ms = measure(shot, kSnapshotArea);
        all.insert(all.end(), ms.begin(), ms.end());
    }
    // Boxes whose label hides part of them are left out, which heading south-east is most.
    checkRegistration(all, 0, 3);
}

double meanError(const std::vector<Measurement>& ms) {
    double sum = 0.0;
    for (const auto& m : ms) {
        sum += m.error();
    }
    return ms.empty() ? 0.0 : sum / static_cast<double>(ms.size());
}

// A moving flight looking obliquely ahead, as real sensors do.
std::vector<std::string> obliqueFlight(const std::string& duration) {
    return {"--ground", "plain",      "--ring-radius", "30",      "--hfov", "60",     "--speed",
            "150",      "--altitude", "5000",          "--start", "0",      "--look", "forward",
            "50",       "--duration", duration};
}

std::vector<Measurement> measureAll(const ViewerRun& run) {
    std::vector<Measurement> all;
    for (const auto& [name, shot] : run.shots) {
        const auto ms = spheres(measure(shot, kSnapshotArea));
        all.insert(all.end(), ms.begin(), ms.end());
    }
    return all;
}

// Telemetry matched by time lands the overlay on the video whatever the telemetry's rate,
// with jittered sampling, and on a recording cut between key frames.
TEST(Registration, EveryTelemetryRateLandsOnTheRings) {
    struct Case {
        const char* name;
        std::vector<std::string> options;
    };
    const std::vector<Case> cases = {
        {"rate-1", {"--klv-rate", "1"}},
        {"rate-7.5", {"--klv-rate", "7.5"}},
        {"rate-30", {}},
        {"rate-90", {"--klv-rate", "90"}},
        {"jitter", {"--klv-jitter", "12"}},
        {"cut", {"--cut-before-keyframe"}},
    };
    const std::vector<double> times = {1.6, 2.4, 3.2};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> options = obliqueFlight("4");
        options.insert(options.end(), c.options.begin(), c.options.end());
        const fs::path flight = simulate(c.name, options);
        const ViewerRun run = runViewerAt(
            {flight.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"}, times);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.shots.size(), times.size()) << run.err;
        checkRegistration(measureAll(run), 0, 2, 1.0);
    }
}

// No drift: the overlay is as close to the rings at the end of a long flight as at its
// start.
TEST(Registration, LateInAFlightTheOverlayIsAsCloseAsEarly) {
    const fs::path flight = simulate("thirty", obliqueFlight("30"));
    const std::vector<double> early = {1.0, 3.0, 5.0, 7.0, 9.0};
    const std::vector<double> late = {21.0, 23.0, 25.0, 27.0, 29.0};
    std::vector<double> times = early;
    times.insert(times.end(), late.begin(), late.end());
    const ViewerRun run = runViewerAt(
        {flight.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"}, times);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<Measurement> first, last;
    for (double t : times) {
        if (run.shots.count(snapshotKey(t)) == 0) {
            ADD_FAILURE() << "no snapshot at " << t << " s";
            continue;
        }
        const auto ms = spheres(measure(run.shots.at(snapshotKey(t)), kSnapshotArea));
        auto& into = t < 15.0 ? first : last;
        into.insert(into.end(), ms.begin(), ms.end());
    }
    ASSERT_GE(first.size(), 2u) << report(first);
    ASSERT_GE(last.size(), 2u) << report(last);
    checkRegistration(first, 0, 2, 1.0);
    checkRegistration(last, 0, 2, 1.0);
    // Measurement noise aside (a tenth of a pixel), the late error is no larger.
    EXPECT_LE(meanError(last), meanError(first) + 0.1) << report(first) << report(last);
}

// The frame number the simulator drew in the picture's top-left corner.
std::optional<int> drawnFrameNumber(const RgbImage& shot, int x0, int y0) {
    skyframe::RgbImage video(kWindowWidth, kWindowHeight);
    for (int y = 0; y < kWindowHeight; ++y) {
        for (int x = 0; x < kWindowWidth; ++x) {
            std::copy_n(shot.at(x0 + x, y0 + y), 3, video.at(x, y));
        }
    }
    return readFrameNumber(video, frameNumberScale(kWindowHeight));
}

// The console line the viewer prints for a picture reached while paused.
std::optional<long> pausedPictureNumber(const std::string& out) {
    std::smatch m;
    std::optional<long> last;
    std::string rest = out;
    static const std::regex line(R"(paused: t [0-9.]+ s  picture (\d+) )");
    while (std::regex_search(rest, m, line)) {
        last = std::stol(m[1]);
        rest = m.suffix();
    }
    return last;
}

// Space pauses on a picture that then stays; Up seeks 10 s on, to a picture whose number,
// drawn in it by the simulator, is the one the status line gives, with the overlay on it.
TEST(Playback, PauseHoldsThePictureAndSeekLandsOnItsPicture) {
    std::vector<std::string> options = kCommonFlightOptions;
    options.insert(options.end(), {"--hover", "33.49756,-115.89876,5000", "--heading", "0"});
    const fs::path flight = simulate("seek", options);
    const ViewerRun run =
        runViewer({flight.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"},
                  {{1.0, "key=space"},
                   {2.0, "paused-1"},
                   {4.0, "paused-2"},
                   {4.2, "key=h"},
                   {4.4, "key=Up"},
                   {6.0, "seeked"},
                   {6.5, "key=Escape"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.shots.count("paused-1"), 1u);
    ASSERT_EQ(run.shots.count("paused-2"), 1u);
    ASSERT_EQ(run.shots.count("seeked"), 1u);
    EXPECT_EQ(run.shots.at("paused-1").rgb, run.shots.at("paused-2").rgb)
        << "the paused picture changed";
    const auto before = drawnFrameNumber(run.shots.at("paused-2"), kWindowX, kWindowY);
    const auto after = drawnFrameNumber(run.shots.at("seeked"), kWindowX, kWindowY);
    const auto status = pausedPictureNumber(run.out);
    ASSERT_TRUE(before && after && status) << run.out;
    EXPECT_EQ(*after, *status);
    EXPECT_NEAR(*after - *before, 300, 2); // 10 s at 30 pictures a second
    checkRegistration(measure(run.shots.at("seeked"), kScreenArea), 1, 2);
}

// A live stream joined after it started: shown as it arrives, registered, and ended by the
// silence after its last packet.
TEST(Playback, LiveStreamJoinedMidwayIsRegistered) {
    std::vector<std::string> options = kCommonFlightOptions;
    options.insert(options.end(),
                   {"--hover", "33.49756,-115.89876,5000", "--heading", "0", "--duration", "12"});
    const fs::path flight = simulate("live", options);
    const std::string url = "udp://127.0.0.1:" + std::to_string(20000 + getpid() % 20000);
    std::thread streamer([&] {
        runProcess({"ffmpeg", "-v", "error", "-re", "-i", flight.string(), "-map", "0", "-c",
                    "copy", "-f", "mpegts", url},
                   flight.parent_path());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const ViewerRun run = runViewerAt(
        {"--timeout", "2", url, kMission.string(), kTargets.string(), "no-terrain.osgb"}, {1.0});
    streamer.join();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find(url + ": no data for 2 s: the stream has ended"), std::string::npos)
        << run.err;
    const Counts c = countsOf(run.err);
    EXPECT_GT(c.decoded, 0);
    EXPECT_LT(c.decoded, 360) << "the stream was not joined midway";
    ASSERT_EQ(run.shots.count(snapshotKey(1.0)), 1u) << run.err;
    checkRegistration(measure(run.shots.at(snapshotKey(1.0)), kSnapshotArea), 1, 2);
}

struct SelfCheck {
    double median = -1, p95 = -1, corners = -1;
};

SelfCheck selfCheckOf(const std::string& err) {
    SelfCheck c;
    std::smatch m;
    static const std::regex centre(R"(frame centre: \d+ pictures, median ([0-9.]+) px, )"
                                   R"(95th percentile ([0-9.]+) px)");
    if (std::regex_search(err, m, centre)) {
        c.median = std::stod(m[1]);
        c.p95 = std::stod(m[2]);
    }
    static const std::regex corners(R"(corners median ([0-9.]+) px)");
    if (std::regex_search(err, m, corners)) {
        c.corners = std::stod(m[1]);
    }
    return c;
}

// The telemetry self-check: the simulator's frame centre and corners are exact, so they
// project onto the picture's centre and corners; a recorded heading a degree off moves the
// centre by the angle's worth of pixels along the horizontal line of the view.
TEST(SelfCheck, FrameCentreAndCornersLandOnThePictureUnlessTheHeadingIsOff) {
    const std::vector<std::string> flight = {
        "--ground",  "plain", "--hfov", "50",      "--hover", "33.49756,-115.89876,3000",
        "--heading", "30",    "--look", "forward", "40",      "--duration",
        "2"};
    const fs::path good = simulate("self-check", flight);
    std::vector<std::string> biasedFlight = flight;
    biasedFlight.insert(biasedFlight.end(), {"--heading-bias", "1"});
    const fs::path biased = simulate("self-check-biased", biasedFlight);

    const ViewerRun run = runViewerAt(
        {"--frame-center", good.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"},
        {1.0});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const SelfCheck c = selfCheckOf(run.err);
    EXPECT_GE(c.median, 0.0) << run.err;
    EXPECT_LT(c.median, 1.0) << run.err;
    EXPECT_LT(c.p95, 1.0) << run.err;
    EXPECT_GE(c.corners, 0.0) << run.err;
    EXPECT_LT(c.corners, 1.0) << run.err;
    // The cross is drawn: yellow around the window's centre.
    ASSERT_EQ(run.shots.count(snapshotKey(1.0)), 1u) << run.err;
    const RgbImage& shot = run.shots.at(snapshotKey(1.0));
    int yellow = 0;
    for (int y = kWindowHeight / 2 - 16; y <= kWindowHeight / 2 + 16; ++y) {
        for (int x = kWindowWidth / 2 - 16; x <= kWindowWidth / 2 + 16; ++x) {
            const uint8_t* p = shot.at(x, y);
            yellow += p[0] > 200 && p[1] > 200 && p[2] < 90;
        }
    }
    EXPECT_GT(yellow, 40) << "no cross at the picture's centre";

    const ViewerRun off =
        runViewer({biased.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"});
    EXPECT_EQ(off.exitCode, 0) << off.err;
    // Turning the view 1 degree about the vertical moves a point of the line of sight,
    // seen 40 degrees below the horizon, by fx tan(1 deg) cos(40 deg) pixels.
    const double fx = 640.0 / std::tan(25.0 * M_PI / 180.0);
    const double expected = fx * std::tan(M_PI / 180.0) * std::cos(40.0 * M_PI / 180.0);
    EXPECT_NEAR(selfCheckOf(off.err).median, expected, 0.1 * expected) << off.err;
}

// Terrain hides what lies behind it as seen from the sensor, though it adds no colour: with
// a flat terrain 2000 m high under the hovering sensor, the reference boxes (1300 m) are
// hidden and the waypoint spheres (2286 m and more) stay in view; without the terrain the
// boxes show.
TEST(Registration, TerrainHidesTheOverlayBehindIt) {
    const fs::path dir = scratchDir("registration-terrain");
    const fs::path cell = dir / "plat20.dt0"; // the tile stem is the six characters "plat20"
    makeDtedCell(cell.string(), 33, -116, 121, [](int, int) { return 2000.0; });
    const ProcessResult tiler = runProcess(
        {kTiler.string(), "tree", cell.string(), cell.string(), (dir / "tiles").string() + "/"},
        dir);
    ASSERT_EQ(tiler.exitCode, 0) << tiler.err;
    const fs::path tree = dir / "tiles" / "quadtree_plat20___plat20.osgb";
    ASSERT_TRUE(fs::exists(tree)) << tiler.err;

    std::vector<std::string> options = kCommonFlightOptions;
    options.insert(options.end(), {"--hover", "33.49756,-115.89876,5000", "--heading", "0",
                                   "--ground-height", "2000", "--duration", "30"});
    const fs::path flight = simulate("terrain", options);
    const ViewerRun without =
        runViewer({flight.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"},
                  {{1.5, "bare"}});
    // The pager loads the tiles while the video plays, more slowly on a loaded machine or
    // under the sanitizers: the latest picture still showing the video is the one judged.
    const ViewerRun with =
        runViewer({flight.string(), kMission.string(), kTargets.string(), tree.string()},
                  {{3, "terrain-1"},
                   {6, "terrain-2"},
                   {10, "terrain-3"},
                   {15, "terrain-4"},
                   {21, "terrain-5"},
                   {28, "terrain-6"}});
    EXPECT_EQ(without.exitCode, 0) << without.err;
    EXPECT_EQ(with.exitCode, 0) << with.err;
    ASSERT_EQ(without.shots.count("bare"), 1u);

    auto count = [](const std::vector<Measurement>& ms, const std::string& kind) {
        return std::count_if(ms.begin(), ms.end(),
                             [&](const Measurement& m) { return m.kind == kind; });
    };
    const auto bare = measure(without.shots.at("bare"), kScreenArea);
    std::vector<Measurement> hidden;
    for (const auto& [name, shot] : with.shots) { // in the order taken
        auto ms = measure(shot, kScreenArea);
        if (count(ms, "waypoint sphere") >= 2) {
            hidden = ms;
        }
    }
    EXPECT_GE(count(bare, "reference box"), 1) << report(bare);
    EXPECT_EQ(count(hidden, "reference box"), 0) << report(hidden);
    EXPECT_GE(count(hidden, "waypoint sphere"), 2) << report(hidden);
    checkRegistration(hidden, 0, 2);
}

// The measurement itself must see an offset: a ring with a disc drawn 3 pixels off centre.
TEST(Registration, MeasurementSeesAnOffsetShape) {
    RgbImage image;
    image.width = 200;
    image.height = 200;
    image.rgb.assign(200 * 200 * 3, 40);
    const Point ring{100.0, 90.0};
    const Point disc{103.0, 90.0};
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            uint8_t* p = &image.rgb[(static_cast<size_t>(y) * 200 + x) * 3];
            const double dr = std::hypot(x - ring.x, y - ring.y);
            if (std::abs(dr - kRingRadius) <= 1.5 && x > 80) { // partly hidden ring
                p[0] = 255, p[1] = 0, p[2] = 255;
            } else if (std::hypot(x - disc.x, y - disc.y) <= 15.0) {
                p[0] = 200, p[1] = 200, p[2] = 200;
            }
        }
    }
    const auto rings = findRings(image, kRingRadius - 4.0, kRingRadius + 4.0);
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_NEAR(rings[0].centre.x, ring.x, 0.3);
    EXPECT_NEAR(rings[0].centre.y, ring.y, 0.3);
    Point c;
    ASSERT_TRUE(
        shapeCentroid(image, rings[0].centre, rings[0].radius - 3.0, isWaypointSphere, 2, 30, c));
    EXPECT_NEAR(c.x - rings[0].centre.x, 3.0, 0.4);
    EXPECT_NEAR(c.y - rings[0].centre.y, 0.0, 0.4);
}

} // namespace
} // namespace skyframe::test
