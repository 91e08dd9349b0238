#pragma once

#include "terrain/TileWriter.h"

#include <osg/Node>

#include <string>
#include <vector>

namespace skyframe {

// A tile of a cell's quadtree: level 1 ... 3, row x from the north, column y from the west.
struct TilePosition {
    unsigned level, x, y;
};

// The tiles one writeTileLevel (1, halfSelector, ...) call writes: 1 + 8 + 128 positions.
std::vector<TilePosition> halfTilePositions(int halfSelector);

// The small file that records which options a cell's tiles were written with
// (directoryPrefix + "quadtree_PRUEBA" + stem + ".options"), so that tiles written with
// other options are not taken for finished ones. writeTileOptions throws
// std::runtime_error naming the file when it cannot write it.
std::string tileOptionsFileName(const std::string& directoryPrefix, const std::string& stem);
void writeTileOptions(const std::string& directoryPrefix, const std::string& stem,
                      HeightReference heights);

// Whether the tiles of a cell at those positions can be used as they are: every one exists
// and is no older than the cell, and they were written with these options.
bool tilesReusable(const std::string& directoryPrefix, const std::string& stem,
                   const std::string& cellPath, const std::vector<TilePosition>& tiles,
                   HeightReference heights);

// Readies the tiles of buildPagedTree (directoryPrefix, pathA, pathB): writes the northern
// half of A and the southern half of B (heights as writeTileLevel's) unless their tiles are
// reusable (tilesReusable), records the options, then gives each tile the tree uses its tree name
// (treeTileFileName) as a hard link to (or, where links are not possible, a copy of) the written
// file. Returns 0, or non-zero after reporting on standard error.
int prepareTreeTiles(const std::string& directoryPrefix, const std::string& pathA,
                     const std::string& pathB, const TileDone& tileDone = {},
                     HeightReference heights = HeightReference::MeanSeaLevel);

// Writes a tree with osgDB (format by treePath's extension, e.g. .osgt or .osgb) so that a
// viewer can load it from anywhere: paged file names that start with directoryPrefix are
// rewritten relative to treePath's folder, where osgDB looks for them when the tree is read
// back. The tree is written under a temporary name and renamed. Text trees (.osgt) keep six
// significant digits of every number, so their centres and embedded tiles move by up to a
// few metres; binary trees (.osgb) keep every bit. Throws std::runtime_error naming treePath
// on failure.
void writeTreeFile(osg::Node& root, const std::string& directoryPrefix,
                   const std::string& treePath);

} // namespace skyframe
