#pragma once

#include <string>

namespace skyframe {

// Characters a path needs for a tile stem: six stem characters and four after them.
constexpr std::size_t kTileStemSpan = 10;

// The stem every tile and tree file made from a cell carries. For a path whose last ten
// characters are a six-character file name and a four-character extension
// ("/data/n33w16.dt2") it is the name without its extension ("n33w16"). A path for which
// that rule gives no file name (the standard DTED layout "dted/w116/n33.dt1", or a path
// shorter than ten characters) is named from the cell's own georeferencing instead
// ("n33_w116"). Throws std::invalid_argument, naming the path and the reason (it does not
// exist, GDAL cannot read it), when neither gives a stem.
std::string tileStem(const std::string& path);

} // namespace skyframe
