#pragma once

#include "terrain/GeoidPatch.h"
#include "terrain/RegionCell.h"

#include <string>

namespace skyframe::testing {

// Every post of the DTED cell at path in memory, computed the straightforward way: the whole
// raster read at once, voids filled by fillVoids on an in-memory copy, the geoid added post by
// post. The reference the windowed post file is held to.
CellPosts loadWholeCell(const std::string& path, HeightReference heights);

} // namespace skyframe::testing
