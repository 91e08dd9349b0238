// The tiles' .osgb bytes against OpenSceneGraph's own osgb writer: the same graph must give
// the same file through either, so that trees written before and after stay byte for byte
// the same, and osgDB must read the bytes back.

#include "TerrainFixtures.h"
#include "WholeCell.h"

#include "terrain/OsgbBytes.h"
#include "terrain/RegionCell.h"
#include "terrain/RegionStore.h"
#include "terrain/RegionTile.h"
#include "terrain/RegionWriter.h"

#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <cfloat>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

namespace skyframe {
namespace {

namespace fs = std::filesystem;

osgDB::ReaderWriter& pluginWriter() {
    osgDB::ReaderWriter* writer = osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
    if (writer == nullptr) {
        throw std::runtime_error("OpenSceneGraph has no .osgb plugin");
    }
    return *writer;
}

// What the osgb plugin writes for node, called as a program would call it, without options.
std::string pluginBytes(const osg::Node& node) {
    std::ostringstream out(std::ios::binary);
    const osgDB::ReaderWriter::WriteResult result = pluginWriter().writeNode(node, out);
    EXPECT_TRUE(result.success()) << result.message();
    return out.str();
}

// The graph the osgb plugin reads from bytes, or null.
osg::ref_ptr<osg::Node> pluginRead(const std::string& bytes) {
    std::istringstream in(bytes, std::ios::binary);
    osgDB::ReaderWriter::ReadResult result = pluginWriter().readNode(in, nullptr);
    EXPECT_TRUE(result.success()) << result.message();
    return result.getNode();
}

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes equal, and where not, the first offset that differs (a hex dump of megabytes helps
// nobody).
::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    return ::testing::AssertionFailure() << actual.size() << " bytes against " << expected.size()
                                         << ", first difference at byte " << at;
}

// Every file of a cell's quadtree as its graph, through our writer and the plugin's: the same
// bytes, and osgDB reads them back into a graph that writes the same bytes again.
TEST(OsgbBytes, EveryTileFileOfACellIsTheBytesOfOpenSceneGraphsWriter) {
    prepareOsgbWriter();
    struct Case {
        int posts;
        HeightReference heights;
    };
    for (const Case& c :
         {Case{121, HeightReference::MeanSeaLevel}, Case{1201, HeightReference::Ellipsoid}}) {
        SCOPED_TRACE(c.posts);
        const CellPosts cell = testing::loadWholeCell(testing::fixtureCell(c.posts), c.heights);
        const CellFrame frame(cell);
        const std::vector<TileFile> files = cellTileFiles(cell.rows, cell.columns);
        ASSERT_GT(files.size(), 1u);
        for (const TileFile& file : files) {
            SCOPED_TRACE(file.name);
            const osg::ref_ptr<osg::Node> node = buildTileFile(cell, frame, file);
            const std::string bytes = osgbBytes(*node, file.name);
            ASSERT_TRUE(sameBytes(bytes, pluginBytes(*node)));
            const osg::ref_ptr<osg::Node> back = pluginRead(bytes);
            ASSERT_NE(back, nullptr);
            ASSERT_TRUE(sameBytes(osgbBytes(*back, file.name), bytes));
        }
    }
}

// The files a region run leaves on disk, the root among them, read by osgDB and written again
// by the plugin: the bytes on disk.
TEST(OsgbBytes, TheRootAndTheTilesOnDiskAreWhatOpenSceneGraphWritesForTheirGraphs) {
    const testing::TempFolder out;
    RegionOptions options;
    options.heights = HeightReference::MeanSeaLevel;
    tileRegionCell(out.path(), testing::fixtureCell(121), options);
    tileRegionCell(out.path(), testing::fixtureNorthCell(), options);
    ASSERT_EQ(assembleRegionRoot(out.path()), 2);
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out.path())) {
        if (entry.path().extension() != ".osgb") {
            continue;
        }
        SCOPED_TRACE(entry.path().string());
        const std::string bytes = fileBytes(entry.path());
        const osg::ref_ptr<osg::Node> back = pluginRead(bytes);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(sameBytes(bytes, pluginBytes(*back)));
        ++files;
    }
    // Two cells of 121 posts: a top file and one file of four children each, and the root.
    EXPECT_EQ(files, 5);
}

osg::ref_ptr<osg::Node> namedGroups() {
    // Names of odd and even length, a description list and user values: strings, bools and
    // nested blocks.
    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->setName("root of three");
    for (const char* name : {"", "a", "ab", "abc"}) {
        osg::ref_ptr<osg::Group> child = new osg::Group;
        child->setName(name);
        child->addDescription(std::string("about ") + name);
        child->setUserValue("flag", std::string(name).size() % 2 == 1);
        child->setNodeMask(0x5u);
        root->addChild(child.get());
    }
    root->addChild(root->getChild(1)); // shared: written once, referred to by its id after
    return root;
}

osg::ref_ptr<osg::Node> wideIndices() {
    // Over 65535 vertices: 32-bit indices, a float and a double matrix.
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    for (unsigned i = 0; i < 70000; ++i) {
        vertices->push_back(osg::Vec3(0.5f * i, -0.25f * i, 1.0f / (i + 1)));
        triangles->push_back(69999 - i);
    }
    geometry->setVertexArray(vertices.get());
    geometry->addPrimitiveSet(triangles.get());
    osg::ref_ptr<osg::MatrixTransform> transform =
        new osg::MatrixTransform(osg::Matrixd::translate(-2455000.123, -4668000.456, 3508000.789));
    transform->addChild(geometry.get());
    return transform;
}

osg::ref_ptr<osg::Node> pagedLods() {
    // Ranges, file names, a user-defined centre and the children that may not expire.
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    lod->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    lod->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    lod->setCenter(osg::Vec3(1.5f, -2.5f, 3.5f));
    lod->setRadius(1234.5f);
    lod->addChild(new osg::Group, 0.0f, 17.25f);
    lod->setFileName(1, "n33_w116/q0123.osgb");
    lod->setRange(1, 17.25f, FLT_MAX);
    lod->setNumChildrenThatCannotBeExpired(1);
    return lod;
}

// Graphs beside the tiles' own, each reaching another part of the format.
TEST(OsgbBytes, GraphsOfOtherShapesAreTheBytesOfOpenSceneGraphsWriter) {
    const std::pair<const char*, std::function<osg::ref_ptr<osg::Node>()>> cases[] = {
        {"named groups", namedGroups}, {"wide indices", wideIndices}, {"paged LODs", pagedLods}};
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        const osg::ref_ptr<osg::Node> node = make();
        EXPECT_TRUE(sameBytes(osgbBytes(*node, name), pluginBytes(*node)));
    }
}

} // namespace
} // namespace skyframe
