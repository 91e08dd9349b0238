#pragma once

// The layout of a cell's region tiles: a quadtree over the cell's posts, each tile a grid of
// at most kTileIntervals x kTileIntervals post intervals, split until the finest tiles carry
// every post. Tiles are paged a sibling group at a time: one file holds the top tile, each
// further file the two or four children of one tile, so that a tile is replaced by all of its
// children at once.

#include <string>
#include <vector>

namespace skyframe {

constexpr int kTileIntervals = 64;

// Inclusive post ranges: rows from the north, columns from the west. Neighbouring tiles share
// their edge row or column.
struct TileSpan {
    int row0 = 0, row1 = 0, column0 = 0, column1 = 0;
    int rowIntervals() const { return row1 - row0; }
    int columnIntervals() const { return column1 - column0; }
};

struct QuadTile {
    // The quadrant digits from the top tile ("" for the top tile): in each split the children
    // are numbered row by row from the north-west.
    std::string id;
    TileSpan span;
    int level = 0; // 0 for the top tile
};

// The top tile of a cell of rows x columns posts.
QuadTile topTile(int rows, int columns);

// A tile whose grid holds every post of its span has no children.
bool isLeaf(const TileSpan& span);

// The children of a tile: an axis of more than kTileIntervals intervals is halved, the
// other kept, so two or four children.
std::vector<QuadTile> children(const QuadTile& tile);

// The posts a tile samples along one axis, first to last: every step-th post from the first,
// step = ceil(intervals / kTileIntervals), and always the last, so tiles sharing an edge
// sample their shared ends.
std::vector<int> samplePosts(int first, int last);

// File names, relative to the cell's folder.
std::string topFileName();                                 // "top.osgb"
std::string childrenFileName(const std::string& parentId); // "q<parent id>.osgb"

// The tiles one file holds.
struct TileFile {
    std::string name;
    std::vector<QuadTile> tiles;
};

// Every file of a cell's quadtree, the top file first, then breadth first.
std::vector<TileFile> cellTileFiles(int rows, int columns);

} // namespace skyframe
