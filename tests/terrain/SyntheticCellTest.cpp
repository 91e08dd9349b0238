#include "terrain/SyntheticCell.h"

#include "TerrainFixtures.h"
#include "camera/Geodesy.h"
#include "mission/MissionReader.h"
#include "mission/TargetsReader.h"
#include "terrain/DtedRaster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <stdexcept>

namespace skyframe {
namespace {

using testing::TempFolder;

TEST(MakeDtedCell, WritesADtedCellWithTheGivenHeights) {
    TempFolder folder;
    const std::string path = folder.path() + "/s01e010.dt0";
    makeDtedCell(path, -1, 10, 121, [](int row, int column) { return 5.0 * row - column; });
    GDALDatasetUniquePtr cell = openDted(path);
    ASSERT_TRUE(cell);
    EXPECT_STREQ(cell->GetDriver()->GetDescription(), "DTED");
    EXPECT_EQ(cell->GetRasterXSize(), 121);
    EXPECT_EQ(cell->GetRasterYSize(), 121);
    double g[6];
    ASSERT_EQ(cell->GetGeoTransform(g), CE_None);
    // Posts at pixel centres: the corner lies half a spacing (30") outside the degree.
    EXPECT_NEAR(g[0], 10.0 - 0.5 / 120, 1e-9);
    EXPECT_NEAR(g[3], 0.0 + 0.5 / 120, 1e-9);
    EXPECT_NEAR(g[1], 1.0 / 120, 1e-12);
    EXPECT_NEAR(g[5], -1.0 / 120, 1e-12);
    float heights[3];
    ASSERT_EQ(cell->GetRasterBand(1)->RasterIO(GF_Read, 7, 40, 3, 1, heights, 3, 1, GDT_Float32, 0,
                                               0, nullptr),
              CE_None);
    EXPECT_EQ(heights[0], 5.0f * 40 - 7);
    EXPECT_EQ(heights[2], 5.0f * 40 - 9);
    // Nothing but the cell is left behind.
    EXPECT_EQ(testing::listFolder(folder.path()), std::vector<std::string>{"s01e010.dt0"});
}

TEST(MakeDtedCell, RefusesPostCountsOfNoDtedLevel) {
    TempFolder folder;
    EXPECT_THROW(makeDtedCell(folder.path() + "/x.dt2", 0, 0, 100, [](int, int) { return 0.0; }),
                 std::invalid_argument);
    EXPECT_TRUE(testing::listFolder(folder.path()).empty());
}

TEST(SyntheticRelief, StaysBetweenTheSeaAndTheRanges) {
    for (int row = 0; row < 3601; row += 97) {
        for (int column = 0; column < 3601; column += 89) {
            const double h = syntheticRelief(row, column, 3601);
            EXPECT_GE(h, -80.0);
            EXPECT_LT(h, 1500.0);
        }
    }
}

// The demo's relief lies under the sample mission (cell 33-34 N, 116-115 W); positions
// given as latitude and longitude are looked up at the nearest post of a level-2 cell.
double sampleRelief(double latitude, double longitude) {
    const int row = static_cast<int>(std::lround((34.0 - latitude) * 3600.0));
    const int column = static_cast<int>(std::lround((longitude + 116.0) * 3600.0));
    return syntheticRelief(row, column, 3601);
}

Eigen::Vector3d geodeticOf(const osg::Vec3f& ecef) {
    return ecefToGeodetic(Eigen::Vector3d(ecef.x(), ecef.y(), ecef.z()));
}

struct SampleTargets {
    std::vector<std::string> names;
    osg::ref_ptr<osg::Vec3Array> references = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> positions =
        readTargets(SKYFRAME_SOURCE_DIR "/data/targets.xml", names, *references);
};

TEST(SyntheticRelief, KeepsTheSampleTargetsOnTheGround) {
    const SampleTargets sample;
    const auto& targets = sample.positions;
    const auto& names = sample.names;
    ASSERT_EQ(targets->size(), 12u);
    for (size_t i = 0; i < targets->size(); ++i) {
        const Eigen::Vector3d g = geodeticOf((*targets)[i]);
        // Their spheres (120 m) must neither float clear of the ground nor sink under it.
        EXPECT_NEAR(sampleRelief(g.x(), g.y()), g.z(), 50.0) << names[i];
    }
}

TEST(SyntheticRelief, RaisesARidgeBetweenTheRouteAndTheFarTargets) {
    // Seen from 3500 m over the route's first waypoint, the demo's flight height, the mast
    // (target 9) lies behind a ridge and the depot (target 4) in the open.
    const auto route = readMission(SKYFRAME_SOURCE_DIR "/data/mission.xml");
    const Eigen::Vector3d start = geodeticOf((*route)[0]);
    const SampleTargets sample;
    const auto& targets = sample.positions;
    const auto& names = sample.names;
    auto hidden = [&](size_t target) {
        const Eigen::Vector3d end = geodeticOf((*targets)[target]);
        for (double f = 0.0; f < 0.98; f += 0.002) {
            const Eigen::Vector3d p = start + f * (end - start);
            const double sight = 3500.0 + f * (end.z() - 3500.0);
            if (sampleRelief(p.x(), p.y()) > sight) {
                return true;
            }
        }
        return false;
    };
    EXPECT_EQ(names[8], "M");
    EXPECT_TRUE(hidden(8));
    EXPECT_EQ(names[3], "D");
    EXPECT_FALSE(hidden(3));
}

} // namespace
} // namespace skyframe
