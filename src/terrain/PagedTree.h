#pragma once

#include <osg/PagedLOD>
#include <osg/ref_ptr>

#include <string>
#include <vector>

namespace skyframe {

// Switch-over distances of the paged tree (metres from the eye to a node's centre).
constexpr float kLevel1Range = 315290.0f; // beyond it the root shows its level-1 tile
constexpr float kLevel2Range = 78820.0f;  // beyond it a level-2 node shows its own tile

// directoryPrefix + "quadtree_" + stem + "_L<level>_X<x>_Y<y>.obj": the name by which the
// trees refer to a tile (the writers' names carry "PRUEBA" after "quadtree_").
std::string treeTileFileName(const std::string& directoryPrefix, const std::string& stem,
                             unsigned level, unsigned x, unsigned y);

// Tiles that could not be read while a tree was built; each still holds its child slot (an
// empty group) so that the following children keep their ranges.
using UnreadableTiles = std::vector<std::string>;

// Three-level paged tree over the northern half of cell A and the southern half of cell B
// (B directly north of A, or the same cell twice for the whole cell). The root shows A's
// level-1 tile beyond kLevel1Range of its centre, else a group of 16 level-2 nodes (A's tile
// rows 0-1, then B's rows 2-3); each shows its tile beyond kLevel2Range, else a group of its
// 16 level-3 nodes, which page their tiles in by file name. Level-1 and level-2 tiles are read
// now. Centres are Earth-centred (metres); the cells' dataset reports are printed. Throws
// std::invalid_argument when a path has no tile stem.
osg::ref_ptr<osg::PagedLOD> buildPagedTree(const std::string& directoryPrefix,
                                           const std::string& pathA, const std::string& pathB,
                                           UnreadableTiles* unreadable = nullptr);

// One flat node over the same area: the two-cell level-1 tile (read now), then A's and B's
// level-2 and level-3 tiles by file name, without a centre.
osg::ref_ptr<osg::PagedLOD> buildMixLod(const std::string& directoryPrefix,
                                        const std::string& pathA, const std::string& pathB,
                                        UnreadableTiles* unreadable = nullptr);

// Two-level tree: A's level-1 tile (read now) far away, the 16 level-2 tiles by file name
// near; prints every node's geodetic and Earth-centred centre.
osg::ref_ptr<osg::PagedLOD> buildTwoLevelTree(const std::string& directoryPrefix,
                                              const std::string& pathA, const std::string& pathB,
                                              UnreadableTiles* unreadable = nullptr);

// A node for tile position (x, y) under the writers' names: the level-3-named tile (read now)
// and the level-2-named tile by file name, centred on level-2 tile (x, y) of a 4 x 4 grid.
osg::ref_ptr<osg::PagedLOD> buildTileNode(const std::string& directoryPrefix,
                                          const std::string& path, unsigned x, unsigned y,
                                          UnreadableTiles* unreadable = nullptr);

} // namespace skyframe
