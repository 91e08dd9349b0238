// A flight across the edge between two elevation cells, over a region tree of both: the
// terrain must hide the reference boxes behind a ridge on both sides of the edge, while the
// boxes in front of it stay registered on the simulator's rings. The simulator draws the
// same two cells (their posts and geoid heights) as the video's ground.

#include "OverlayMeasure.h"
#include "ViewerRun.h"
#include "terrain/SyntheticCell.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace skyframe::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSim = SKYFRAME_SIM;
const fs::path kTiler = SKYFRAME_TILER;

// The edge between the cells n33_w116 and n33_w115 is the meridian 115 W. An east-west
// ridge at 33.86 N (2200-2600 m above mean sea level over a 200 m floor, 1.5 km wide)
// runs through both cells. The sensor flies east along 33.80 N at 3000 m, across the
// meridian, looking north at a point on it beyond the ridge.
constexpr double kEdgeLongitude = -115.0;
constexpr double kRidgeLatitude = 33.86;
constexpr double kFlightLatitude = 33.80;
constexpr double kFlightStartLongitude = -115.003;
constexpr double kSpeed = 35.0;    // metres per second
constexpr double kDuration = 16.0; // seconds
constexpr double kMetresPerDegree = 111320.0;

double ridgeHeight(double latitude, double longitude) {
    const double crest = 2400.0 + 200.0 * std::cos(2.0 * M_PI * (longitude + 115.0) / 0.05);
    const double across = (latitude - kRidgeLatitude) * kMetresPerDegree / 1500.0;
    return 200.0 + (crest - 200.0) * std::exp(-0.5 * across * across);
}

void makeRidgeCell(const fs::path& path, int west) {
    constexpr int kPosts = 121; // DTED level 0
    makeDtedCell(path.string(), 33, west, kPosts, [west](int row, int column) {
        return ridgeHeight(34.0 - row / 120.0, west + column / 120.0);
    });
}

// Degrees as the mission and targets files write them: N33 5124.000, W1150036.000.
std::string dms(double degrees, bool latitude) {
    const char hemisphere = latitude ? (degrees < 0 ? 'S' : 'N') : (degrees < 0 ? 'W' : 'E');
    // Whole thousandths of an arc-second, so that rounding never gives 60 seconds.
    const long thousandths = std::lround(std::abs(degrees) * 3600000.0);
    const long d = thousandths / 3600000, m = thousandths / 60000 % 60;
    const double s = (thousandths % 60000) / 1000.0;
    char text[32];
    std::snprintf(text, sizeof text, latitude ? "%c%02ld %02ld%06.3f" : "%c%03ld%02ld%06.3f",
                  hemisphere, d, m, s);
    return text;
}

struct Place {
    double latitude, longitude;
};

// Targets at the height of their reference boxes (1300 m above the ellipsoid, 1 m below),
// so that no connector rod hangs into a box's ring, and with a blank label, so that no
// label touches a box. The first is the point the sensor looks at.
void writeTargets(const fs::path& path, const std::vector<Place>& places) {
    std::ofstream out(path);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CRD>\n  <TARGETS_LIST>\n";
    for (size_t i = 0; i < places.size(); ++i) {
        out << "    <TARGET>\n      <ID>" << i + 1 << "</ID>\n      <WGS84_POSITION>\n"
            << "        <LATITUDE>" << dms(places[i].latitude, true) << "</LATITUDE>\n"
            << "        <LONGITUDE>" << dms(places[i].longitude, false) << "</LONGITUDE>\n"
            << "        <ALTITUDE>\n          <VALUE>1299.0</VALUE>\n        </ALTITUDE>\n"
            << "      </WGS84_POSITION>\n      <DESCRIPTION> </DESCRIPTION>\n    </TARGET>\n";
    }
    out << "  </TARGETS_LIST>\n</CRD>\n";
}

// Two route points along the flight line, 5000 ft up; the sensor looks away from them.
void writeMission(const fs::path& path) {
    std::ofstream out(path);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CRD>\n  <MISSION_LIST>\n"
        << "    <MISSION>\n      <POINT_LIST>\n";
    const double longitudes[] = {kFlightStartLongitude, -114.99};
    for (int i = 0; i < 2; ++i) {
        out << "        <POINT>\n          <ID>" << i + 1 << "</ID>\n"
            << "          <WGS84_POSITION>\n            <LATITUDE>" << dms(kFlightLatitude, true)
            << "</LATITUDE>\n            <LONGITUDE>" << dms(longitudes[i], false)
            << "</LONGITUDE>\n          </WGS84_POSITION>\n"
            << "        </POINT>\n";
    }
    out << "      </POINT_LIST>\n      <ROUTE_LIST>\n        <ROUTE>\n          <INTENT_LIST>\n"
        << "            <INTENT>\n              <COMMANDED_ALTITUDE>\n"
        << "                <ALTITUDE>\n                  <VALUE>5000</VALUE>\n"
        << "                </ALTITUDE>\n              </COMMANDED_ALTITUDE>\n"
        << "            </INTENT>\n          </INTENT_LIST>\n        </ROUTE>\n"
        << "      </ROUTE_LIST>\n    </MISSION>\n  </MISSION_LIST>\n</CRD>\n";
}

// Every face of a reference box, the one turned from the light too (its blue is dimmer
// than the lit faces' test allows). Seen obliquely a box shows three faces, and only the
// whole silhouette of the cube, centrally symmetric, is centred on the centre's projection.
// No ground colour of these cells is this dark and this blue.
bool isBoxFace(const uint8_t* rgb) {
    return rgb[0] < 40 && rgb[1] < 40 && rgb[2] > 50;
}

// What one picture shows on each side of the edge: the boxes measured in their rings, and
// the rings with no box pixel at all in them (boxes hidden).
struct Side {
    std::vector<Measurement> shown;
    int hidden = 0;
};

// The sensor stays within 300 m of the meridian while every box stands at least 740 m
// off it, 4.4 km or more ahead: a box west of the edge is seen left of the picture's
// middle (where the meridian's far point is), one east of it right. The ring of the
// point looked at, on the meridian itself, sits on the middle and is left out.
void sortBySide(const RgbImage& shot, Side& west, Side& east) {
    const double middle = kWindowWidth / 2.0;
    for (const Ring& ring : findRings(shot, kRingRadius - 4.0, kRingRadius + 4.0)) {
        if (std::abs(ring.centre.x - middle) < 40.0) {
            continue;
        }
        Side& side = ring.centre.x < middle ? west : east;
        Point box;
        long area = 0;
        shapeCentroid(shot, ring.centre, ring.radius - 3.0, isBoxFace, 0, 1, box, &area);
        if (area == 0) {
            side.hidden++;
        } else if (area >= 12) { // a few pixels are a box's corner showing past the ridge
            side.shown.push_back({"reference box", ring.centre, box});
        }
    }
}

void run(const fs::path& dir, const std::vector<std::string>& command) {
    const ProcessResult r = runProcess(command, dir);
    EXPECT_EQ(r.exitCode, 0) << command[0] << " " << command[1] << "\n" << r.err;
}

TEST(RegionFlight, RidgesHideTheOverlayOnBothSidesOfACellEdge) {
    const fs::path dir = scratchDir("region-flight");
    const fs::path westCell = dir / "west.dt0", eastCell = dir / "east.dt0";
    makeRidgeCell(westCell, -116);
    makeRidgeCell(eastCell, -115);
    run(dir, {kTiler.string(), "region", (dir / "tiles").string(), westCell.string(),
              eastCell.string(), "-q"});
    const fs::path terrain = dir / "tiles" / "terrain.osgb";
    ASSERT_TRUE(fs::exists(terrain));

    // Behind the ridge (4.4 km beyond its crest, which rises 350 m or more above the line of
    // sight to them) and in front of it (2.2 km short of its crest, 300 m above its slope),
    // two of each on each side of the edge.
    const std::vector<Place> places = {
        {33.95, kEdgeLongitude},                    // looked at
        {33.90, -115.010},       {33.90, -115.020}, // hidden, west
        {33.90, -114.990},       {33.90, -114.980}, // hidden, east
        {33.84, -115.008},       {33.84, -115.015}, // shown, west
        {33.84, -114.992},       {33.84, -114.985}, // shown, east
    };
    writeTargets(dir / "targets.xml", places);
    writeMission(dir / "mission.xml");
    const fs::path flight = dir / "flight.ts";
    // The simulator's ray-marched relief is its costly part (minutes under the sanitizers):
    // a quarter of the window's pixels, shown at twice their size (rings 30 pixels wide on
    // the window, as measured), five pictures a second.
    // clang-format off
    const std::vector<std::string> simulation = {
        kSim.string(), flight.string(),
        "--mission", (dir / "mission.xml").string(), "--targets", (dir / "targets.xml").string(),
        "--dted", westCell.string(), "--dted", eastCell.string(),
        "--altitude", "3000", "--speed", std::to_string(kSpeed), "--look", "target", "1",
        "--hfov", "60", "--size", "640x360", "--ring-radius", "15", "--fps", "5",
        "--duration", std::to_string(kDuration)};
    // clang-format on
    run(dir, simulation);

    // A picture before the crossing and one after it, each late on its side of the edge:
    // the pager loads the tiles while the video plays at its own rate, more slowly under
    // the sanitizers.
    const double metresPerDegreeEast = kMetresPerDegree * std::cos(kFlightLatitude * M_PI / 180);
    const double crossing = (kEdgeLongitude - kFlightStartLongitude) * metresPerDegreeEast / kSpeed;
    ASSERT_GT(crossing, 7.0);
    ASSERT_LT(crossing, 9.0);
    const std::vector<double> times = {6.5, 15.0};
    const ViewerRun viewer =
        runViewerAt({"--realtime", flight.string(), (dir / "mission.xml").string(),
                     (dir / "targets.xml").string(), terrain.string()},
                    times);
    EXPECT_EQ(viewer.exitCode, 0) << viewer.err;
    // Without terrain, every box is in view: the hidden ones are hidden by the ridge alone.
    const ViewerRun bare =
        runViewerAt({"--realtime", flight.string(), (dir / "mission.xml").string(),
                     (dir / "targets.xml").string(), "no-terrain.osgb"},
                    {times.back()});
    ASSERT_EQ(bare.shots.count(snapshotKey(times.back())), 1u) << bare.err;
    Side bareWest, bareEast;
    sortBySide(bare.shots.at(snapshotKey(times.back())), bareWest, bareEast);
    EXPECT_EQ(bareWest.hidden + bareEast.hidden, 0);
    EXPECT_EQ(bareWest.shown.size(), 4u) << report(bareWest.shown);
    EXPECT_EQ(bareEast.shown.size(), 4u) << report(bareEast.shown);

    for (const double t : times) {
        SCOPED_TRACE("picture at " + std::to_string(t) + " s");
        ASSERT_EQ(viewer.shots.count(snapshotKey(t)), 1u) << viewer.err;
        Side west, east;
        sortBySide(viewer.shots.at(snapshotKey(t)), west, east);
        for (const Side* side : {&west, &east}) {
            const char* name = side == &west ? "west" : "east";
            EXPECT_EQ(side->hidden, 2) << name;
            EXPECT_EQ(side->shown.size(), 2u) << name << "\n" << report(side->shown);
            for (const Measurement& m : side->shown) {
                EXPECT_LE(m.error(), 1.0) << name << "\n" << report(side->shown);
            }
        }
    }
}

} // namespace
} // namespace skyframe::test
