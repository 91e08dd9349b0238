#include "terrain/PagedTree.h"

#include "TerrainFixtures.h"
#include "camera/Geodesy.h"
#include "terrain/DtedRaster.h"
#include "terrain/TileWriter.h"

#include <gtest/gtest.h>
#include <osg/Group>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace skyframe {
namespace {

using testing::TempFolder;

constexpr float kMax = std::numeric_limits<float>::max();

// Stand-in tiles: one triangle each is all a tree needs to load.
void writeStandIn(const std::string& path) {
    std::ofstream(path) << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
}

struct Corner {
    double latitude, longitude, halfExtent, pixelWidth;
};

// Top-left corner as the trees see it (narrowed to floats by readDtedGeometry) and half the
// extent.
Corner cornerOf(const std::string& path) {
    int width = 0;
    double pixelWidth = 0.0;
    osg::Vec3f origin;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(readDtedGeometry(path, width, pixelWidth, origin));
    ::testing::internal::GetCapturedStdout();
    return Corner{origin.y(), origin.x(), (width / 2) * pixelWidth, pixelWidth};
}

osg::Vec3f centre(double latitude, double longitude) {
    const Eigen::Vector3d p = geodeticToEcef(latitude, longitude, 0.0);
    return osg::Vec3f(p.x(), p.y(), p.z());
}

void expectRange(const osg::LOD& node, unsigned child, float min, float max) {
    ASSERT_LT(child, node.getNumRanges());
    EXPECT_EQ(node.getMinRange(child), min) << "child " << child;
    EXPECT_EQ(node.getMaxRange(child), max) << "child " << child;
}

void expectCentre(const osg::LOD& node, const osg::Vec3f& expected) {
    EXPECT_EQ(node.getCenterMode(), osg::LOD::USER_DEFINED_CENTER);
    EXPECT_EQ(node.getCenter(), expected);
}

class PagedTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        a = testing::fixtureCell(121);
        b = testing::fixtureNorthCell();
        writeStandIn(folder.prefix() + treeTileFileName("", "a33w16", 1, 0, 0));
        for (unsigned y = 0; y < 4; ++y) {
            for (unsigned x : {0u, 1u}) {
                writeStandIn(folder.prefix() + treeTileFileName("", "a33w16", 2, x, y));
            }
            for (unsigned x : {2u, 3u}) {
                writeStandIn(folder.prefix() + treeTileFileName("", "d34w16", 2, x, y));
            }
        }
    }

    osg::ref_ptr<osg::PagedLOD> build(const std::string& pathA, const std::string& pathB,
                                      UnreadableTiles* unreadable = nullptr) {
        ::testing::internal::CaptureStdout();
        osg::ref_ptr<osg::PagedLOD> root =
            buildPagedTree(folder.prefix(), pathA, pathB, unreadable);
        std::fflush(stdout);
        out = ::testing::internal::GetCapturedStdout();
        return root;
    }

    TempFolder folder;
    std::string a, b, out;
};

TEST_F(PagedTreeTest, BuildsThreeLevelsOverTheNorthOfAAndTheSouthOfB) {
    const osg::ref_ptr<osg::PagedLOD> root = build(a, b);
    const Corner ca = cornerOf(a);
    const Corner cb = cornerOf(b);
    EXPECT_DOUBLE_EQ(ca.halfExtent, 0.5);

    // B north of A: the centre is on A's northern edge at mid-longitude.
    ASSERT_EQ(root->getNumChildren(), 2u);
    expectCentre(*root, centre(ca.latitude, ca.longitude + ca.halfExtent));
    expectRange(*root, 0, 315290.0f, kMax);
    expectRange(*root, 1, 0.0f, 315290.0f);
    EXPECT_EQ(root->getChild(0)->asGroup()->getNumChildren(), 1u); // the loaded tile
    const osg::Group* level2 = root->getChild(1)->asGroup();
    ASSERT_NE(level2, nullptr);
    ASSERT_EQ(level2->getNumChildren(), 16u);

    for (unsigned i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        const unsigned r = i / 4;
        const unsigned c = i % 4;
        const Corner& cell = r < 2 ? ca : cb;
        const std::string stem = r < 2 ? "a33w16" : "d34w16";
        const auto* node2 = dynamic_cast<const osg::PagedLOD*>(level2->getChild(i));
        ASSERT_NE(node2, nullptr);
        ASSERT_EQ(node2->getNumChildren(), 2u);
        expectRange(*node2, 0, 78820.0f, 315290.0f);
        expectRange(*node2, 1, 0.0f, 78820.0f);
        const double e4 = cell.halfExtent / 4;
        expectCentre(*node2,
                     centre(cell.latitude - (2 * r + 1) * e4, cell.longitude + (2 * c + 1) * e4));
        const osg::Group* level3 = node2->getChild(1)->asGroup();
        ASSERT_EQ(level3->getNumChildren(), 16u);
        for (unsigned j = 0; j < 16; ++j) {
            const unsigned row = 4 * r + j / 4;
            const unsigned column = 4 * c + j % 4;
            const auto* node3 = dynamic_cast<const osg::PagedLOD*>(level3->getChild(j));
            ASSERT_NE(node3, nullptr);
            EXPECT_EQ(node3->getNumChildren(), 0u); // paged in later
            EXPECT_EQ(node3->getFileName(0), folder.prefix() + "quadtree_" + stem + "_L3_X" +
                                                 std::to_string(row) + "_Y" +
                                                 std::to_string(column) + ".obj");
            expectRange(*node3, 0, 0.0f, 78820.0f);
            const double e16 = cell.halfExtent / 16;
            expectCentre(*node3, centre(cell.latitude - (2 * row + 1) * e16,
                                        cell.longitude + (2 * column + 1) * e16));
        }
    }
    // Both dataset reports, then "3" for each of A's two tile rows.
    EXPECT_EQ(out.rfind("Driver: DTED/DTED Elevation Raster\nSize is 121x121x1\n", 0), 0u);
    EXPECT_NE(out.find("Origin = (-116.004167,35.004167)\n"), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - 4), "3\n3\n");
}

// Regression: paged nodes had no radius, so before their tile was loaded their bound was an
// empty sphere at the Earth's centre, and culling kept the pager from ever loading some of
// them (terrain missing from part of the view). Every node must bound its tile's ground.
TEST_F(PagedTreeTest, EveryNodeBoundsItsGroundBeforeItsTileIsLoaded) {
    const osg::ref_ptr<osg::PagedLOD> root = build(a, b);
    auto bounds = [](const osg::Node& node, double lat, double lon, double half) {
        const osg::BoundingSphere& bs = node.getBound();
        if (!bs.valid()) {
            return false;
        }
        for (double dLat : {-half, 0.0, half}) {
            for (double dLon : {-half, 0.0, half}) {
                for (double h : {-400.0, 0.0, 3000.0, 8800.0}) {
                    const Eigen::Vector3d p = geodeticToEcef(lat + dLat, lon + dLon, h);
                    const osg::Vec3d q(p.x(), p.y(), p.z());
                    if ((q - osg::Vec3d(bs.center())).length() > bs.radius()) {
                        return false;
                    }
                }
            }
        }
        return true;
    };
    const Corner ca = cornerOf(a);
    const Corner cb = cornerOf(b);
    EXPECT_TRUE(bounds(*root, ca.latitude, ca.longitude + ca.halfExtent, ca.halfExtent));
    const osg::Group* level2 = root->getChild(1)->asGroup();
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned r = i / 4;
        const unsigned c = i % 4;
        const Corner& cell = r < 2 ? ca : cb;
        const double e4 = cell.halfExtent / 4;
        const osg::Node& node2 = *level2->getChild(i);
        EXPECT_TRUE(
            bounds(node2, cell.latitude - (2 * r + 1) * e4, cell.longitude + (2 * c + 1) * e4, e4))
            << "level-2 node " << i;
        const osg::Group* level3 = node2.asGroup()->getChild(1)->asGroup();
        for (unsigned j = 0; j < 16; ++j) {
            const unsigned row = 4 * r + j / 4;
            const unsigned column = 4 * c + j % 4;
            const double e16 = cell.halfExtent / 16;
            EXPECT_TRUE(bounds(*level3->getChild(j), cell.latitude - (2 * row + 1) * e16,
                               cell.longitude + (2 * column + 1) * e16, e16))
                << "level-3 node " << row << ", " << column;
        }
    }
}

TEST_F(PagedTreeTest, CoversTheWholeCellWhenGivenItTwice) {
    for (unsigned y = 0; y < 4; ++y) {
        for (unsigned x : {2u, 3u}) {
            writeStandIn(folder.prefix() + treeTileFileName("", "a33w16", 2, x, y));
        }
    }
    UnreadableTiles unreadable;
    const osg::ref_ptr<osg::PagedLOD> root = build(a, a, &unreadable);
    EXPECT_TRUE(unreadable.empty());
    const Corner ca = cornerOf(a);
    expectCentre(*root, centre(ca.latitude - ca.halfExtent, ca.longitude + ca.halfExtent));
    // B's last level-2 tile (3, 3) carries level-3 rows and columns 12-15.
    const auto* node2 =
        dynamic_cast<const osg::PagedLOD*>(root->getChild(1)->asGroup()->getChild(15));
    const osg::Group* level3 = node2->getChild(1)->asGroup();
    EXPECT_EQ(dynamic_cast<const osg::PagedLOD*>(level3->getChild(0))->getFileName(0),
              folder.prefix() + "quadtree_a33w16_L3_X12_Y12.obj");
    EXPECT_EQ(dynamic_cast<const osg::PagedLOD*>(level3->getChild(15))->getFileName(0),
              folder.prefix() + "quadtree_a33w16_L3_X15_Y15.obj");
}

// Regression: an unreadable tile used to drop its child, shifting later children's ranges.
TEST_F(PagedTreeTest, KeepsTheSlotOfAnUnreadableTile) {
    const std::string missing = folder.prefix() + treeTileFileName("", "a33w16", 2, 1, 2);
    std::filesystem::remove(missing);
    UnreadableTiles unreadable;
    ::testing::internal::CaptureStderr();
    const osg::ref_ptr<osg::PagedLOD> root = build(a, b, &unreadable);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(unreadable, UnreadableTiles{missing});
    EXPECT_NE(err.find("\"" + missing + "\""), std::string::npos) << err;
    const auto* node2 =
        dynamic_cast<const osg::PagedLOD*>(root->getChild(1)->asGroup()->getChild(6));
    ASSERT_EQ(node2->getNumChildren(), 2u);
    EXPECT_EQ(node2->getChild(0)->asGroup()->getNumChildren(), 0u);
    expectRange(*node2, 0, 78820.0f, 315290.0f);
    expectRange(*node2, 1, 0.0f, 78820.0f);
    EXPECT_EQ(node2->getChild(1)->asGroup()->getNumChildren(), 16u);
}

TEST_F(PagedTreeTest, ThrowsForAPathWithoutAStem) {
    EXPECT_THROW(buildPagedTree(folder.prefix(), "a.dt0", b), std::invalid_argument);
}

TEST_F(PagedTreeTest, BuildMixLodListsEveryTileInOneNode) {
    writeStandIn(folder.prefix() + "quadtree_a33w16___d34w16_L1_X0_Y0.obj");
    ::testing::internal::CaptureStdout();
    const osg::ref_ptr<osg::PagedLOD> lod = buildMixLod(folder.prefix(), a, b);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "1\n2\n3\n4\n5\n6\n7\n8\n");
    EXPECT_EQ(lod->getNumChildren(), 1u);
    ASSERT_EQ(lod->getNumFileNames(), 273u);
    ASSERT_EQ(lod->getNumRanges(), 273u);
    EXPECT_EQ(lod->getCenter(), osg::Vec3f(0.0f, 0.0f, 0.0f)); // never set
    expectRange(*lod, 0, 0.0f, kMax);
    const std::string& d = folder.prefix();
    EXPECT_EQ(lod->getFileName(1), d + "quadtree_a33w16_L2_X0_Y0.obj");
    EXPECT_EQ(lod->getFileName(8), d + "quadtree_a33w16_L2_X1_Y3.obj");
    EXPECT_EQ(lod->getFileName(9), d + "quadtree_d34w16_L2_X2_Y0.obj");
    EXPECT_EQ(lod->getFileName(16), d + "quadtree_d34w16_L2_X3_Y3.obj");
    EXPECT_EQ(lod->getFileName(17), d + "quadtree_a33w16_L3_X0_Y0.obj");
    EXPECT_EQ(lod->getFileName(144), d + "quadtree_a33w16_L3_X7_Y15.obj");
    EXPECT_EQ(lod->getFileName(145), d + "quadtree_d34w16_L3_X8_Y0.obj");
    EXPECT_EQ(lod->getFileName(272), d + "quadtree_d34w16_L3_X15_Y15.obj");
    for (unsigned i = 1; i <= 16; ++i) {
        expectRange(*lod, i, 500000.0f, 6377438.0f);
    }
    for (unsigned i = 17; i < 273; ++i) {
        expectRange(*lod, i, 0.0f, 5000000.0f);
    }
}

TEST_F(PagedTreeTest, BuildTwoLevelTreePrintsEveryCentre) {
    ::testing::internal::CaptureStdout();
    const osg::ref_ptr<osg::PagedLOD> root = buildTwoLevelTree(folder.prefix(), a, b);
    std::fflush(stdout);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    const Corner ca = cornerOf(a);
    const Corner cb = cornerOf(b);

    expectRange(*root, 0, 5990510.0f, kMax);
    expectRange(*root, 1, 0.0f, 5990510.0f);
    const osg::Vec3f rootCentre = centre(ca.latitude, ca.longitude + ca.halfExtent);
    expectCentre(*root, rootCentre);
    std::ostringstream expected;
    expected << "x: " << ca.longitude + ca.halfExtent << " y: " << ca.latitude << " z: 0\n"
             << "DTED_XY:  x: " << rootCentre.x() << " y: " << rootCentre.y()
             << " z: " << rootCentre.z() << '\n';
    const osg::Group* level2 = root->getChild(1)->asGroup();
    ASSERT_EQ(level2->getNumChildren(), 16u);
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned r = i / 4;
        const unsigned c = i % 4;
        const Corner& cell = r < 2 ? ca : cb;
        const auto* node = dynamic_cast<const osg::PagedLOD*>(level2->getChild(i));
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->getNumChildren(), 0u);
        EXPECT_EQ(node->getFileName(0),
                  treeTileFileName(folder.prefix(), r < 2 ? "a33w16" : "d34w16", 2, r, c));
        expectRange(*node, 0, 0.0f, 5990510.0f);
        const double latitude = cell.latitude - (2 * r + 1) * cell.halfExtent / 4;
        const double longitude = cell.longitude + (2 * c + 1) * cell.halfExtent / 4;
        const osg::Vec3f nodeCentre = centre(latitude, longitude);
        expectCentre(*node, nodeCentre);
        const std::string label = "DTED_X" + std::to_string(r) + "Y" + std::to_string(c) + ":  ";
        expected << label << "x: " << longitude << " y: " << latitude << " z: 0\n"
                 << label << "x: " << nodeCentre.x() << " y: " << nodeCentre.y()
                 << " z: " << nodeCentre.z() << '\n';
    }
    const std::string& text = expected.str();
    ASSERT_GE(printed.size(), text.size());
    EXPECT_EQ(printed.substr(printed.size() - text.size()), text);
    EXPECT_NE(text.find("x: -115.504 y: 34.0042 z: 0\n"), std::string::npos) << text;
}

TEST_F(PagedTreeTest, BuildTileNodeUsesTheWritersNames) {
    writeStandIn(folder.prefix() + makeTileFileName("", "a33w16", 3, 1, 2));
    ::testing::internal::CaptureStdout();
    const osg::ref_ptr<osg::PagedLOD> node = buildTileNode(folder.prefix(), a, 1, 2);
    ::testing::internal::GetCapturedStdout();
    const Corner ca = cornerOf(a);
    ASSERT_EQ(node->getNumChildren(), 1u);
    EXPECT_EQ(node->getChild(0)->asGroup()->getNumChildren(), 1u);
    EXPECT_EQ(node->getFileName(1), folder.prefix() + "quadtree_PRUEBAa33w16_L2_X1_Y2.obj");
    expectRange(*node, 0, 0.0f, kMax);
    expectRange(*node, 1, 0.0f, 5675220.0f);
    const double eighth = (121 / 8) * ca.pixelWidth;
    expectCentre(*node, centre(ca.latitude - 3 * eighth, ca.longitude + 5 * eighth));
}

} // namespace
} // namespace skyframe
