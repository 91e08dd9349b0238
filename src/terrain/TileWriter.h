#pragma once

#include "terrain/GeoidPatch.h"

#include <functional>
#include <string>

namespace skyframe {

// Quadtree levels of a cell's tiles: level L has 4^(L-1) tiles of 225 x 225 samples.
constexpr int kFirstTileLevel = 1;
constexpr int kLastTileLevel = 3;

// Half selectors: which tile rows of levels 2 and 3 a writer covers.
constexpr int kSouthHalf = 0; // the southern half of the tile rows
constexpr int kNorthHalf = 1; // the northern half of the tile rows

// Called with a tile's file name once the tile is complete (for progress display).
using TileDone = std::function<void(const std::string& tileFile)>;

// outputPrefix + "quadtree_PRUEBA" + stem + "_L<level>_X<x>_Y<y>.obj": the name under which
// the writers store tile (x, y) (row from the north, column from the west) of a level.
std::string makeTileFileName(const std::string& outputPrefix, const std::string& stem,
                             unsigned level, unsigned x, unsigned y);

// The console text between two levels.
constexpr const char* kLevelDoneText = "FINAL DEL NIVEL. PASO AL SIGUIENTE NIVEL";

// Every writer fills the cell's void posts from their neighbours (fillVoids) and writes heights as
// stored or, with HeightReference::Ellipsoid, above the WGS84 ellipsoid. Vertices lie at the posts'
// own positions (the pixel centres of GDAL's georeferencing).

// Writes the tiles of `level` and of every deeper level up to kLastTileLevel for one half of
// the cell at inputPath (level 1 is the whole cell, whichever half): one OBJ file per tile in
// Earth-centred metres, named by makeTileFileName. Each level prints the cell's dataset and
// band reports before and kLevelDoneText after its tiles. Returns 0 on success, also for a
// level outside 1 ... 3 (nothing is done); non-zero, with the reason on standard error, when
// the half selector is not kSouthHalf or kNorthHalf, the path has no tile stem, the cell
// cannot be opened (each level then prints kOpenFailureText), is not a one-degree cell of at
// least 2 x 2 posts (refused before any file is written) or a tile cannot be written.
int writeTileLevel(int level, int halfSelector, const std::string& inputPath,
                   const std::string& outputPrefix, const TileDone& tileDone = {},
                   HeightReference heights = HeightReference::MeanSeaLevel);

// Writes the 8 tiles of one half of the cell's 4 x 4 level-2 grid twice: with 225 x 225
// samples named level 2, then with 60 x 60 samples named level 3. Statuses as writeTileLevel.
int writeHalfLevels2And3(int halfSelector, const std::string& inputPath,
                         const std::string& outputPrefix, const TileDone& tileDone = {},
                         HeightReference heights = HeightReference::MeanSeaLevel);

// Writes one level-1 tile over two cells, named after both stems joined by "___": the 225 x
// 225 level-1 samples of A, then those of B, triangulated as one grid of 450 x 225 vertices
// (B's first row follows A's last). Statuses as writeTileLevel.
int create1x1mix(const std::string& inputPathA, const std::string& inputPathB,
                 const std::string& outputPrefix, const TileDone& tileDone = {},
                 HeightReference heights = HeightReference::MeanSeaLevel);

} // namespace skyframe
