#pragma once

#include <functional>
#include <string>

namespace skyframe {

// Height (metres) of the post at (row, column) of a cell, row 0 the northern edge, column 0
// the western edge.
using PostHeight = std::function<double(int row, int column)>;

// Writes a DTED cell (GDAL's DTED driver) of posts x posts covering latitudes south ...
// south + 1 and longitudes west ... west + 1 (degrees). posts is 121, 1201 or 3601 (DTED
// levels 0, 1 and 2). Heights are rounded to whole metres, as DTED stores them; -32767 (or
// less) is written as DTED's void marker. The cell is
// written under a temporary name and renamed, so concurrent makers of the same file never
// see a partial one. Throws std::runtime_error naming path on failure.
// `progress`, if given, is called with the fraction of the rows done, 0 ... 1.
void makeDtedCell(const std::string& path, int south, int west, int posts, const PostHeight& height,
                  const std::function<void(double)>& progress = {});

// Synthetic relief for demonstrations and benchmarks, modelled on the north-east shore of
// the Salton Sea where the sample mission flies (the cell 33-34 N, 116-115 W; any cell gets
// the same landscape): a flat sea at -70 m, a basin floor rising gently to the north, eroded
// ranges inland and beyond the sea reaching about 1400 m, and spurs that reach down to the
// shore between the sample targets, which stay on the floor. Different at every post.
double syntheticRelief(int row, int column, int posts);

} // namespace skyframe
