#pragma once

#include <string>

namespace skyframe {

// Characters a path needs for a tile stem: six stem characters and four after them.
constexpr std::size_t kTileStemSpan = 10;

// The six characters in front of the last four of path: for a six-character file name with a
// four-character extension ("/data/n33w16.dt2") the name without its extension ("n33w16").
// Every tile and tree file made from a cell carries this stem. Throws std::invalid_argument,
// naming the path, when it is shorter than kTileStemSpan characters.
std::string tileStem(const std::string& path);

} // namespace skyframe
