#pragma once

// `region` trees: many DTED cells, of any level, tiled into one folder that a viewer loads
// through one root file. Each cell's tiles go to <folder>/<cell name>/, each tile file is
// written once and kept while it is no older than its cell and was written with the same
// options; the root and the manifest are assembled from the cells' records, so cells can be
// tiled by separate processes and the root built once at the end.

#include "terrain/GeoidPatch.h"

#include <functional>
#include <string>
#include <vector>

namespace skyframe {

struct RegionOptions {
    HeightReference heights = HeightReference::Ellipsoid;
    int threads = 0; // 0: one per core
};

// The one-line text of the options a cell's tiles depend on (posts: the cell's raster size).
std::string regionOptionsText(const RegionOptions& options, int rows, int columns);

struct RegionCellResult {
    std::string cell; // its name
    int written = 0, reused = 0;
    long long voidsFilled = 0;
};

// Called with the fraction of the current cell's files done (0 ... 1).
using CellProgress = std::function<void(double)>;

// Tiles the cell at cellPath into outDir/<cell name>/ and records it there. Files that can
// be used as they are (present, no older than the cell, same size as recorded, same options)
// are kept; files of an earlier layout of the cell that the new one does not have are
// removed. Output bytes do not depend on the number of threads. The cell's heights go
// through a temporary file in its folder (removed at the end, also on failure) that each
// thread reads a window at a time: memory holds a few rows of posts per thread and GDAL's
// block cache, capped here at 4 MB per thread for the process, whatever the size of the
// cell. Files are written depth first, a tile's descendants while its posts are cached. Throws
// std::runtime_error naming the cell or file on failure.
RegionCellResult tileRegionCell(const std::string& outDir, const std::string& cellPath,
                                const RegionOptions& options, const CellProgress& progress = {});

// Writes outDir/terrain.osgb, a group of one paged node per cell recorded under outDir
// (each pages in <cell>/top.osgb when in view), then outDir/terrain.manifest, last. Both
// through a part file and a rename. Throws std::runtime_error naming the problem when no
// cell is recorded or a recorded file is missing or has another size. Returns the number
// of cells in the root.
int assembleRegionRoot(const std::string& outDir);

// The DTED cells named by inputs: files as given, folders searched recursively for .dt0,
// .dt1 and .dt2 files (any letter case), in sorted order. Throws std::runtime_error naming an
// input that does not exist or a folder that holds no cell.
std::vector<std::string> findDtedCells(const std::vector<std::string>& inputs);

} // namespace skyframe
