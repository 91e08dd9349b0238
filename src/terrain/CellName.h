#pragma once

#include <gdal_priv.h>

#include <string>

namespace skyframe {

// The whole-degree south-west corner of a one-degree cell (its south-west post), from the
// cell's own georeferencing. Throws std::runtime_error naming path when the raster has no
// geotransform.
struct CellCorner {
    int south = 0; // degrees, north positive
    int west = 0;  // degrees, east positive
};
CellCorner cellCorner(GDALDataset& cell, const std::string& path);

// A cell's name from its corner, as DTED folders name cells: "n33_w116", "s01_e010".
std::string cellName(const CellCorner& corner);

} // namespace skyframe
