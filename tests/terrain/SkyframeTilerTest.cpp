// The skyframe-tiler command line, run as a user would.

#include "TerrainFixtures.h"
#include "TestRasters.h"
#include "terrain/PagedTree.h"
#include "terrain/SyntheticCell.h"

#include <gtest/gtest.h>
#include <osg/Group>
#include <osgDB/ReadFile>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace skyframe {
namespace {

namespace fs = std::filesystem;
using testing::listFolder;
using testing::readText;
using testing::TempFolder;

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun tiler(const TempFolder& folder, const std::string& arguments) {
    const std::string out = folder.path() + "/.stdout";
    const std::string err = folder.path() + "/.stderr";
    const std::string command =
        std::string(SKYFRAME_TILER) + " " + arguments + " >" + out + " 2>" + err + " </dev/null";
    const int raw = std::system(command.c_str());
    ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(out), readText(err)};
    fs::remove(out);
    fs::remove(err);
    return run;
}

TEST(SkyframeTiler, HelpExitsZeroAndUsageErrorsExitTwo) {
    TempFolder folder;
    const ToolRun help = tiler(folder, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: skyframe-tiler info CELL"), std::string::npos);
    EXPECT_EQ(tiler(folder, "tree --help").status, 0);
    for (const char* wrong :
         {"", "frobnicate", "info", "tiles a.dt2", "tiles x.dt2 out --half east",
          "tiles x.dt2 out --level 4", "tiles x.dt2 out --colour red", "tree a b", "synth 33 -116",
          "synth north -116 x.dt2", "synth 33 -116 x.dt2 --posts 100", "tiles x.dt2 out --half"}) {
        const ToolRun run = tiler(folder, wrong);
        EXPECT_EQ(run.status, 2) << wrong;
        EXPECT_NE(run.err.find("usage:"), std::string::npos) << wrong;
    }
    EXPECT_TRUE(listFolder(folder.path()).empty());
}

TEST(SkyframeTiler, InfoPrintsTheReports) {
    TempFolder folder;
    const ToolRun run = tiler(folder, "info " + testing::fixtureCell(121));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Driver: DTED/DTED Elevation Raster\nSize is 121x121x1\n", 0), 0u);
    EXPECT_NE(run.out.find("X=121 Y=121 Band=1\n"), std::string::npos);
    EXPECT_EQ(run.err, "");

    const ToolRun missing = tiler(folder, "info " + folder.path() + "/absent.dt2");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("absent.dt2"), std::string::npos);
}

TEST(SkyframeTiler, FailuresExitOneWithNothingWritten) {
    TempFolder folder;
    const std::string small =
        testing::makeGeoTiff(folder.path() + "/small0.tif", 50, 50, GDT_Int16, [](GDALDataset& d) {
            const double g[6] = {-116.0, 1.0 / 3600, 0.0, 34.0, 0.0, -1.0 / 3600};
            d.SetGeoTransform(const_cast<double*>(g));
        });
    const std::string out = folder.path() + "/out";

    const ToolRun refused = tiler(folder, "tiles " + small + " " + out);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("(50 x 50 pixels)"), std::string::npos) << refused.err;

    const ToolRun absent =
        tiler(folder, "tiles " + folder.path() + "/absent.dt2 " + out + " --half north");
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("absent.dt2\": it does not exist"), std::string::npos) << absent.err;
    EXPECT_EQ(absent.out, "");

    EXPECT_EQ(tiler(folder, "mix " + small + " " + small + " " + out).status, 1);
    EXPECT_EQ(tiler(folder, "tree " + small + " " + small + " " + out).status, 1);
    EXPECT_EQ(tiler(folder, "tree a.dt2 b.dt2 " + out).status, 1);
    // Not even the output folder is left behind.
    EXPECT_FALSE(fs::exists(out));
}

// A tree covers the northern half of A and the southern half of B: cells that are not
// neighbours, or neighbours in the wrong order, are refused before any work, and so is an
// output file OpenSceneGraph cannot write a scene into.
TEST(SkyframeTiler, TreeRefusesCellsItCannotJoinBeforeAnyWork) {
    TempFolder folder;
    const std::string a33 = testing::fixtureCell(121);
    const std::string n34 = testing::fixtureNorthCell();
    const std::string n35 = folder.path() + "/far35.dt0";
    makeDtedCell(n35, 35, -116, 121, [](int, int) { return 10.0; });
    const std::string out = folder.path() + "/out";
    struct Case {
        std::string arguments;
        int status;
        std::string message;
    };
    for (const Case& c : {Case{"tree " + a33 + " " + n35 + " " + out, 1, "(n35_w116) is neither"},
                          Case{"tree " + n34 + " " + a33 + " " + out, 1, "(n33_w116) is neither"},
                          Case{"tree " + a33 + " " + n34 + " " + out + " --out " + out + "/x.png",
                               2, "--out must name an OpenSceneGraph file"}}) {
        const ToolRun run = tiler(folder, c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out)) << c.arguments;
    }
}

TEST(SkyframeTiler, AFailedWriteOnStandardOutputIsAFailure) {
    TempFolder folder;
    const std::string command = std::string(SKYFRAME_TILER) + " info " + testing::fixtureCell(121) +
                                " >/dev/full 2>/dev/null";
    const int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
}

// Standard output carries only what was asked for; progress in GDAL's style, the summary
// and nothing else on standard error; tiles are rewritten only when they are missing, older
// than their cell or written with other options.
TEST(SkyframeTiler, TilesReportProgressAndASummaryAndReuseFreshTiles) {
    TempFolder folder;
    const std::string cell = folder.path() + "/hole33.dt0";
    makeDtedCell(cell, 33, -116, 121,
                 [](int row, int column) { return row == 7 && column < 5 ? -32767.0 : 100.0; });
    const std::string out = folder.path() + "/out";
    const std::string tiles = "tiles " + cell + " " + out + " --level 3 --half north";
    const auto summary = [](int written, int reused) {
        return "skyframe-tiler: 1 cells, " + std::to_string(written) + " tiles written, " +
               std::to_string(reused) + " reused, 0 failed, 5 voids filled, ";
    };
    ToolRun run = tiler(folder, tiles);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("0...10...20...30...40...50...60...70...80...90...100 - done.\n" +
                                summary(128, 0),
                            0),
              0u)
        << run.err;

    run = tiler(folder, tiles + " -q");
    EXPECT_EQ(run.err.rfind(summary(0, 128), 0), 0u) << run.err;

    // The cell changes after its tiles were written.
    fs::last_write_time(cell, fs::file_time_type::clock::now());
    run = tiler(folder, tiles + " -q");
    EXPECT_EQ(run.err.rfind(summary(128, 0), 0), 0u) << run.err;
    run = tiler(folder, tiles + " -q --heights msl");
    EXPECT_EQ(run.err.rfind(summary(128, 0), 0), 0u) << run.err;

    run = tiler(folder, tiles + " -q -v --heights msl");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind(summary(0, 128), 0), 0u) << run.err;
    run = tiler(folder, "tiles " + cell + " " + out + " --level 3 --half south -q -v");
    EXPECT_EQ(run.out.rfind("Driver: DTED/DTED Elevation Raster\n", 0), 0u) << run.out;
}

// A cell in the standard DTED layout is named from its georeferencing.
TEST(SkyframeTiler, NamesACellOfTheDtedLayoutFromItsCorner) {
    TempFolder folder;
    const fs::path cell = fs::path(folder.path()) / "dted" / "w116" / "n33.dt0";
    fs::create_directories(cell.parent_path());
    fs::copy_file(testing::fixtureCell(121), cell);
    const ToolRun run = tiler(folder, "mix " + cell.string() + " " + cell.string() + " " +
                                          folder.path() + "/mix -q");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(listFolder(folder.path() + "/mix"),
              std::vector<std::string>{"quadtree_PRUEBAn33_w116___n33_w116_L1_X0_Y0.obj"});
}

TEST(SkyframeTiler, MixWritesOneTile) {
    TempFolder folder;
    const ToolRun run =
        tiler(folder, "mix " + testing::fixtureCell(121) + " " + testing::fixtureNorthCell() + " " +
                          folder.path() + "/mix");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(listFolder(folder.path() + "/mix"),
              std::vector<std::string>{"quadtree_PRUEBAa33w16___d34w16_L1_X0_Y0.obj"});
}

// The demonstration's path: a synthetic level-2 cell, its tiles, then a tree over the whole
// cell that loads with its paged tiles found next to it.
TEST(SkyframeTiler, TilesAndTreesASyntheticLevel2Cell) {
    TempFolder folder;
    const std::string cell = folder.path() + "/n33w16.dt2";
    const std::string out = folder.path() + "/terrain";
    ToolRun run = tiler(folder, "synth 33 -116 " + cell);
    ASSERT_EQ(run.status, 0) << run.err;

    run = tiler(folder, "tiles " + cell + " " + out + " --level 2 --half south");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(listFolder(out).size(), 8u + 128u + 1u); // and the options

    run = tiler(folder, "tree " + cell + " " + cell + " " + out + " -v");
    ASSERT_EQ(run.status, 0) << run.err;
    // Every writer tile of both halves, the 273 tree names, the options and the tree.
    EXPECT_EQ(listFolder(out).size(), 273u + 273u + 1u + 1u);
    // The southern half's tiles were fresh; the northern half (and level 1) were written.
    EXPECT_NE(run.err.find("1 cells, 137 tiles written, 137 reused, 0 failed"), std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("3\n3\n"), std::string::npos);
    EXPECT_EQ(run.err.find("Obj unable"), std::string::npos) << run.err;
    const std::string tree = out + "/quadtree_n33w16___n33w16.osgb";
    ASSERT_TRUE(fs::exists(tree)) << run.err;

    osg::ref_ptr<osg::Node> loaded = osgDB::readRefNodeFile(tree);
    auto* root = dynamic_cast<osg::PagedLOD*>(loaded.get());
    ASSERT_NE(root, nullptr);
    auto* node2 = dynamic_cast<osg::PagedLOD*>(root->getChild(1)->asGroup()->getChild(15));
    ASSERT_NE(node2, nullptr);
    EXPECT_GT(node2->getChild(0)->getBound().radius(), 10000.0f); // a real level-2 tile
    auto* node3 = dynamic_cast<osg::PagedLOD*>(node2->getChild(1)->asGroup()->getChild(15));
    ASSERT_NE(node3, nullptr);
    EXPECT_EQ(node3->getFileName(0), "quadtree_n33w16_L3_X15_Y15.obj");
    osg::ref_ptr<osg::Node> paged =
        osgDB::readRefNodeFile(node3->getDatabasePath() + node3->getFileName(0));
    ASSERT_TRUE(paged);
    // The paged tile lies around its node's centre (a level-3 tile is about 7 km across).
    EXPECT_LT((paged->getBound().center() - node3->getCenter()).length(), 5000.0f);
}

} // namespace
} // namespace skyframe
