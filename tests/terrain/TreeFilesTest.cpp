#include "terrain/TreeFiles.h"

#include "TerrainFixtures.h"
#include "terrain/PagedTree.h"

#include <gtest/gtest.h>
#include <osg/Geode>
#include <osg/Group>
#include <osgDB/ReadFile>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

namespace skyframe {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

void writeStandIn(const std::string& path) {
    std::ofstream(path) << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
}

TEST(HalfTilePositions, ListsTheTilesOfOneHalf) {
    for (int half : {kNorthHalf, kSouthHalf}) {
        const std::vector<TilePosition> tiles = halfTilePositions(half);
        ASSERT_EQ(tiles.size(), 137u);
        std::set<std::tuple<unsigned, unsigned, unsigned>> distinct;
        for (const TilePosition& t : tiles) {
            distinct.insert({t.level, t.x, t.y});
            if (t.level == 1) {
                EXPECT_EQ(t.x + t.y, 0u);
            } else {
                const unsigned side = t.level == 2 ? 4 : 16;
                const bool north = t.x < side / 2;
                EXPECT_EQ(north, half == kNorthHalf) << t.level << " " << t.x;
                EXPECT_LT(t.y, side);
            }
        }
        EXPECT_EQ(distinct.size(), 137u);
    }
}

class TreeFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        tiles = folder.path() + "/tiles/";
        fs::create_directories(tiles);
        cell = testing::fixtureCell(121);
    }

    // Stand-ins under the writers' names for both halves of the cell, recorded as written
    // with the options prepareTreeTiles uses by default.
    void writeAllStandIns() {
        for (int half : {kNorthHalf, kSouthHalf}) {
            for (const TilePosition& t : halfTilePositions(half)) {
                writeStandIn(makeTileFileName(tiles, "a33w16", t.level, t.x, t.y));
            }
        }
        writeTileOptions(tiles, "a33w16", HeightReference::MeanSeaLevel);
    }

    TempFolder folder;
    std::string tiles;
    std::string cell;
};

TEST_F(TreeFilesTest, LinksTheWrittenTilesToTheTreeNamesWithoutRewritingThem) {
    writeAllStandIns();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(prepareTreeTiles(tiles, cell, cell), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), ""); // nothing to write
    for (int half : {kNorthHalf, kSouthHalf}) {
        for (const TilePosition& t : halfTilePositions(half)) {
            const std::string tree = treeTileFileName(tiles, "a33w16", t.level, t.x, t.y);
            EXPECT_TRUE(fs::equivalent(tree, makeTileFileName(tiles, "a33w16", t.level, t.x, t.y)))
                << tree;
        }
    }
    // Again: existing tree names are replaced, not refused.
    EXPECT_EQ(prepareTreeTiles(tiles, cell, cell), 0);
    EXPECT_EQ(testing::listFolder(tiles).size(), 2u * 273 + 1u); // and the options
}

// Tiles are reused only while they are fresh: all there, no older than their cell, written
// with the same options.
TEST_F(TreeFilesTest, RewritesTilesThatAreMissingStaleOrWrittenOtherwise) {
    const std::string level3 = makeTileFileName(tiles, "a33w16", 3, 9, 4); // southern half
    const std::string options = tileOptionsFileName(tiles, "a33w16");
    struct Case {
        const char* name;
        void (*spoil)(const std::string& tile, const std::string& options);
        bool rewritten;
    };
    const Case cases[] = {
        {"fresh", [](const std::string&, const std::string&) {}, false},
        {"a tile missing", [](const std::string& tile, const std::string&) { fs::remove(tile); },
         true},
        {"a tile older than its cell",
         [](const std::string& tile, const std::string&) {
             fs::last_write_time(tile, fs::last_write_time(testing::fixtureCell(121)) -
                                           std::chrono::hours(1));
         },
         true},
        {"no record of the options",
         [](const std::string&, const std::string& options) { fs::remove(options); }, true},
        {"other heights",
         [](const std::string&, const std::string& options) {
             std::ofstream(options) << "heights=ellipsoid\n";
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeAllStandIns();
        c.spoil(level3, options);
        ::testing::internal::CaptureStdout();
        ASSERT_EQ(prepareTreeTiles(tiles, cell, cell), 0);
        ::testing::internal::GetCapturedStdout();
        // A written tile has 50625 vertices, a stand-in three.
        EXPECT_EQ(fs::file_size(level3) > 1000000, c.rewritten);
        EXPECT_EQ(testing::readText(options), "heights=msl\n");
    }
}

TEST_F(TreeFilesTest, FailsWhenMissingTilesCannotBeWritten) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_NE(prepareTreeTiles(tiles, folder.path() + "/absent.dt2", cell), 0);
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("Hello World!"), std::string::npos);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("absent.dt2"), std::string::npos);
    EXPECT_TRUE(testing::listFolder(tiles).empty());
}

// The viewer loads the tree file by its path; osgDB must then find the paged tiles relative
// to it, wherever the tree and the tiles are.
TEST_F(TreeFilesTest, WritesATreeWhoseTilesAreFoundRelativeToIt) {
    writeAllStandIns();
    ASSERT_EQ(prepareTreeTiles(tiles, cell, cell), 0);
    for (const std::string& treePath :
         {tiles + "tree.osgt", folder.path() + "/elsewhere/tree.osgb"}) {
        SCOPED_TRACE(treePath);
        fs::create_directories(fs::path(treePath).parent_path());
        ::testing::internal::CaptureStdout();
        osg::ref_ptr<osg::PagedLOD> built = buildPagedTree(tiles, cell, cell);
        ::testing::internal::GetCapturedStdout();
        writeTreeFile(*built, tiles, treePath);
        EXPECT_FALSE(fs::exists(fs::path(treePath).replace_extension(
            ".part" + fs::path(treePath).extension().string())));

        osg::ref_ptr<osg::Node> loaded = osgDB::readRefNodeFile(treePath);
        auto* root = dynamic_cast<osg::PagedLOD*>(loaded.get());
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->getNumChildren(), 2u);
        // Text trees keep six significant digits, binary ones every bit.
        const bool text = fs::path(treePath).extension() == ".osgt";
        const float tolerance = text ? 5e-6f * built->getCenter().length() : 0.0f;
        EXPECT_LE((root->getCenter() - built->getCenter()).length(), tolerance);
        EXPECT_EQ(root->getMinRange(0), 315290.0f);
        auto* node2 = dynamic_cast<osg::PagedLOD*>(root->getChild(1)->asGroup()->getChild(5));
        ASSERT_NE(node2, nullptr);
        EXPECT_EQ(node2->getMaxRange(1), 78820.0f);
        auto* node3 = dynamic_cast<osg::PagedLOD*>(node2->getChild(1)->asGroup()->getChild(0));
        ASSERT_NE(node3, nullptr);

        const std::string relative =
            fs::path(treePath).parent_path() == fs::path(tiles).parent_path() ? "" : "../tiles/";
        EXPECT_EQ(node3->getFileName(0), relative + "quadtree_a33w16_L3_X4_Y4.obj");
        // What the database pager does: the tree's folder, then the child's name.
        const std::string pagedPath = node3->getDatabasePath() + node3->getFileName(0);
        EXPECT_TRUE(fs::equivalent(pagedPath, tiles + "quadtree_a33w16_L3_X4_Y4.obj")) << pagedPath;
        EXPECT_TRUE(osgDB::readRefNodeFile(pagedPath)) << pagedPath;
    }
}

// A culling pass from an eye point: which tiles are drawn and which the pager is asked for.
class EyePass : public osg::NodeVisitor {
public:
    explicit EyePass(const osg::Vec3f& eye)
        : osg::NodeVisitor(CULL_VISITOR, TRAVERSE_ACTIVE_CHILDREN), eye_(eye),
          requests_(new Requests) {
        setDatabaseRequestHandler(requests_.get());
    }
    osg::Vec3 getEyePoint() const override { return eye_; }
    float getDistanceToViewPoint(const osg::Vec3& p, bool) const override {
        return (p - eye_).length();
    }
    void apply(osg::Geode&) override { ++drawn; }

    int drawn = 0;
    const std::vector<std::string>& requested() const { return requests_->files; }

private:
    struct Requests : osg::NodeVisitor::DatabaseRequestHandler {
        void requestNodeFile(const std::string& file, osg::NodePath&, float, const osg::FrameStamp*,
                             osg::ref_ptr<osg::Referenced>&, const osg::Referenced*) override {
            files.push_back(file);
        }
        std::vector<std::string> files;
    };
    osg::Vec3f eye_;
    osg::ref_ptr<Requests> requests_;
};

// Eye points straight above a node's centre (the centres lie on the ellipsoid).
osg::Vec3f above(const osg::Vec3f& centre, float height) {
    osg::Vec3f up = centre;
    up.normalize();
    return centre + up * height;
}

TEST_F(TreeFilesTest, LoadedTreeShowsCoarseTilesFarAndPagesFineTilesNear) {
    writeAllStandIns();
    ASSERT_EQ(prepareTreeTiles(tiles, cell, cell), 0);
    ::testing::internal::CaptureStdout();
    osg::ref_ptr<osg::PagedLOD> built = buildPagedTree(tiles, cell, cell);
    ::testing::internal::GetCapturedStdout();
    writeTreeFile(*built, tiles, tiles + "tree.osgb");
    osg::ref_ptr<osg::Node> tree = osgDB::readRefNodeFile(tiles + "tree.osgb");
    auto* root = dynamic_cast<osg::PagedLOD*>(tree.get());
    ASSERT_NE(root, nullptr);
    auto* node2 = dynamic_cast<osg::PagedLOD*>(root->getChild(1)->asGroup()->getChild(5));
    ASSERT_NE(node2, nullptr);

    // Beyond 315290 m of the root's centre: the level-1 tile alone.
    EyePass far(above(root->getCenter(), 400000.0f));
    tree->accept(far);
    EXPECT_EQ(far.drawn, 1);
    EXPECT_TRUE(far.requested().empty());

    // 100 km above a level-2 node: every level-2 tile, nothing paged.
    EyePass middle(above(node2->getCenter(), 100000.0f));
    tree->accept(middle);
    EXPECT_EQ(middle.drawn, 16);
    EXPECT_TRUE(middle.requested().empty());

    // 50 km above it: its level-3 nodes page their tiles in, from beside the tree file.
    EyePass near(above(node2->getCenter(), 50000.0f));
    tree->accept(near);
    const std::vector<std::string>& requested = near.requested();
    const std::set<std::string> files(requested.begin(), requested.end());
    for (unsigned row = 4; row < 8; ++row) { // level-2 tile (1, 1) holds rows and columns 4-7
        for (unsigned column = 4; column < 8; ++column) {
            const std::string expected = treeTileFileName(tiles, "a33w16", 3, row, column);
            EXPECT_EQ(files.count(expected), 1u) << expected;
        }
    }
    for (const std::string& file : files) {
        EXPECT_TRUE(fs::exists(file)) << file;
    }
}

TEST_F(TreeFilesTest, NamesATreeItCannotWrite) {
    osg::ref_ptr<osg::Group> root = new osg::Group;
    const std::string path = folder.path() + "/missing/tree.osgt";
    try {
        writeTreeFile(*root, tiles, path);
        ADD_FAILURE() << "wrote " << path;
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("\"" + path + "\""), std::string::npos) << e.what();
    }
}

} // namespace
} // namespace skyframe
