#include "terrain/ObjTileFile.h"

#include "TerrainFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace skyframe {
namespace {

using testing::listFolder;
using testing::readText;
using testing::TempFolder;

TEST(ObjTileFile, WritesUnderAPartNameAndRenamesOnCommit) {
    TempFolder folder;
    const std::string path = folder.path() + "/tile.obj";
    ObjTileFile tile(path);
    tile.addVertex(6378137.0, 0.0, 0.0);
    tile.addVertex(1.5, -2.25, 1e-5);
    tile.addText("f 1 2 3\n");
    EXPECT_EQ(listFolder(folder.path()), std::vector<std::string>{"tile.obj.part"});
    tile.commit();
    EXPECT_EQ(listFolder(folder.path()), std::vector<std::string>{"tile.obj"});
    // (x, y, z) is stored as (x, z, -y).
    EXPECT_EQ(readText(path), "v 6.37814e+06 0 -0\n"
                              "v 1.5 1e-05 2.25\n"
                              "f 1 2 3\n");
}

TEST(ObjTileFile, LeavesNothingWhenNotCommitted) {
    TempFolder folder;
    {
        ObjTileFile tile(folder.path() + "/tile.obj");
        for (int i = 0; i < 100000; ++i) { // beyond one buffer
            tile.addVertex(i, i, i);
        }
    }
    EXPECT_TRUE(listFolder(folder.path()).empty());
}

TEST(ObjTileFile, NamesTheTileItCannotCreate) {
    TempFolder folder;
    const std::string path = folder.path() + "/missing/tile.obj";
    try {
        ObjTileFile tile(path);
        ADD_FAILURE() << "created " << path;
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("\"" + path + "\""), std::string::npos) << e.what();
    }
}

TEST(ObjTileFile, KeepsLargeTextWhole) {
    TempFolder folder;
    const std::string path = folder.path() + "/big.obj";
    std::string text;
    for (int i = 0; i < 200000; ++i) {
        text += "f " + std::to_string(i) + "\n";
    }
    ObjTileFile tile(path);
    tile.addVertex(1, 2, 3);
    tile.addText(text);
    tile.commit();
    EXPECT_EQ(readText(path), "v 1 3 -2\n" + text);
}

TEST(GridFaceText, TriangulatesEachCellInTwo) {
    EXPECT_EQ(gridFaceText(3, 3), "f 2 1 4\nf 2 4 5\n"
                                  "f 3 2 5\nf 3 5 6\n"
                                  "f 5 4 7\nf 5 7 8\n"
                                  "f 6 5 8\nf 6 8 9\n");
    // Rows and columns are not interchangeable.
    EXPECT_EQ(gridFaceText(3, 2), "f 2 1 3\nf 2 3 4\n"
                                  "f 4 3 5\nf 4 5 6\n");
}

TEST(GridFaceText, HasTheFaceLinesOfA225SampleTile) {
    const std::string& faces = gridFaceText(225, 225);
    EXPECT_EQ(std::count(faces.begin(), faces.end(), '\n'), 100352);
    EXPECT_EQ(faces.rfind("f 2 1 226\nf 2 226 227\nf 3 2 227\n", 0), 0u);
    const std::string last = "f 50400 50624 50625\n";
    EXPECT_EQ(faces.compare(faces.size() - last.size(), last.size(), last), 0);
    // The two-cell tile joins A's last row (vertices 50401...) to B's first (50626...).
    const std::string& mix = gridFaceText(450, 225);
    EXPECT_EQ(std::count(mix.begin(), mix.end(), '\n'), 2 * 449 * 224);
    EXPECT_NE(mix.find("\nf 50402 50401 50626\nf 50402 50626 50627\n"), std::string::npos);
}

} // namespace
} // namespace skyframe
