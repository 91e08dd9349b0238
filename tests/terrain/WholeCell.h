#pragma once

#include "terrain/GeoidPatch.h"
#include "terrain/RegionCell.h"

#include <string>
#include <vector>

namespace skyframe::testing {

// Every post of the DTED cell at path in memory, computed the straightforward way: the whole
// raster read at once, voids filled by fillVoids on an in-memory copy, the geoid added post by
// post. The reference the windowed post file is held to.
CellPosts loadWholeCell(const std::string& path, HeightReference heights);

// A tile's error computed over the whole cell at once, interval after interval: the
// reference the banded tileError is held to.
double wholeCellTileError(const CellPosts& cell, const std::vector<int>& rowPosts,
                          const std::vector<int>& columnPosts);

} // namespace skyframe::testing
