#include "terrain/SyntheticCell.h"

#include "TerrainFixtures.h"
#include "terrain/DtedRaster.h"

#include <gtest/gtest.h>

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

TEST(SyntheticRelief, StaysWithinAFewHundredMetres) {
    for (int row = 0; row < 3601; row += 97) {
        for (int column = 0; column < 3601; column += 89) {
            const double h = syntheticRelief(row, column, 3601);
            EXPECT_GT(h, -300.0);
            EXPECT_LT(h, 1500.0);
        }
    }
}

} // namespace
} // namespace skyframe
