// The post file region tiles are read from, held to the whole cell in memory: the same float
// at every post, the same tile bytes, the same errors, windows of a tile's size, and nothing
// left on disk.

#include "TerrainFixtures.h"
#include "WholeCell.h"

#include "terrain/OsgbBytes.h"
#include "terrain/PostFile.h"
#include "terrain/RegionQuadtree.h"
#include "terrain/RegionTile.h"
#include "terrain/RegionWriter.h"
#include "terrain/SyntheticCell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

namespace skyframe {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

constexpr double kDtedVoid = -32767.0;

// Posts row0 ... row1 - 1 by column0 ... column1 - 1.
struct Hole {
    int row0, row1, column0, column1;
    bool covers(int r, int c) const { return r >= row0 && r < row1 && c >= column0 && c < column1; }
};

// Hills that differ at every post, so that a post read from the wrong place shows.
double hills(int row, int column) {
    return 200.0 + 0.3 * row + 0.1 * column + 40.0 * std::sin(row / 17.0) * std::cos(column / 23.0);
}

struct CellCase {
    const char* what;
    int south, west, posts;
    std::vector<Hole> holes;
};

// Writes the case's cell into folder; its path.
std::string makeCell(const std::string& folder, const CellCase& c) {
    const std::string path = folder + "/n" + std::to_string(c.south) + "w" +
                             std::to_string(-c.west) + ".dt" +
                             (c.posts == 121    ? "0"
                              : c.posts == 1201 ? "1"
                                                : "2");
    makeDtedCell(path, c.south, c.west, c.posts, [&c](int r, int col) {
        const bool hole = std::any_of(c.holes.begin(), c.holes.end(),
                                      [&](const Hole& h) { return h.covers(r, col); });
        return hole ? kDtedVoid : hills(r, col);
    });
    return path;
}

long long voidCount(const CellCase& c) {
    long long voids = 0;
    for (int r = 0; r < c.posts; ++r) {
        for (int col = 0; col < c.posts; ++col) {
            voids += std::any_of(c.holes.begin(), c.holes.end(),
                                 [&](const Hole& h) { return h.covers(r, col); });
        }
    }
    return voids;
}

const CellCase kCells[] = {
    {"level 0 without voids", 33, -116, 121, {}},
    {"level 0, a hole inside", 33, -116, 121, {{40, 43, 70, 73}}},
    {"level 0, holes along the north and east edges",
     33,
     -116,
     121,
     {{0, 1, 0, 121}, {0, 121, 120, 121}}},
    {"level 1, a big hole and the west edge",
     33,
     -116,
     1201,
     {{300, 420, 500, 640}, {0, 1201, 0, 4}}},
    {"level 2, a hole in the south-east corner", 33, -116, 3601, {{3500, 3601, 3400, 3601}}},
};

const HeightReference kHeights[] = {HeightReference::MeanSeaLevel, HeightReference::Ellipsoid};

TEST(PostFile, HoldsEveryPostAsTheWholeCellComputesIt) {
    const TempFolder folder;
    for (const CellCase& c : kCells) {
        const std::string cell = makeCell(folder.path(), c);
        for (HeightReference heights : kHeights) {
            SCOPED_TRACE(std::string(c.what) +
                         (heights == HeightReference::Ellipsoid ? ", ellipsoid" : ", msl"));
            const CellPosts whole = testing::loadWholeCell(cell, heights);
            const std::string file = folder.path() + "/posts.tif";
            // Several threads for one datum: the strips then come in any order, and those
            // that took the geoid before a void turned up are done again.
            const int threads = heights == HeightReference::Ellipsoid ? 3 : 1;
            const PostFile written = writePostFile(cell, heights, file, threads);
            EXPECT_EQ(written.voidsFilled, voidCount(c));
            EXPECT_EQ(written.voidsFilled, whole.voidsFilled);
            EXPECT_EQ(written.cell.name, whole.name);
            EXPECT_EQ(written.cell.rows, c.posts);
            EXPECT_EQ(written.cell.columns, c.posts);
            EXPECT_EQ(written.cell.north, whole.north);
            EXPECT_EQ(written.cell.west, whole.west);
            EXPECT_EQ(written.cell.latStep, whole.latStep);

            // Bands of 7 rows, which the file's blocks do not divide.
            const PostFileReader reader(file, written.cell);
            PostWindow band;
            long long differ = 0;
            for (int r = 0; r < c.posts; r += 7) {
                const int rows = std::min(7, c.posts - r);
                reader.read(r, rows, 0, c.posts, band);
                differ += std::memcmp(band.heights.data(), &whole.heights[std::size_t(r) * c.posts],
                                      band.heights.size() * sizeof(float)) != 0;
            }
            EXPECT_EQ(differ, 0) << "bands whose floats differ from the whole cell's";
        }
    }
}

// A cell GDAL holds in blocks of rows rather than DTED's columns (a GeoTIFF copy, with its
// voids): the same posts, read another way.
TEST(PostFile, HoldsTheSamePostsForACellOfAnotherLayout) {
    const TempFolder folder;
    const std::string dted = makeCell(folder.path(), kCells[3]);
    const std::string tiff = folder.path() + "/n33w116.tif";
    {
        GDALDatasetUniquePtr source(GDALDataset::Open(dted.c_str(), GDAL_OF_RASTER));
        ASSERT_TRUE(source);
        GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
        GDALDatasetUniquePtr copy(
            gtiff->CreateCopy(tiff.c_str(), source.get(), FALSE, nullptr, nullptr, nullptr));
        ASSERT_TRUE(copy);
        int blockColumns = 0, blockRows = 0;
        copy->GetRasterBand(1)->GetBlockSize(&blockColumns, &blockRows);
        ASSERT_EQ(blockColumns, kCells[3].posts); // rows, not columns
    }
    const std::string file = folder.path() + "/posts.tif";
    const PostFile written = writePostFile(tiff, HeightReference::Ellipsoid, file, 2);
    EXPECT_EQ(written.voidsFilled, voidCount(kCells[3]));
    const CellPosts whole = testing::loadWholeCell(dted, HeightReference::Ellipsoid);
    PostWindow all;
    PostFileReader(file, written.cell).read(0, whole.rows, 0, whole.columns, all);
    EXPECT_TRUE(all.heights == whole.heights);
}

TEST(PostFile, CannotBeWrittenWhereNoFolderIs) {
    const TempFolder folder;
    const std::string file = folder.path() + "/missing/posts.tif";
    try {
        writePostFile(testing::fixtureCell(121), HeightReference::Ellipsoid, file);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
    }
}

// A cell in memory that records the windows asked of it.
struct RecordingPosts : CellPosts {
    mutable std::vector<PostWindow> asked; // without heights
    void read(int row0, int rows, int column0, int columns, PostWindow& out) const override {
        asked.push_back(PostWindow{row0, column0, rows, columns, {}});
        CellPosts::read(row0, rows, column0, columns, out);
    }
};

// Hills roughened by a pattern that repeats only every 97 posts: every tile has an error.
RecordingPosts roughCell(int posts) {
    RecordingPosts cell;
    cell.name = "n33_w116";
    cell.rows = cell.columns = posts;
    cell.north = 34.0;
    cell.west = -116.0;
    cell.latStep = cell.lonStep = 1.0 / (posts - 1);
    cell.heights.reserve(std::size_t(posts) * posts);
    for (int r = 0; r < posts; ++r) {
        for (int c = 0; c < posts; ++c) {
            const int rough = (r * 7919 + c * 104729) % 97;
            cell.heights.push_back(static_cast<float>(hills(r, c) + 0.37 * rough));
        }
    }
    return cell;
}

// The first tile of every level of a cell's quadtree, the top tile first.
std::vector<QuadTile> firstTiles(int posts) {
    std::vector<QuadTile> tiles{topTile(posts, posts)};
    while (!isLeaf(tiles.back().span)) {
        tiles.push_back(children(tiles.back()).front());
    }
    return tiles;
}

TEST(PostFile, ATileReadsABandOfRowsOrALineAtATime) {
    const RecordingPosts cell = roughCell(3601);
    const CellFrame frame(cell);
    for (const QuadTile& tile : firstTiles(cell.rows)) {
        SCOPED_TRACE("level " + std::to_string(tile.level));
        const TileSpan& s = tile.span;
        const int step = (s.rowIntervals() + kTileIntervals - 1) / kTileIntervals;
        cell.asked.clear();
        buildRegionTile(cell, frame, tile);
        ASSERT_FALSE(cell.asked.empty());
        // The error's bands: from one sample row to the next, the span's columns; the whole
        // span at once where every row is sampled. The skirts' lines: one row or column, up to
        // a coarsest tile interval beyond the span.
        const long long band = (step + 1) * (s.columnIntervals() + 1LL);
        const long long span = step == 1 ? (s.rowIntervals() + 1LL) * (s.columnIntervals() + 1) : 0;
        const long long line = std::max(s.rowIntervals(), s.columnIntervals()) + 1 + 2 * 64;
        const long long most = std::max({band, span, line});
        for (const PostWindow& w : cell.asked) {
            EXPECT_LE(static_cast<long long>(w.rows) * w.columns, most)
                << w.rows << " x " << w.columns << " at " << w.row0 << ", " << w.column0;
            EXPECT_TRUE(w.row0 >= 0 && w.column0 >= 0 && w.row0 + w.rows <= cell.rows &&
                        w.column0 + w.columns <= cell.columns);
        }
    }
}

TEST(PostFile, TheBandedErrorIsTheWholeCellsErrorForEveryTile) {
    for (int posts : {121, 1201}) {
        const RecordingPosts cell = roughCell(posts);
        int tiles = 0, differ = 0;
        for (const TileFile& file : cellTileFiles(posts, posts)) {
            for (const QuadTile& tile : file.tiles) {
                const std::vector<int> rows = samplePosts(tile.span.row0, tile.span.row1);
                const std::vector<int> columns = samplePosts(tile.span.column0, tile.span.column1);
                const double expected = testing::wholeCellTileError(cell, rows, columns);
                // Exactly: the same arithmetic post by post, whatever the order of reading.
                differ += tileError(cell, rows, columns) != expected;
                ++tiles;
            }
        }
        EXPECT_EQ(differ, 0) << posts << " posts, of " << tiles << " tiles";
    }
}

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int runRegion(const std::string& arguments) {
    const std::string command = std::string(SKYFRAME_TILER) + " region " + arguments + " -q";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Cells of both levels with voids, two by two, through the tool with one and two threads: every
// tile file on disk is the bytes of the tile built from the whole cell in memory, and no
// temporary file is left.
TEST(PostFile, RegionWritesTheWholeCellsTilesWhateverTheThreads) {
    const TempFolder folder;
    const std::string cells = folder.path() + "/cells";
    fs::create_directories(cells);
    const CellCase block[] = {
        {"", 33, -116, 1201, {{0, 30, 1150, 1201}}},
        {"", 33, -115, 121, {{60, 121, 0, 2}}},
        {"", 34, -116, 121, {}},
        {"", 34, -115, 1201, {{600, 610, 600, 900}}},
    };
    std::vector<std::string> paths;
    for (const CellCase& c : block) {
        paths.push_back(makeCell(cells, c));
    }
    prepareOsgbWriter();
    struct Run {
        const char* options;
        HeightReference heights;
    };
    for (const Run& run : {Run{"-j 1 --heights msl", HeightReference::MeanSeaLevel},
                           Run{"-j 2", HeightReference::Ellipsoid}}) {
        SCOPED_TRACE(run.options);
        const std::string out = folder.path() + "/out";
        fs::remove_all(out);
        ASSERT_EQ(runRegion(out + " " + cells + " " + run.options), 0);
        int files = 0, differ = 0;
        for (const std::string& path : paths) {
            const CellPosts whole = testing::loadWholeCell(path, run.heights);
            const CellFrame frame(whole);
            for (const TileFile& tiles : cellTileFiles(whole.rows, whole.columns)) {
                const fs::path file = fs::path(out) / whole.name / tiles.name;
                differ += fileBytes(file) != osgbBytes(*buildTileFile(whole, frame, tiles), "");
                ++files;
            }
        }
        EXPECT_EQ(differ, 0) << "of " << files << " files";
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            EXPECT_NE(entry.path().extension(), ".part") << entry.path();
        }
    }
}

TEST(PostFile, IsRemovedWhenATileCannotBeWritten) {
    const TempFolder out;
    // A folder where the top tile's file goes: its rename fails.
    const fs::path cellFolder = fs::path(out.path()) / "n33_w116";
    fs::create_directories(cellFolder / "top.osgb" / "in-the-way");
    EXPECT_THROW(tileRegionCell(out.path(), testing::fixtureCell(121), RegionOptions{}),
                 std::runtime_error);
    for (const auto& entry : fs::directory_iterator(cellFolder)) {
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
    }
}

} // namespace
} // namespace skyframe
