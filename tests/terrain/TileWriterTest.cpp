#include "terrain/TileWriter.h"

#include "TerrainFixtures.h"
#include "TestRasters.h"
#include "camera/Geodesy.h"
#include "terrain/DtedRaster.h"
#include "terrain/DtedReport.h"

#include <gtest/gtest.h>
#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osgDB/ReadFile>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>
#include <sstream>
#include <vector>

namespace skyframe {
namespace {

using testing::fixtureHeight;
using testing::listFolder;
using testing::readText;
using testing::TempFolder;

const std::string kLevelLine = std::string(kLevelDoneText) + "\n";

// What a stream writes for the tile vertex of a geodetic sample: (x, z, -y).
std::string vertexLine(double latitude, double longitude, double height) {
    const Eigen::Vector3d p = geodeticToEcef(latitude, longitude, height);
    std::ostringstream line;
    line << "v " << p.x() << ' ' << p.z() << ' ' << -p.y();
    return line.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// Where the posts of a one-degree cell are: a DTED cell's north-west post lies on the whole
// degrees of its north-west corner, and its posts are 1/3600 degree apart at level 2.
struct GeoTransform {
    double north = 0.0, west = 0.0; // degrees
    explicit GeoTransform(const std::string& path) {
        GDALDatasetUniquePtr d = openDted(path);
        double g[6];
        EXPECT_TRUE(d && d->GetGeoTransform(g) == CE_None) << path;
        north = std::round(g[3]);
        west = std::round(g[0]);
    }
    double latitude(int v) const { return north - v / 3600.0; }
    double longitude(int u) const { return west + u / 3600.0; }
};

// The reports a tile writer prints for a cell.
std::string reportsOf(const std::string& path) {
    GDALDatasetUniquePtr dataset = openDted(path);
    ::testing::internal::CaptureStdout();
    printDatasetReport(*dataset);
    printBandReport(*dataset->GetRasterBand(1));
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

std::set<std::string> names(const std::string& stem, unsigned level, unsigned firstRow,
                            unsigned rows, unsigned columns) {
    std::set<std::string> result;
    for (unsigned x = firstRow; x < firstRow + rows; ++x) {
        for (unsigned y = 0; y < columns; ++y) {
            result.insert(makeTileFileName("", stem, level, x, y));
        }
    }
    return result;
}

std::set<std::string> folderSet(const std::string& folder) {
    const std::vector<std::string> list = listFolder(folder);
    return std::set<std::string>(list.begin(), list.end());
}

// Checks a 225 x 225-sample tile of the level-2 fixture whose first sample is grid pixel
// (v0, u0), samples `step` apart; every vertex when `everyVertex`.
void expectTile(const std::string& path, const GeoTransform& cell, int v0, int u0, int step,
                bool everyVertex) {
    SCOPED_TRACE(path);
    const std::vector<std::string> text = lines(readText(path));
    ASSERT_EQ(text.size(), 50625u + 100352u);
    const auto expected = [&](int k, int j) {
        const int v = v0 + k * step;
        const int u = u0 + j * step;
        return vertexLine(cell.latitude(v), cell.longitude(u), fixtureHeight(v, u));
    };
    EXPECT_EQ(text[0], expected(0, 0));
    EXPECT_EQ(text[1], expected(0, 1));
    EXPECT_EQ(text[225], expected(1, 0));
    EXPECT_EQ(text[50624], expected(224, 224));
    if (everyVertex) {
        for (int k = 0; k < 225; ++k) {
            for (int j = 0; j < 225; ++j) {
                ASSERT_EQ(text[k * 225 + j], expected(k, j)) << k << " " << j;
            }
        }
    }
    EXPECT_EQ(text[50625], "f 2 1 226");
    EXPECT_EQ(text[50626], "f 2 226 227");
    EXPECT_EQ(text.back(), "f 50400 50624 50625");
}

TEST(MakeTileFileName, JoinsPrefixStemLevelAndPosition) {
    EXPECT_EQ(makeTileFileName("out/", "n33w16", 2, 1, 3),
              "out/quadtree_PRUEBAn33w16_L2_X1_Y3.obj");
    EXPECT_EQ(makeTileFileName("", "abcdef", 3, 15, 10), "quadtree_PRUEBAabcdef_L3_X15_Y10.obj");
}

// One half is 1 + 8 + 128 tiles; the other half adds its own 8 + 128 and rewrites level 1.
TEST(WriteTileLevel, WritesBothHalvesOfALevel2Cell) {
    const std::string cell = testing::fixtureCell(3601);
    const GeoTransform g(cell);
    const std::string reports = reportsOf(cell);
    TempFolder folder;

    ::testing::internal::CaptureStdout();
    const int north = writeTileLevel(1, kNorthHalf, cell, folder.prefix());
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(north, 0);
    EXPECT_EQ(out, reports + kLevelLine + reports + kLevelLine + reports + kLevelLine);
    std::set<std::string> expected = names("c33w16", 1, 0, 1, 1);
    for (const auto& n : names("c33w16", 2, 0, 2, 4))
        expected.insert(n);
    for (const auto& n : names("c33w16", 3, 0, 8, 16))
        expected.insert(n);
    EXPECT_EQ(expected.size(), 137u);
    EXPECT_EQ(folderSet(folder.path()), expected);

    const std::string dir = folder.prefix();
    expectTile(dir + makeTileFileName("", "c33w16", 1, 0, 0), g, 0, 0, 16, true);
    expectTile(dir + makeTileFileName("", "c33w16", 2, 1, 3), g, 900, 2700, 4, false);
    expectTile(dir + makeTileFileName("", "c33w16", 3, 7, 15), g, 1575, 3375, 1, true);
    const std::string level1 = readText(dir + makeTileFileName("", "c33w16", 1, 0, 0));

    ::testing::internal::CaptureStdout();
    const int south = writeTileLevel(1, kSouthHalf, cell, folder.prefix());
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(south, 0);
    for (const auto& n : names("c33w16", 2, 2, 2, 4))
        expected.insert(n);
    for (const auto& n : names("c33w16", 3, 8, 8, 16))
        expected.insert(n);
    EXPECT_EQ(expected.size(), 273u);
    EXPECT_EQ(folderSet(folder.path()), expected);
    EXPECT_EQ(readText(dir + makeTileFileName("", "c33w16", 1, 0, 0)), level1);
    expectTile(dir + makeTileFileName("", "c33w16", 2, 2, 0), g, 1800, 0, 4, false);
    expectTile(dir + makeTileFileName("", "c33w16", 3, 8, 0), g, 1800, 0, 1, false);
    expectTile(dir + makeTileFileName("", "c33w16", 3, 15, 15), g, 3375, 3375, 1, true);
}

TEST(WriteTileLevel, DoesNothingOutsideLevels1To3) {
    TempFolder folder;
    for (int level : {0, 4, -1}) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(writeTileLevel(level, kNorthHalf, testing::fixtureCell(121), folder.prefix()), 0);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    }
    EXPECT_TRUE(listFolder(folder.path()).empty());
}

TEST(WriteTileLevel, RefusesHalfSelectorsOtherThan0And1) {
    TempFolder folder;
    for (int half : {2, -1}) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        EXPECT_NE(writeTileLevel(1, half, testing::fixtureCell(121), folder.prefix()), 0);
        ::testing::internal::GetCapturedStdout();
        EXPECT_NE(::testing::internal::GetCapturedStderr().find("half selector"),
                  std::string::npos);
        ::testing::internal::CaptureStderr();
        EXPECT_NE(writeHalfLevels2And3(half, testing::fixtureCell(121), folder.prefix()), 0);
        ::testing::internal::GetCapturedStderr();
    }
    EXPECT_TRUE(listFolder(folder.path()).empty());
}

TEST(WriteTileLevel, RefusesAPathTooShortForAStem) {
    TempFolder folder;
    ::testing::internal::CaptureStderr();
    EXPECT_NE(writeTileLevel(1, kNorthHalf, "a.dt2", folder.prefix()), 0);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("\"a.dt2\""), std::string::npos);
    EXPECT_TRUE(listFolder(folder.path()).empty());
}

// Regression: a cell that could not be opened used to be reported as success.
TEST(WriteTileLevel, SaysHelloWorldAtEachLevelAndFailsForAnUnopenableCell) {
    TempFolder folder;
    const std::string missing = folder.path() + "/absent.dt2";
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = writeTileLevel(1, kNorthHalf, missing, folder.prefix());
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(status, 0);
    EXPECT_EQ(out, "Hello World!" + kLevelLine + "Hello World!" + kLevelLine + "Hello World!" +
                       kLevelLine);
    EXPECT_NE(err.find("\"" + missing + "\""), std::string::npos) << err;
    EXPECT_TRUE(listFolder(folder.path()).empty());

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_NE(writeHalfLevels2And3(kNorthHalf, missing, folder.prefix()), 0);
    EXPECT_NE(create1x1mix(testing::fixtureCell(121), missing, folder.prefix()), 0);
    std::fflush(stdout);
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("Hello World!"), std::string::npos);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(listFolder(folder.path()).empty());
}

// Regression: a raster smaller than 3601 x 3601 used to be read past its last row.
TEST(WriteTileLevel, RefusesRastersThatAreNotOneDegreeCellsBeforeWritingAnything) {
    TempFolder folder;
    const std::string small = testing::makeGeoTiff(
        folder.path() + "/small0.tif", 900, 900, GDT_Int16, [](GDALDataset& d) {
            const double g[6] = {-116.0, 1.0 / 3600, 0.0, 34.0, 0.0, -1.0 / 3600};
            d.SetGeoTransform(const_cast<double*>(g));
        });
    TempFolder out;
    for (int writer = 0; writer < 3; ++writer) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = writer == 0   ? writeTileLevel(1, kNorthHalf, small, out.prefix())
                           : writer == 1 ? writeHalfLevels2And3(kSouthHalf, small, out.prefix())
                                         : create1x1mix(small, small, out.prefix());
        std::fflush(stdout);
        const std::string stdoutText = ::testing::internal::GetCapturedStdout();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(status, 0) << writer;
        EXPECT_NE(err.find("\"" + small + "\" (900 x 900 pixels)"), std::string::npos) << err;
        EXPECT_EQ(stdoutText.find(kLevelDoneText), std::string::npos) << stdoutText;
    }
    EXPECT_TRUE(listFolder(out.path()).empty());
}

TEST(WriteTileLevel, ReportsATileItCannotCreate) {
    TempFolder folder;
    const std::string prefix = folder.path() + "/missing/";
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = writeTileLevel(3, kSouthHalf, testing::fixtureCell(121), prefix);
    ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(status, 0);
    EXPECT_NE(err.find("\"" + prefix + "quadtree_PRUEBAa33w16_L3_X8_Y0.obj\""), std::string::npos)
        << err;
}

TEST(WriteHalfLevels2And3, WritesTheHalfTwiceAt225And60Samples) {
    const std::string cell = testing::fixtureCell(3601);
    const GeoTransform g(cell);
    TempFolder folder;
    ::testing::internal::CaptureStdout();
    const int status = writeHalfLevels2And3(kSouthHalf, cell, folder.prefix());
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, reportsOf(cell) + kLevelLine);
    std::set<std::string> expected = names("c33w16", 2, 2, 2, 4);
    for (const auto& n : names("c33w16", 3, 2, 2, 4))
        expected.insert(n);
    EXPECT_EQ(folderSet(folder.path()), expected);

    expectTile(folder.prefix() + makeTileFileName("", "c33w16", 2, 3, 1), g, 2700, 900, 4, false);
    const std::vector<std::string> coarse =
        lines(readText(folder.prefix() + makeTileFileName("", "c33w16", 3, 2, 2)));
    ASSERT_EQ(coarse.size(), 3600u + 2u * 59 * 59);
    EXPECT_EQ(coarse[0],
              vertexLine(g.latitude(1800), g.longitude(1800), fixtureHeight(1800, 1800)));
    EXPECT_EQ(coarse[61],
              vertexLine(g.latitude(1815), g.longitude(1815), fixtureHeight(1815, 1815)));
    EXPECT_EQ(coarse[3599],
              vertexLine(g.latitude(2685), g.longitude(2685), fixtureHeight(2685, 2685)));
    EXPECT_EQ(coarse[3600], "f 2 1 61");
    EXPECT_EQ(coarse.back(), "f 3540 3599 3600");
}

// A level-1 cell gives the level-2 cell's tiles: same names, positions and sample counts,
// heights interpolated between its posts.
TEST(WriteHalfLevels2And3, TilesALevel1CellAtTheLevel2CellsPositions) {
    TempFolder fine;
    TempFolder coarse;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(writeHalfLevels2And3(kNorthHalf, testing::fixtureCell(3601), fine.prefix()), 0);
    EXPECT_EQ(writeHalfLevels2And3(kNorthHalf, testing::fixtureCell(1201), coarse.prefix()), 0);
    ::testing::internal::GetCapturedStdout();
    for (const unsigned level : {2u, 3u}) {
        const std::vector<std::string> a =
            lines(readText(fine.prefix() + makeTileFileName("", "c33w16", level, 1, 2)));
        const std::vector<std::string> b =
            lines(readText(coarse.prefix() + makeTileFileName("", "b33w16", level, 1, 2)));
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i][0] == 'f') {
                ASSERT_EQ(a[i], b[i]);
                continue;
            }
            // Same point up to the last of six printed digits.
            std::istringstream pa(a[i].substr(2));
            std::istringstream pb(b[i].substr(2));
            for (int c = 0; c < 3; ++c) {
                double va = 0.0;
                double vb = 0.0;
                pa >> va;
                pb >> vb;
                ASSERT_NEAR(va, vb, 1e-5 * std::abs(va) + 1e-9) << "line " << i;
            }
        }
    }
}

TEST(Create1x1mix, JoinsTwoCellsInOneTile) {
    const std::string a = testing::fixtureCell(121);
    const std::string b = testing::fixtureNorthCell();
    TempFolder folder;
    ::testing::internal::CaptureStdout();
    const int status = create1x1mix(a, b, folder.prefix());
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out,
              "entra en create1x1mix\nstring name:a33w16___d34w16\n" + reportsOf(a) + reportsOf(b));
    const std::string name = makeTileFileName("", "a33w16___d34w16", 1, 0, 0);
    EXPECT_EQ(listFolder(folder.path()), std::vector<std::string>{name});
    const std::vector<std::string> text = lines(readText(folder.prefix() + name));
    ASSERT_EQ(text.size(), 2u * 50625 + 2u * 449 * 224);
    // Level-2 positions over a 121-post cell: 16 grid pixels are 16 arc-seconds.
    const auto at = [](int south, int v, int u) {
        const double lat = south + 1 - v / 3600.0;
        const double lon = -116 + u / 3600.0;
        return vertexLine(lat, lon, fixtureHeight(v, u));
    };
    const auto near = [](const std::string& actual, const std::string& expected) {
        std::istringstream pa(actual.substr(2));
        std::istringstream pe(expected.substr(2));
        for (int c = 0; c < 3; ++c) {
            double va = 0.0;
            double ve = 0.0;
            pa >> va;
            pe >> ve;
            EXPECT_NEAR(va, ve, 1e-5 * std::abs(ve) + 1e-9) << actual << " vs " << expected;
        }
    };
    near(text[0], at(33, 0, 0));
    near(text[50624], at(33, 3584, 3584));
    near(text[50625], at(34, 0, 0));
    near(text[101249], at(34, 3584, 3584));
    EXPECT_EQ(text[101250], "f 2 1 226");
    EXPECT_EQ(text.back(), "f 101025 101249 101250");
}

TEST(Create1x1mix, WritesTheSampleAtLatitude0Longitude0AsTheEquatorialRadius) {
    TempFolder folder;
    const std::string zero = testing::makeGeoTiff(
        folder.path() + "/zero00.tif", 3601, 3601, GDT_Int16, [](GDALDataset& d) {
            // Its north-west post, the centre of its first pixel, at latitude 0, longitude 0.
            const double g[6] = {-0.5 / 3600, 1.0 / 3600, 0.0, 0.5 / 3600, 0.0, -1.0 / 3600};
            d.SetGeoTransform(const_cast<double*>(g));
        });
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(create1x1mix(zero, zero, folder.prefix()), 0);
    ::testing::internal::GetCapturedStdout();
    const std::string text =
        readText(folder.prefix() + makeTileFileName("", "zero00___zero00", 1, 0, 0));
    EXPECT_EQ(text.substr(0, text.find('\n')), "v 6.37814e+06 0 -0");
}

// Every vertex of every geometry under a node, in the node's own frame.
class VertexCollector : public osg::NodeVisitor {
public:
    VertexCollector() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Drawable& drawable) override {
        const osg::Geometry* geometry = drawable.asGeometry();
        const auto* array =
            geometry ? dynamic_cast<const osg::Vec3Array*>(geometry->getVertexArray()) : nullptr;
        if (array != nullptr) {
            vertices.insert(vertices.end(), array->begin(), array->end());
        }
    }
    std::vector<osg::Vec3f> vertices;
};

// osgDB's OBJ reader takes y as up and turns the file's (x, z, -y) back into the
// Earth-centred (x, y, z).
TEST(WriteHalfLevels2And3, WritesTilesThatOsgDbLoadsIntoTheEarthCentredFrame) {
    TempFolder folder;
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(writeHalfLevels2And3(kNorthHalf, testing::fixtureCell(121), folder.prefix()), 0);
    ::testing::internal::GetCapturedStdout();
    const std::string tile = folder.prefix() + makeTileFileName("", "a33w16", 2, 1, 2);
    osg::ref_ptr<osg::Node> loaded = osgDB::readRefNodeFile(tile);
    ASSERT_TRUE(loaded);
    VertexCollector collector;
    loaded->accept(collector);
    ASSERT_GE(collector.vertices.size(), 50625u);

    struct Sample {
        int k, j;
    };
    for (const Sample& s :
         {Sample{0, 0}, Sample{0, 224}, Sample{224, 0}, Sample{224, 224}, Sample{112, 57}}) {
        const int v = 900 + 4 * s.k;
        const int u = 1800 + 4 * s.j;
        const Eigen::Vector3d p =
            geodeticToEcef(34 - v / 3600.0, -116 + u / 3600.0, fixtureHeight(v, u));
        const osg::Vec3f expected(p.x(), p.y(), p.z());
        float nearest = std::numeric_limits<float>::max();
        for (const osg::Vec3f& vertex : collector.vertices) {
            nearest = std::min(nearest, (vertex - expected).length());
        }
        // Six printed digits of coordinates of millions of metres: within 5 m on each axis.
        EXPECT_LT(nearest, 9.0f) << "sample " << s.k << " " << s.j;
    }
}

} // namespace
} // namespace skyframe
