// The sample mission and targets under data/: readable, consistent with each other and with
// the terrain of the DTED cell they were laid out over.
#include "TestSupport.h"
#include "camera/Geodesy.h"
#include "mission/MissionReader.h"
#include "mission/RouteScene.h"
#include "mission/TargetsReader.h"

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace skyframe {
namespace {

const std::string kMissionFile = SKYFRAME_SOURCE_DIR "/data/mission.xml";
const std::string kTargetsFile = SKYFRAME_SOURCE_DIR "/data/targets.xml";
const std::string kCell = SKYFRAME_TESTDATA "/n33_w116_3arc_v2.dt1";

struct Sample {
    osg::ref_ptr<osg::Vec3Array> route = readMission(kMissionFile);
    std::vector<std::string> names;
    osg::ref_ptr<osg::Vec3Array> references = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> targets = readTargets(kTargetsFile, names, *references);
};

// Distance between the points below two positions, on the ellipsoid (metres).
double groundDistance(const osg::Vec3f& a, const osg::Vec3f& b) {
    const test::Geodetic ga = test::toGeodetic(a), gb = test::toGeodetic(b);
    return (geodeticToEcef(ga.latitude, ga.longitude, 0) -
            geodeticToEcef(gb.latitude, gb.longitude, 0))
        .norm();
}

TEST(SampleData, BuildsEveryNodeOfTheScene) {
    const Sample s;
    ASSERT_EQ(s.route->size(), 49u);
    ASSERT_EQ(s.targets->size(), 12u);
    EXPECT_EQ(s.references->size(), 12u);
    EXPECT_EQ(std::set<std::string>(s.names.begin(), s.names.end()).size(), 12u)
        << "target letters should be distinct";
    EXPECT_EQ(makeWaypointMarkers(*s.route, 25.0f)->getNumChildren(), 49u);
    EXPECT_EQ(makeRouteLegs(*s.route, 25.0f, 1.0f)->getNumChildren(), 48u);
    EXPECT_EQ(makeTargetsNode(*s.targets, *s.references)->getNumChildren(), 12u);
}

TEST(SampleData, FirstLegsAreShortThenTheRouteLoops) {
    const Sample s;
    for (std::size_t i = 0; i + 1 < s.route->size(); ++i) {
        const double leg = groundDistance((*s.route)[i], (*s.route)[i + 1]);
        if (i < 12) {
            EXPECT_GE(leg, 800.0) << "leg " << i;
            EXPECT_LE(leg, 1500.0) << "leg " << i;
        } else {
            EXPECT_LE(leg, 4000.0) << "leg " << i;
        }
    }
    // A loop: the last waypoint comes back within a few kilometres of the first.
    EXPECT_LT(groundDistance(s.route->front(), s.route->back()), 5000.0);
}

TEST(SampleData, TargetsLieBesideTheFirstLegs) {
    const Sample s;
    for (std::size_t k = 0; k < s.targets->size(); ++k) {
        double nearest = 1e9;
        for (std::size_t i = 0; i <= 12; ++i) {
            nearest = std::min(nearest, groundDistance((*s.targets)[k], (*s.route)[i]));
        }
        EXPECT_LT(nearest, 4000.0) << "target " << s.names[k];
    }
}

// Height of the DTED post whose cell holds the position, as gdallocationinfo reports it.
class Terrain {
public:
    explicit Terrain(const std::string& path) {
        GDALAllRegister();
        dataset_.reset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
        if (dataset_) {
            dataset_->GetGeoTransform(transform_);
        }
    }
    bool ok() const { return dataset_ != nullptr; }
    bool height(double latitude, double longitude, float& value) const {
        const int col = static_cast<int>(std::floor((longitude - transform_[0]) / transform_[1]));
        const int row = static_cast<int>(std::floor((latitude - transform_[3]) / transform_[5]));
        if (col < 0 || row < 0 || col >= dataset_->GetRasterXSize() ||
            row >= dataset_->GetRasterYSize()) {
            return false;
        }
        return dataset_->GetRasterBand(1)->RasterIO(GF_Read, col, row, 1, 1, &value, 1, 1,
                                                    GDT_Float32, 0, 0) == CE_None;
    }

private:
    GDALDatasetUniquePtr dataset_;
    double transform_[6] = {};
};

TEST(SampleData, RouteClearsTheTerrainAndTargetsStandOnIt) {
    if (!std::filesystem::exists(kCell)) {
        GTEST_SKIP() << "DTED cell not found: " << kCell;
    }
    const Terrain terrain(kCell);
    ASSERT_TRUE(terrain.ok());
    const Sample s;
    for (std::size_t i = 0; i < s.route->size(); ++i) {
        const test::Geodetic g = test::toGeodetic((*s.route)[i]);
        float ground = 0;
        ASSERT_TRUE(terrain.height(g.latitude, g.longitude, ground)) << "waypoint " << i;
        // Waypoint 0 lies on the ellipsoid by definition; the low ground is below it.
        EXPECT_GT(g.height - ground, i == 0 ? 0.0 : 1500.0) << "waypoint " << i;
    }
    for (std::size_t k = 0; k < s.targets->size(); ++k) {
        const test::Geodetic g = test::toGeodetic((*s.targets)[k]);
        float ground = 0;
        ASSERT_TRUE(terrain.height(g.latitude, g.longitude, ground)) << s.names[k];
        EXPECT_NEAR(g.height, ground, 1.5) << s.names[k];
    }
}

} // namespace
} // namespace skyframe
