#pragma once

#include "terrain/EcefGrid.h"
#include "terrain/RegionCell.h"
#include "terrain/RegionQuadtree.h"

#include <osg/BoundingSphere>
#include <osg/Node>
#include <osg/ref_ptr>

#include <vector>

namespace skyframe {

// The latitude and longitude factors of every row and column of a cell's posts, computed
// once per cell.
struct CellFrame {
    std::vector<EcefLatitude> rows;
    std::vector<EcefLongitude> columns;
    explicit CellFrame(const CellGeometry& cell);
};

// How far a tile's surface is from the posts it stands for: the largest vertical distance
// (metres) between a post of its span and the tile's triangles above or below it. Reads the
// posts a band of sample intervals at a time: the rows from one sample row to the next, the
// span's columns.
double tileError(const PostSource& posts, const std::vector<int>& rowPosts,
                 const std::vector<int>& columnPosts);

// Height (metres) of the bottom of the skirt hung below a tile edge that runs along post row
// `line` (alongRow) or post column `line` from post `from` to post `to`. Any tile that meets
// the edge, at whatever level, draws its side of the edge by interpolating posts of the same
// line, never more than kCoarsestInterval apart, so its surface there is no lower than the
// lowest post of the line within that distance of the edge: the skirt reaches kSkirtMargin
// below that, and no crack opens between tiles of different levels. The margin also covers
// a neighbouring cell of another DTED level whose edge posts differ a little from this one's.
double skirtBottom(const PostSource& posts, bool alongRow, int line, int from, int to);

// Longest sample interval of any tile along its edge: 64 tile intervals over a cell of
// 3601, 1201 or 121 posts step 57, 19 or 2 posts, at most 60 arc-seconds.
constexpr double kCoarsestInterval = 64.0 / 3600.0; // degrees
constexpr double kSkirtMargin = 3.0;                // metres

// Screen-space error allowed before a tile gives way to its children, in pixels as
// OpenSceneGraph's PIXEL_SIZE_ON_SCREEN counts them. That count is a sphere's diameter on
// screen times sqrt(1 + (W^2 + H^2) / 8 f^2) (viewport W x H, focal length f, all in pixels):
// 1.07 for 1280 x 720 at 50 degrees across, so the error on screen there stays below 2.6
// pixels. At 2 pixels the demo flight drew up to 315 000 triangles a frame, at 2.75 at most
// 294 000, below the 300 000 aimed at.
constexpr double kPixelTolerance = 2.75;

// The scene node of one tile: its triangles (indexed, no normals: the terrain is drawn into
// the depth buffer only) in blocks of at most kBlockMetres a side, each block's vertices as
// floats relative to the block's own origin under a double-precision transform, so that
// every vertex keeps millimetre precision; skirts along every block edge. A tile with
// children is a PagedLOD (pixel-size ranges) that shows its own triangles until its
// bounding sphere covers more than 2 r kPixelTolerance / error pixels on screen, and its
// children's file (childrenFileName, relative to the tile's folder) from then on. `bound`
// receives the tile's bounding sphere in Earth-centred metres. Reads the tile's posts from
// `posts` a few rows or a line at a time.
osg::ref_ptr<osg::Node> buildRegionTile(const PostSource& posts, const CellFrame& frame,
                                        const QuadTile& tile,
                                        osg::BoundingSphered* bound = nullptr);

constexpr double kBlockMetres = 20000.0;

// The scene of one tile file: its tile, or a group of its tiles in their order. `bound`
// receives the bounding sphere of a file of one tile (the top file) and is left alone
// otherwise.
osg::ref_ptr<osg::Node> buildTileFile(const PostSource& posts, const CellFrame& frame,
                                      const TileFile& file, osg::BoundingSphered* bound = nullptr);

} // namespace skyframe
