// skyframe-tiler region, run as a user would: options, refusals, reuse of tiles, thread count,
// tiling on several machines, folder layouts and a real cell.

#include "RegionTreeWalk.h"
#include "TerrainFixtures.h"
#include "TestRasters.h"

#include "terrain/SyntheticCell.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sys/wait.h>

namespace skyframe {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

struct RegionRun {
    int status;
    std::string err;
    int written = -1, reused = -1, failed = -1;
    long long voids = -1;
};

RegionRun region(const TempFolder& folder, const std::string& arguments) {
    const std::string err = folder.path() + "/.stderr";
    const std::string command = std::string(SKYFRAME_TILER) + " region " + arguments + " -q 2>" +
                                err + " >" + folder.path() + "/.stdout </dev/null";
    const int raw = std::system(command.c_str());
    RegionRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, testing::readText(err)};
    EXPECT_EQ(testing::readText(folder.path() + "/.stdout"), "") << arguments;
    fs::remove(err);
    fs::remove(folder.path() + "/.stdout");
    std::smatch m;
    const std::regex summary(R"((\d+) tiles written, (\d+) reused, (\d+) failed, (\d+) voids)");
    if (std::regex_search(run.err, m, summary)) {
        run.written = std::stoi(m[1]);
        run.reused = std::stoi(m[2]);
        run.failed = std::stoi(m[3]);
        run.voids = std::stoll(m[4]);
    }
    return run;
}

// Every file under a folder, by relative path, with its bytes.
std::map<std::string, std::string> folderBytes(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            files[fs::relative(entry.path(), folder).generic_string()] =
                std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return files;
}

TEST(RegionTool, CommandLinesThatDoNotFitExitTwoAndWriteNothing) {
    TempFolder folder;
    const std::string cell = testing::fixtureCell(121);
    const std::string out = folder.path() + "/out";
    for (const std::string& wrong :
         {std::string(""), out, out + " --root-only " + cell, out + " --root-only --no-root",
          out + " " + cell + " -j 0", out + " " + cell + " -j two", out + " " + cell + " -j",
          out + " " + cell + " --heights geoid", out + " " + cell + " --colour red"}) {
        const RegionRun run = region(folder, wrong);
        EXPECT_EQ(run.status, 2) << wrong;
        EXPECT_NE(run.err.find("usage:"), std::string::npos) << wrong;
    }
    EXPECT_FALSE(fs::exists(out));
}

TEST(RegionTool, ABadInputIsNamedBeforeAnyWork) {
    TempFolder folder;
    fs::create_directories(folder.path() + "/empty");
    const std::string notACell =
        testing::makeGeoTiff(folder.path() + "/small.dt1", 50, 50, GDT_Int16, [](GDALDataset& d) {
            const double g[6] = {-116.0, 1.0 / 3600, 0.0, 34.0, 0.0, -1.0 / 3600};
            d.SetGeoTransform(const_cast<double*>(g));
        });
    const std::string out = folder.path() + "/out";
    const std::string good = testing::fixtureCell(121);
    const struct {
        std::string input, named;
    } cases[] = {{folder.path() + "/absent.dt1", "absent.dt1"},
                 {folder.path() + "/empty", "empty"},
                 {notACell, "small.dt1"}};
    for (const auto& c : cases) {
        const RegionRun run = region(folder, out + " " + good + " " + c.input);
        EXPECT_EQ(run.status, 1) << c.input;
        EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out)) << c.input;
    }
    const RegionRun nothing = region(folder, folder.path() + "/empty --root-only");
    EXPECT_EQ(nothing.status, 1);
    EXPECT_NE(nothing.err.find("no tiled cell"), std::string::npos) << nothing.err;
}

TEST(RegionTool, OneAndTwoThreadsWriteTheSameBytes) {
    TempFolder folder;
    const std::string cells = testing::fixtureCell(1201) + " " + testing::fixtureNorthCell();
    ASSERT_EQ(region(folder, folder.path() + "/one " + cells + " -j 1").status, 0);
    ASSERT_EQ(region(folder, folder.path() + "/two " + cells + " -j 2").status, 0);
    const auto one = folderBytes(folder.path() + "/one");
    const auto two = folderBytes(folder.path() + "/two");
    EXPECT_GT(one.size(), 300u);
    ASSERT_EQ(one.size(), two.size());
    for (const auto& [path, bytes] : one) {
        ASSERT_TRUE(two.count(path)) << path;
        EXPECT_TRUE(two.at(path) == bytes) << path << " differs";
    }
}

TEST(RegionTool, ATileIsRewrittenOnlyWhenMissingOlderThanItsCellOrOfOtherOptions) {
    TempFolder folder;
    const std::string cell = folder.path() + "/n33w116.dt1";
    fs::copy_file(testing::fixtureCell(1201), cell);
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(cell, past);
    const std::string out = folder.path() + "/out";
    const std::string tile = out + "/n33_w116/q0.osgb";
    const RegionRun first = region(folder, out + " " + cell);
    ASSERT_EQ(first.status, 0) << first.err;
    const int files = first.written;
    EXPECT_EQ(first.reused, 0);

    const struct {
        const char* what;
        std::function<void()> change;
        std::string options;
        int written;
    } cases[] = {
        {"nothing changed", [] {}, "", 0},
        {"a tile removed", [&] { fs::remove(tile); }, "", 1},
        {"a tile older than its cell",
         [&] { fs::last_write_time(tile, past - std::chrono::seconds(5)); }, "", 1},
        {"a tile cut short", [&] { fs::resize_file(tile, 100); }, "", 1},
        {"other heights", [] {}, " --heights msl", files},
        {"the same heights again", [] {}, " --heights msl", 0},
        {"back to ellipsoid heights", [] {}, "", files},
        // Tiles of the 2-pixel tolerance of earlier versions: a tolerance that is not a
        // whole number must not be cut to one in the options compared.
        {"tiles of an earlier screen-space tolerance",
         [&] {
             const std::string record = out + "/n33_w116/cell.record";
             const std::string text = testing::readText(record);
             std::ofstream(record)
                 << std::regex_replace(text, std::regex("tolerance=[0-9.]+"), "tolerance=2");
         },
         "", files},
        {"the cell newer than its tiles",
         [&] {
             fs::last_write_time(cell, fs::file_time_type::clock::now() + std::chrono::seconds(2));
         },
         "", files},
    };
    for (const auto& c : cases) {
        c.change();
        const RegionRun run = region(folder, out + " " + cell + c.options);
        EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(run.written, c.written) << c.what;
        EXPECT_EQ(run.reused, files - c.written) << c.what;
    }
    EXPECT_TRUE(testing::walkRegionTree(out + "/terrain.osgb", {}, false).unreadable.empty());
}

TEST(RegionTool, CellsTiledApartThenOneRootEqualsOneRun) {
    TempFolder folder;
    const std::string a = testing::fixtureCell(121), b = testing::fixtureNorthCell();
    const std::string apart = folder.path() + "/apart", once = folder.path() + "/once";
    ASSERT_EQ(region(folder, apart + " " + a + " --no-root").status, 0);
    ASSERT_EQ(region(folder, apart + " " + b + " --no-root").status, 0);
    EXPECT_FALSE(fs::exists(apart + "/terrain.osgb"));
    EXPECT_FALSE(fs::exists(apart + "/terrain.manifest"));
    const RegionRun root = region(folder, apart + " --root-only");
    ASSERT_EQ(root.status, 0) << root.err;
    EXPECT_NE(root.err.find("covers 2 cells"), std::string::npos) << root.err;
    ASSERT_EQ(region(folder, once + " " + a + " " + b).status, 0);
    EXPECT_EQ(folderBytes(apart), folderBytes(once));
    // A later run for one cell keeps the other in the root.
    ASSERT_EQ(region(folder, apart + " " + a).status, 0);
    EXPECT_EQ(testing::readText(apart + "/terrain.manifest"),
              testing::readText(once + "/terrain.manifest"));
}

TEST(RegionTool, CellsInTheDtedFolderLayoutAreNamedFromTheirCorners) {
    TempFolder folder;
    fs::create_directories(folder.path() + "/dted/w116");
    fs::copy_file(testing::fixtureCell(121), folder.path() + "/dted/w116/n33.dt0");
    fs::copy_file(testing::fixtureNorthCell(), folder.path() + "/dted/w116/n34.DT0");
    const RegionRun run = region(folder, folder.path() + "/out " + folder.path() + "/dted");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(folder.path() + "/out/n33_w116/top.osgb"));
    EXPECT_TRUE(fs::exists(folder.path() + "/out/n34_w116/top.osgb"));
}

TEST(RegionTool, VoidPostsAreFilledAndCounted) {
    TempFolder folder;
    const std::string cell = folder.path() + "/n33w116.dt0";
    makeDtedCell(cell, 33, -116, 121, [](int row, int column) {
        return (row > 40 && row < 50 && column > 10 && column < 14) ? -32767.0 : 100.0 + row;
    });
    const RegionRun run = region(folder, folder.path() + "/out " + cell);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.voids, 9 * 3);

    // A cell void throughout is named and skipped; the others are tiled and in the root.
    const std::string voidCell = folder.path() + "/n34w116.dt0";
    makeDtedCell(voidCell, 34, -116, 121, [](int, int) { return -32767.0; });
    const RegionRun both = region(folder, folder.path() + "/both " + cell + " " + voidCell);
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.failed, 1);
    EXPECT_NE(both.err.find("n34w116.dt0"), std::string::npos) << both.err;
    EXPECT_NE(both.err.find("void throughout"), std::string::npos) << both.err;
    EXPECT_NE(both.err.find("covers 1 cells"), std::string::npos) << both.err;
    EXPECT_TRUE(fs::exists(folder.path() + "/both/n33_w116/top.osgb"));
}

TEST(RegionTool, TheRealLevel1CellTiles) {
    const std::string cell = std::string(SKYFRAME_TESTDATA) + "/n33_w116_3arc_v2.dt1";
    if (!fs::exists(cell)) {
        GTEST_SKIP() << cell << " is absent";
    }
    TempFolder folder;
    const RegionRun run = region(folder, folder.path() + "/out " + cell);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto manifest = testing::readManifest(folder.path() + "/out/terrain.manifest");
    const testing::TreeWalk walk =
        testing::walkRegionTree(folder.path() + "/out/terrain.osgb", {}, false);
    EXPECT_TRUE(walk.unreadable.empty());
    EXPECT_EQ(walk.filesRead.size(), manifest.size());
    EXPECT_EQ(static_cast<std::size_t>(run.written) + 1, manifest.size());
}

} // namespace
} // namespace skyframe
