#include "terrain/TileStem.h"

#include "TerrainFixtures.h"
#include "terrain/CellName.h"
#include "terrain/SyntheticCell.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

namespace skyframe {
namespace {

namespace fs = std::filesystem;

TEST(TileStem, IsTheSixCharactersBeforeTheExtension) {
    EXPECT_EQ(tileStem("n33w16.dt2"), "n33w16");
    EXPECT_EQ(tileStem("/data/dted/w116/n33w16.dt1"), "n33w16");
    EXPECT_EQ(tileStem("../shared/testdata/n33_w116_3arc_v2.dt1"), "arc_v2");
    EXPECT_EQ(tileStem("abcdef.dt2"), "abcdef"); // exactly ten characters
}

// Cells in the standard DTED layout (dted/<longitude>/<latitude>.dt1) and cells with short
// names are named from their own georeferencing, never from characters of their folders.
TEST(TileStem, NamesCellsWithoutASixCharacterNameFromTheirCorner) {
    testing::TempFolder folder;
    struct Case {
        const char* file;
        int south, west;
        const char* stem;
    };
    for (const Case& c : {Case{"dted/w116/n33.dt0", 33, -116, "n33_w116"},
                          Case{"dted/e010/s01.dt0", -1, 10, "s01_e010"},
                          Case{"a.dt0", 0, -1, "n00_w001"}, Case{"x/e0.dt0", -90, 0, "s90_e000"}}) {
        const fs::path path = fs::path(folder.path()) / c.file;
        fs::create_directories(path.parent_path());
        makeDtedCell(path.string(), c.south, c.west, 121, [](int, int) { return 5.0; });
        EXPECT_EQ(tileStem(path.string()), c.stem) << c.file;
        EXPECT_EQ(cellName(CellCorner{c.south, c.west}), c.stem);
    }
}

TEST(TileStem, RefusesShortPathsOfNoReadableCellNamingTheReason) {
    testing::TempFolder folder;
    const std::string text = folder.path() + "/n3.txt";
    std::FILE* f = std::fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("not a cell\n", f);
    std::fclose(f);
    struct Case {
        std::string path, reason;
    };
    for (const Case& c : {Case{"", "does not exist"}, Case{"n33.dt2", "does not exist"},
                          Case{folder.path() + "/w116/n33.dt1", "does not exist"},
                          Case{text, "\"" + text + "\""}}) {
        try {
            tileStem(c.path);
            ADD_FAILURE() << "accepted \"" << c.path << "\"";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("\"" + c.path + "\""), std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
}

} // namespace
} // namespace skyframe
