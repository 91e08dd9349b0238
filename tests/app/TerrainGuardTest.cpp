#include "app/TerrainGuard.h"

#include "TestSupport.h"
#include "app/SceneStages.h"

#include <gtest/gtest.h>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/PagedLOD>
#include <osgDB/Registry>
#include <osgDB/WriteFile>
#include <zlib.h>

#include <cfloat>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace skyframe {
namespace {

namespace fs = std::filesystem;

osg::ref_ptr<osg::Geode> grid(int n) {
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (int i = 0; i < n * n; ++i) {
        vertices->push_back(osg::Vec3(float(i % n), float(i / n), float(i % 7)));
    }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices.get());
    geometry->addPrimitiveSet(new osg::DrawArrays(osg::PrimitiveSet::POINTS, 0, n * n));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry.get());
    return geode;
}

osg::ref_ptr<osg::PagedLOD> paged(const std::string& child) {
    osg::ref_ptr<osg::PagedLOD> node = new osg::PagedLOD;
    node->addChild(grid(8).get(), 0.0f, FLT_MAX);
    node->setFileName(1, child);
    node->setRange(1, 0.0f, FLT_MAX);
    return node;
}

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A manifest line computed here with zlib in one go, not by the code under test.
std::string manifestLine(const fs::path& dir, const std::string& path) {
    const std::string bytes = fileBytes(dir / path);
    const uLong crc =
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx", crc);
    return std::to_string(bytes.size()) + " " + hex + " " + path + "\n";
}

// terrain.osgb pages in c/1.osgb, which pages in 2.osgb beside it; all three listed.
fs::path writeTree(const std::string& name) {
    const fs::path dir = test::scratchDir("terrain-guard") / name;
    fs::remove_all(dir);
    fs::create_directories(dir / "c");
    EXPECT_TRUE(osgDB::writeNodeFile(*paged("c/1.osgb"), (dir / "terrain.osgb").string()));
    EXPECT_TRUE(osgDB::writeNodeFile(*paged("2.osgb"), (dir / "c/1.osgb").string()));
    EXPECT_TRUE(osgDB::writeNodeFile(*grid(12), (dir / "c/2.osgb").string()));
    std::ofstream(dir / "terrain.manifest")
        << "skyframe terrain manifest 1\n"
        << manifestLine(dir, "terrain.osgb") << manifestLine(dir, "c/1.osgb")
        << manifestLine(dir, "c/2.osgb");
    return dir;
}

std::shared_ptr<const TerrainManifest> manifestOf(const fs::path& dir) {
    return std::make_shared<const TerrainManifest>(
        TerrainManifest::read((dir / "terrain.manifest").string()));
}

TEST(TerrainGuard, ReadsSoundListedFilesAsTheirReaderWould) {
    const fs::path dir = writeTree("sound");
    std::ostringstream warnings;
    osg::ref_ptr<TerrainGuard> guard = new TerrainGuard(manifestOf(dir), warnings);
    const std::string child = (dir / "c/1.osgb").string();
    auto result = guard->readNode(child, nullptr);
    ASSERT_TRUE(result.validNode()) << result.statusMessage();
    const auto* node = dynamic_cast<const osg::PagedLOD*>(result.getNode());
    ASSERT_NE(node, nullptr);
    // Its own child is looked for beside it, as when the reader opens the file itself.
    EXPECT_EQ(node->getDatabasePath() + node->getFileName(1), (dir / "c/2.osgb").string());
    EXPECT_TRUE(guard->readNode((dir / "c/2.osgb").string(), nullptr).validNode());
    EXPECT_EQ(warnings.str(), "");
    EXPECT_EQ(guard->refusedFiles(), 0u);
}

TEST(TerrainGuard, RefusesEachDamagedMissingOrUnlistedFileWithOneWarning) {
    struct Case {
        const char* name;
        const char* file;
        void (*damage)(const fs::path& file);
        const char* problem;
    };
    const Case cases[] = {
        {"cut", "c/2.osgb", [](const fs::path& f) { fs::resize_file(f, fs::file_size(f) / 2); },
         "is "},
        {"flipped-byte", "c/1.osgb",
         [](const fs::path& f) {
             std::string bytes = fileBytes(f);
             bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
             writeBytes(f, bytes);
         },
         "has crc32 "},
        {"missing", "c/2.osgb", [](const fs::path& f) { fs::remove(f); },
         "cannot be read (No such file or directory)"},
        {"unlisted", "c/3.osgb",
         [](const fs::path& f) { fs::copy_file(f.parent_path() / "2.osgb", f); }, "not listed in "},
    };
    for (const Case& c : cases) {
        const fs::path dir = writeTree(c.name);
        c.damage(dir / c.file);
        std::ostringstream warnings;
        osg::ref_ptr<TerrainGuard> guard = new TerrainGuard(manifestOf(dir), warnings);
        const std::string file = (dir / c.file).string();
        for (int attempt = 0; attempt < 3; ++attempt) {
            EXPECT_FALSE(guard->readNode(file, nullptr).validNode()) << c.name;
        }
        const std::vector<std::string> lines = test::lines(warnings.str());
        ASSERT_EQ(lines.size(), 1u) << c.name << ": " << warnings.str();
        const std::string head = file + ": warning: terrain tile not loaded: " + c.problem;
        EXPECT_EQ(lines[0].rfind(head, 0), 0u) << lines[0];
        EXPECT_EQ(guard->refusedFiles(), 1u);
        EXPECT_TRUE(guard->isRetryComplaint(
            ("Error in reading file " + file + " : file not " + "found\n").c_str()));
        EXPECT_FALSE(guard->isRetryComplaint(
            ("Error in reading file " + (dir / "terrain.osgb").string() + " : read error\n")
                .c_str()));
        EXPECT_FALSE(guard->isRetryComplaint(file.c_str()));
    }
}

// Outside a manifest's folder binary scene files have nothing to be checked against; text
// formats are read as before.
TEST(TerrainGuard, RefusesUncheckedBinaryFilesOnly) {
    const fs::path dir = writeTree("unchecked");
    const fs::path outside = dir.parent_path() / "unchecked-outside";
    fs::create_directories(outside);
    const std::string binary = (outside / "t.osgb").string();
    const std::string text = (outside / "t.osgt").string();
    ASSERT_TRUE(osgDB::writeNodeFile(*grid(4), binary));
    ASSERT_TRUE(osgDB::writeNodeFile(*grid(4), text));
    for (const bool withManifest : {false, true}) {
        std::ostringstream warnings;
        osg::ref_ptr<TerrainGuard> guard =
            new TerrainGuard(withManifest ? manifestOf(dir) : nullptr, warnings);
        EXPECT_FALSE(guard->readNode(binary, nullptr).validNode());
        EXPECT_TRUE(guard->readNode(text, nullptr).validNode());
        EXPECT_EQ(warnings.str(), binary + ": warning: terrain tile not loaded: a binary scene " +
                                      "file with no terrain.manifest to check it against; the " +
                                      "coarser tile stays\n");
    }
    std::ostringstream warnings;
    osg::ref_ptr<TerrainGuard> guard = new TerrainGuard(nullptr, warnings);
    EXPECT_FALSE(guard->readNode((dir / "c/1.osgb").string(), nullptr).validNode());
}

// The stage as the viewer runs it, the registry restored after each run.
struct StageRun {
    TerrainStage stage;
    std::string warnings;
};

StageRun runStage(const fs::path& terrain) {
    osg::ref_ptr<osg::NotifyHandler> messages = osg::getNotifyHandler();
    StageRun run;
    osg::ref_ptr<osg::Group> root = new osg::Group;
    std::ostringstream err;
    runTerrainStage(*root, terrain.string(), run.stage, err);
    osgDB::Registry::instance()->setReadFileCallback(nullptr);
    osg::setNotifyHandler(messages.get());
    run.warnings = err.str();
    return run;
}

TEST(TerrainStage, LoadsAListedRootAndGuardsItsTree) {
    const fs::path dir = writeTree("stage");
    const StageRun run = runStage(dir / "terrain.osgb");
    const auto* root = dynamic_cast<const osg::PagedLOD*>(run.stage.node.get());
    ASSERT_NE(root, nullptr) << run.warnings;
    EXPECT_EQ(root->getDatabasePath() + root->getFileName(1), (dir / "c/1.osgb").string());
    EXPECT_EQ(run.warnings, "");
    ASSERT_NE(run.stage.guard, nullptr);
    EXPECT_EQ(run.stage.guard->refusedFiles(), 0u);
}

TEST(TerrainStage, RefusesAListedRootThatDoesNotMatch) {
    const fs::path dir = writeTree("stage-cut-root");
    const fs::path rootFile = dir / "terrain.osgb";
    const auto size = fs::file_size(rootFile);
    fs::resize_file(rootFile, 1000);
    const StageRun run = runStage(rootFile);
    EXPECT_EQ(run.warnings, rootFile.string() + ": cannot load the terrain model: is 1000 bytes, " +
                                "not " + std::to_string(size) +
                                " as the manifest says; going on without terrain\n");
    ASSERT_NE(run.stage.node, nullptr);
    EXPECT_EQ(run.stage.node->asGroup()->getNumChildren(), 0u);
}

// A manifest that cannot vouch for anything is set aside with a warning: the root is then
// loaded as any unchecked file is, after a child process loaded it.
TEST(TerrainStage, SetsABrokenManifestAside) {
    const fs::path dir = writeTree("stage-bad-manifest");
    std::ofstream(dir / "terrain.manifest", std::ios::app) << "12 zz c/9.osgb\n";
    const StageRun run = runStage(dir / "terrain.osgb");
    EXPECT_EQ(run.warnings, "warning: " + (dir / "terrain.manifest").string() +
                                ": line 5: the crc32 \"zz\" is not 8 lowercase hexadecimal " +
                                "digits; the terrain's files count as unchecked\n");
    EXPECT_NE(dynamic_cast<const osg::PagedLOD*>(run.stage.node.get()), nullptr);
}

} // namespace
} // namespace skyframe
