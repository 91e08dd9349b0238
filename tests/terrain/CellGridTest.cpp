#include "terrain/CellGrid.h"

#include "camera/Geoid.h"

#include "TerrainFixtures.h"
#include "TestRasters.h"
#include "terrain/DtedRaster.h"

#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include <filesystem>
#include <stdexcept>

namespace skyframe {
namespace {

using testing::makeGeoTiff;
using testing::TempFolder;

std::string refusal(const std::string& path) {
    GDALDatasetUniquePtr dataset = openDted(path);
    EXPECT_TRUE(dataset) << path;
    try {
        CellGrid grid(*dataset, path);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "accepted";
}

void oneDegree(GDALDataset& d, double degreesPerPixel) {
    const double g[6] = {-116.0, degreesPerPixel, 0.0, 34.0, 0.0, -degreesPerPixel};
    d.SetGeoTransform(const_cast<double*>(g));
    d.SetSpatialRef(&testing::wgs84());
}

TEST(CellGrid, RefusesRastersThatAreNotOneDegreeCells) {
    TempFolder folder;
    const std::string dir = folder.path();
    const std::string tooSmall =
        makeGeoTiff(dir + "/small.tif", 1, 5, GDT_Int16, [](GDALDataset& d) { oneDegree(d, 1.0); });
    const std::string tooShort = makeGeoTiff(dir + "/short.tif", 5, 1, GDT_Int16,
                                             [](GDALDataset& d) { oneDegree(d, 0.25); });
    const std::string quarter = makeGeoTiff(dir + "/quarter.tif", 901, 901, GDT_Int16,
                                            [](GDALDataset& d) { oneDegree(d, 1.0 / 3600); });
    const std::string noGeoTransform =
        makeGeoTiff(dir + "/plain.tif", 121, 121, GDT_Int16, [](GDALDataset&) {});
    const std::string projected =
        makeGeoTiff(dir + "/utm.tif", 121, 121, GDT_Int16, [](GDALDataset& d) {
            oneDegree(d, 1.0 / 120);
            OGRSpatialReference utm;
            utm.importFromEPSG(32611);
            d.SetSpatialRef(&utm);
        });
    const std::string southUp =
        makeGeoTiff(dir + "/southup.tif", 121, 121, GDT_Int16, [](GDALDataset& d) {
            const double g[6] = {-116.0, 1.0 / 120, 0.0, 33.0, 0.0, 1.0 / 120};
            d.SetGeoTransform(const_cast<double*>(g));
        });

    EXPECT_NE(refusal(tooSmall).find("\"" + tooSmall + "\" (1 x 5 pixels)"), std::string::npos)
        << refusal(tooSmall);
    EXPECT_NE(refusal(tooShort).find("(5 x 1 pixels) is too small"), std::string::npos)
        << refusal(tooShort);
    EXPECT_NE(refusal(quarter).find("(901 x 901 pixels) is not a north-up one-degree cell"),
              std::string::npos)
        << refusal(quarter);
    EXPECT_NE(refusal(noGeoTransform).find("(121 x 121 pixels) has no geotransform"),
              std::string::npos)
        << refusal(noGeoTransform);
    EXPECT_NE(refusal(projected).find("not in geographic coordinates"), std::string::npos)
        << refusal(projected);
    EXPECT_NE(refusal(southUp).find("not a north-up one-degree cell"), std::string::npos)
        << refusal(southUp);

    // The smallest cell there is: one post at each corner.
    const std::string corners = makeGeoTiff(dir + "/corners.tif", 2, 2, GDT_Int16,
                                            [](GDALDataset& d) { oneDegree(d, 1.0); });
    EXPECT_EQ(refusal(corners), "accepted");
}

TEST(CellGrid, ReadsALevel2CellPixelForPixel) {
    const std::string path = testing::fixtureCell(3601);
    GDALDatasetUniquePtr dataset = openDted(path);
    ASSERT_TRUE(dataset);
    CellGrid grid(*dataset, path);
    EXPECT_TRUE(grid.exact());
    for (int rowsPerRead : {1, 16}) {
        grid.setRowsPerRead(rowsPerRead);
        for (int v : {0, 1, 15, 16, 17, 225, 1800, 3599, 3600, 3, 0}) {
            // The posts of the 33-34 N cell, 1/3600 degree apart from its northern edge.
            EXPECT_NEAR(grid.latitude(v), 34.0 - v / 3600.0, 1e-12);
            float heights[4];
            grid.readHeights(v, 3, 900, 4, heights);
            for (int j = 0; j < 4; ++j) {
                EXPECT_EQ(heights[j], testing::fixtureHeight(v, 3 + 900 * j)) << v << " " << j;
            }
        }
    }
    for (int u : {0, 16, 3600}) {
        EXPECT_NEAR(grid.longitude(u), -116.0 + u / 3600.0, 1e-12);
    }
}

// A level-1 cell is read at the level-2 cell's positions, between its posts.
TEST(CellGrid, InterpolatesALevel1CellAtLevel2Positions) {
    const std::string fine = testing::fixtureCell(3601);
    const std::string coarse = testing::fixtureCell(1201);
    GDALDatasetUniquePtr fineSet = openDted(fine);
    GDALDatasetUniquePtr coarseSet = openDted(coarse);
    ASSERT_TRUE(fineSet && coarseSet);
    CellGrid fineGrid(*fineSet, fine);
    CellGrid coarseGrid(*coarseSet, coarse);
    EXPECT_FALSE(coarseGrid.exact());
    for (int rowsPerRead : {1, 16}) {
        coarseGrid.setRowsPerRead(rowsPerRead);
        for (int v : {0, 1, 2, 3, 4, 899, 1800, 3598, 3599, 3600, 7}) {
            EXPECT_NEAR(coarseGrid.latitude(v), fineGrid.latitude(v), 1e-12);
            float heights[9];
            coarseGrid.readHeights(v, 0, 449, 9, heights);
            for (int j = 0; j < 9; ++j) {
                EXPECT_NEAR(heights[j], testing::fixtureHeight(v, 449 * j), 2e-3) << v << " " << j;
                EXPECT_NEAR(coarseGrid.longitude(449 * j), fineGrid.longitude(449 * j), 1e-12);
            }
        }
    }
}

// Converted to ellipsoid heights, every post (level 2) and every point between posts (level
// 1) rises by the EGM96 geoid height that PROJ gives at that very place, within the float
// that carries it.
TEST(CellGrid, AddsTheGeoidHeightAtEveryPostForEllipsoidHeights) {
    for (int posts : {3601, 1201}) {
        const std::string path = testing::fixtureCell(posts);
        GDALDatasetUniquePtr dataset = openDted(path);
        ASSERT_TRUE(dataset);
        CellGrid grid(*dataset, path);
        grid.convertToEllipsoidHeights();
        for (int v : {0, 1, 899, 1800, 2701, 3599, 3600}) {
            float heights[10];
            grid.readHeights(v, 0, 400, 10, heights);
            for (int j = 0; j < 10; ++j) {
                const double latitude = 34.0 - v / 3600.0, longitude = -116.0 + 400 * j / 3600.0;
                EXPECT_NEAR(heights[j],
                            testing::fixtureHeight(v, 400 * j) +
                                geoidHeightEgm96(latitude, longitude),
                            posts == 3601 ? 1e-3 : 3e-3)
                    << posts << " posts, " << v << " " << 400 * j;
            }
        }
    }
}

// Heights at known posts of a real SRTM-derived level-1 cell (33-34 N, 116-115 W).
TEST(CellGrid, ReadsKnownPostsOfARealLevel1Cell) {
    const std::string path = std::string(SKYFRAME_TESTDATA) + "/n33_w116_3arc_v2.dt1";
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << "third-party test data not found: " << path;
    }
    GDALDatasetUniquePtr dataset = openDted(path);
    ASSERT_TRUE(dataset);
    CellGrid grid(*dataset, path);
    struct Post {
        int v, u;
        float height;
    };
    for (const Post& post : {Post{3600, 0, 297}, Post{0, 0, 1361}, Post{3600, 3600, 158},
                             Post{0, 3600, 371}, Post{1800, 1800, 686}}) {
        float height = 0.0f;
        grid.readHeights(post.v, post.u, 1, 1, &height);
        EXPECT_EQ(height, post.height) << post.v << " " << post.u;
    }
    // DTED posts lie on whole arc-seconds: the centre post is the cell's centre.
    EXPECT_NEAR(grid.latitude(1800), 33.5, 1e-9);
    EXPECT_NEAR(grid.longitude(1800), -115.5, 1e-9);
    EXPECT_NEAR(grid.latitude(3600), 33.0, 1e-9);
    EXPECT_NEAR(grid.longitude(0), -116.0, 1e-9);
}

} // namespace
} // namespace skyframe
