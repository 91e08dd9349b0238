#include "terrain/CellName.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace skyframe {

CellCorner cellCorner(GDALDataset& cell, const std::string& path) {
    double g[6];
    if (cell.GetGeoTransform(g) != CE_None) {
        throw std::runtime_error("\"" + path + "\" has no geotransform: not a geographic cell");
    }
    // Posts lie at pixel centres, half a pixel inside the raster's outer corner.
    const double southPost = g[3] + (cell.GetRasterYSize() - 0.5) * g[5];
    const double westPost = g[0] + 0.5 * g[1];
    return CellCorner{static_cast<int>(std::lround(southPost)),
                      static_cast<int>(std::lround(westPost))};
}

std::string cellName(const CellCorner& corner) {
    char name[32];
    std::snprintf(name, sizeof name, "%c%02d_%c%03d", corner.south < 0 ? 's' : 'n',
                  std::abs(corner.south), corner.west < 0 ? 'w' : 'e', std::abs(corner.west));
    return name;
}

} // namespace skyframe
