#include "terrain/VoidFill.h"

#include "TerrainFixtures.h"
#include "camera/Geodesy.h"
#include "terrain/DtedRaster.h"
#include "terrain/SyntheticCell.h"
#include "terrain/TileWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace skyframe {
namespace {

using testing::TempFolder;

constexpr double kDtedVoid = -32767.0;
constexpr int kPosts = 121;

// A 121-post cell at 33-34 N, 116-115 W of `ground` heights with voids where `hole` says.
std::string holeyCell(const std::string& path, double (*ground)(int, int), bool (*hole)(int, int)) {
    makeDtedCell(path, 33, -116, kPosts, [ground, hole](int row, int column) {
        return hole(row, column) ? kDtedVoid : ground(row, column);
    });
    return path;
}

std::vector<float> band1(GDALDataset& dataset) {
    const int w = dataset.GetRasterXSize(), h = dataset.GetRasterYSize();
    std::vector<float> heights(static_cast<std::size_t>(w) * h);
    EXPECT_EQ(dataset.GetRasterBand(1)->RasterIO(GF_Read, 0, 0, w, h, heights.data(), w, h,
                                                 GDT_Float32, 0, 0, nullptr),
              CE_None);
    return heights;
}

double flat(int, int) {
    return 250.0;
}
double slope(int row, int column) {
    return 100.0 + row + 2.0 * column;
}
bool smallHole(int row, int column) {
    return row >= 40 && row < 43 && column >= 70 && column < 73;
}
bool bigHole(int row, int column) {
    return row >= 10 && row < 61 && column >= 10 && column < 61;
}
bool edgeHole(int row, int column) {
    return row == 0 || column == kPosts - 1;
}
bool noHole(int, int) {
    return false;
}
bool allHole(int, int) {
    return true;
}

// Each filled post lies within the heights of the ground around the hole, which is what any
// weighting of valid neighbours gives; kept posts keep their heights.
TEST(FillVoids, FillsHolesFromTheirNeighboursAndKeepsTheRest) {
    struct Case {
        const char* name;
        double (*ground)(int, int);
        bool (*hole)(int, int);
        long long voids;
        double low, high; // metres, the ground's range around the hole
    };
    const Case cases[] = {
        {"small hole in a slope", slope, smallHole, 9, 100 + 39 + 2 * 69, 100 + 43 + 2 * 73},
        {"big hole in a plain", flat, bigHole, 51 * 51, 250, 250},
        {"north and east edges of a slope", slope, edgeHole, 2 * kPosts - 1, 100, 100 + 120 + 240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string path = holeyCell(folder.path() + "/cell.dt0", c.ground, c.hole);
        GDALDatasetUniquePtr dataset = openDted(path);
        ASSERT_TRUE(dataset);
        EXPECT_EQ(fillVoids(dataset, path), c.voids);
        const std::vector<float> heights = band1(*dataset);
        for (int row = 0; row < kPosts; ++row) {
            for (int column = 0; column < kPosts; ++column) {
                const float h = heights[static_cast<std::size_t>(row) * kPosts + column];
                if (c.hole(row, column)) {
                    ASSERT_GE(h, c.low - 1e-3) << row << " " << column;
                    ASSERT_LE(h, c.high + 1e-3) << row << " " << column;
                } else {
                    ASSERT_EQ(h, c.ground(row, column)) << row << " " << column;
                }
            }
        }
    }
}

TEST(FillVoids, LeavesACellWithoutVoidsAsItIs) {
    TempFolder folder;
    const std::string path = holeyCell(folder.path() + "/cell.dt0", slope, noHole);
    GDALDatasetUniquePtr dataset = openDted(path);
    ASSERT_TRUE(dataset);
    GDALDataset* before = dataset.get();
    EXPECT_EQ(fillVoids(dataset, path), 0);
    EXPECT_EQ(dataset.get(), before);
}

TEST(FillVoids, RefusesACellVoidThroughout) {
    TempFolder folder;
    const std::string path = holeyCell(folder.path() + "/void.dt0", flat, allHole);
    GDALDatasetUniquePtr dataset = openDted(path);
    ASSERT_TRUE(dataset);
    try {
        fillVoids(dataset, path);
        FAIL() << "a cell without a single height was filled";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("void throughout"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
}

// The tiles of a cell with voids: no vertex falls towards the Earth's centre.
TEST(FillVoids, TilesOfACellWithVoidsStayOnTheGround) {
    TempFolder folder;
    const std::string path = holeyCell(folder.path() + "/hole33.dt0", slope, bigHole);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = create1x1mix(path, path, folder.prefix());
    ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0) << err;
    std::istringstream tile(
        testing::readText(folder.prefix() + makeTileFileName("", "hole33___hole33", 1, 0, 0)));
    int vertices = 0;
    double lowest = 1e9;
    for (std::string kind; tile >> kind && kind == "v"; ++vertices) {
        double x, z, minusY;
        tile >> x >> z >> minusY;
        lowest = std::min(lowest, ecefToGeodetic(Eigen::Vector3d(x, -minusY, z)).z());
    }
    EXPECT_EQ(vertices, 2 * 225 * 225);
    // 6-digit vertices place a point to within a few metres.
    EXPECT_GT(lowest, 100.0 - 10.0);
}

} // namespace
} // namespace skyframe
