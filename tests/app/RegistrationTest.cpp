// Registration: the overlay drawn by the viewer must lie on the video's own picture of the
// same points. The simulator draws a magenta ring around the pixel where every target
// reference point and route waypoint is in its video; the viewer draws the reference boxes
// and waypoint spheres from the telemetry. Both are measured on screenshots.

#include "ScreenAnalysis.h"
#include "ViewerRun.h"
#include "terrain/SyntheticCell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace skyframe::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSim = SKYFRAME_SIM;
const fs::path kTiler = SKYFRAME_TILER;
constexpr double kRingRadius = 30.0;
constexpr double kTolerance = 2.0; // pixels

// All three lit faces of the opaque blue cube (the shading differs per face): the centroid
// of the whole silhouette is the projection of the cube's centre.
bool isReferenceBox(const uint8_t* rgb) {
    return rgb[2] > 80 && rgb[0] < 40 && rgb[1] < 40;
}

// The red text of a label; a box it hides in part cannot be measured.
bool isLabel(const uint8_t* rgb) {
    return rgb[0] > 150 && rgb[1] < 90 && rgb[2] < 90;
}

// Waypoint spheres, blended over the simulator's plain ground (40, 40, 40): every pixel of
// the silhouette differs from the ground, brighter where lit, darker at the limb, so the
// silhouette's centroid is the projection of the sphere's centre.
bool isWaypointSphere(const uint8_t* rgb) {
    const int ground = 40;
    const bool differs = std::abs(rgb[0] - ground) > 6 || std::abs(rgb[1] - ground) > 6 ||
                         std::abs(rgb[2] - ground) > 6;
    return differs && !isMarkerMagenta(rgb) && !isReferenceBox(rgb) && !isLabel(rgb);
}

struct Measurement {
    const char* kind;
    Point ring;
    Point shape;
    double error() const { return std::hypot(shape.x - ring.x, shape.y - ring.y); }
};

std::vector<Measurement> measure(const RgbImage& shot) {
    std::vector<Measurement> result;
    for (const Ring& ring : findRings(shot, kRingRadius - 4.0, kRingRadius + 4.0)) {
        // Rings cut by the window's edge are not whole shapes.
        if (ring.centre.x - kRingRadius < kWindowX + 2 ||
            ring.centre.x + kRingRadius > kWindowX + kWindowWidth - 2 ||
            ring.centre.y - kRingRadius < kWindowY + 2 ||
            ring.centre.y + kRingRadius > kWindowY + kWindowHeight - 2) {
            continue;
        }
        const double inner = ring.radius - 3.0;
        Point c;
        long area = 0;
        if (shapeCentroid(shot, ring.centre, inner, isReferenceBox, 1, 12, c, &area)) {
            // Measured only when no label touches the box.
            const double reach = 1.5 * std::sqrt(area / M_PI) + 3.0;
            Point label;
            if (!shapeCentroid(shot, c, reach, isLabel, 0, 1, label)) {
                result.push_back({"reference box", ring.centre, c});
            }
        } else if (shapeCentroid(shot, ring.centre, inner, isWaypointSphere, 2, 30, c, &area)) {
            // A silhouette filling the ring is a target's wide sphere, not a waypoint's. The
            // scene's light shines along the view axis, so a sphere far off that axis is lit
            // on its outer side and its dim inner limb merges with the ground: measured only
            // near the middle of the picture, where the lit silhouette is symmetric.
            const double offAxis = std::hypot(ring.centre.x - (kWindowX + kWindowWidth / 2.0),
                                              ring.centre.y - (kWindowY + kWindowHeight / 2.0));
            if (std::sqrt(area / M_PI) < inner - 6.0 && offAxis < 300.0) {
                result.push_back({"waypoint sphere", ring.centre, c});
            }
        }
    }
    return result;
}

fs::path simulate(const std::string& name, const std::vector<std::string>& options) {
    const fs::path dir = scratchDir("registration-flights");
    const fs::path out = dir / (name + ".ts");
    std::vector<std::string> command = {kSim.string(), out.string()};
    command.insert(command.end(), options.begin(), options.end());
    const ProcessResult r = runProcess(command, dir);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return out;
}

std::string report(const std::vector<Measurement>& ms) {
    std::ostringstream text;
    for (const auto& m : ms) {
        text << "  " << m.kind << " ring (" << m.ring.x << ", " << m.ring.y << ") shape ("
             << m.shape.x << ", " << m.shape.y << ") off " << m.error() << " px\n";
    }
    return text.str();
}

// Counts the measurements of each kind and checks every one against the tolerance.
void checkRegistration(const std::vector<Measurement>& ms, int minBoxes, int minSpheres) {
    int boxes = 0, spheres = 0;
    for (const auto& m : ms) {
        (std::string(m.kind) == "reference box" ? boxes : spheres)++;
        EXPECT_LE(m.error(), kTolerance) << m.kind << "\n" << report(ms);
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
    const ViewerRun run =
        runViewer({flight.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"},
                  {{1.5, "hover"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.shots.count("hover"), 1u);
    checkRegistration(measure(run.shots.at("hover")), 1, 2);
}

TEST(Registration, MovingFlightOverlayKeepsUpWithTheVideo) {
    // 400 m/s: one frame of lag between overlay and video would put the waypoint spheres
    // about 5 pixels off their rings.
    std::vector<std::string> options = kCommonFlightOptions;
    options.insert(options.end(), {"--speed", "400", "--altitude", "5000", "--start", "0"});
    const fs::path flight = simulate("moving", options);
    const ViewerRun run =
        runViewer({flight.string(), kMission.string(), kTargets.string(), "no-terrain.osgb"},
                  {{0.5, "moving-1"},
                   {1.2, "moving-2"},
                   {1.9, "moving-3"},
                   {2.6, "moving-4"},
                   {3.3, "moving-5"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<Measurement> all;
    for (const auto& [name, shot] : run.shots) {
        const auto ms = measure(shot);
        all.insert(all.end(), ms.begin(), ms.end());
    }
    // Boxes whose label hides part of them are left out, which heading south-east is most.
    checkRegistration(all, 0, 3);
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
    const auto bare = measure(without.shots.at("bare"));
    std::vector<Measurement> hidden;
    for (const auto& [name, shot] : with.shots) { // in the order taken
        auto ms = measure(shot);
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
