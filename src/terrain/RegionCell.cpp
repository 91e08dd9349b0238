#include "terrain/RegionCell.h"

#include "terrain/CellGrid.h"
#include "terrain/CellName.h"
#include "terrain/DtedRaster.h"

#include <algorithm>
#include <stdexcept>

namespace skyframe {

void CellPosts::read(int row0, int count, int column0, int width, PostWindow& out) const {
    out.reshape(row0, count, column0, width);
    for (int r = 0; r < count; ++r) {
        const float* from = &heights[static_cast<std::size_t>(row0 + r) * columns + column0];
        std::copy(from, from + width, &out.heights[static_cast<std::size_t>(r) * width]);
    }
}

GDALDatasetUniquePtr openCell(const std::string& path) {
    std::string whyNot;
    GDALDatasetUniquePtr dataset = openDted(path, &whyNot);
    if (!dataset) {
        throw std::runtime_error("cannot open \"" + path + "\": " + whyNot);
    }
    // Refuses what is not a north-up one-degree geographic cell.
    CellGrid check(*dataset, path);
    return dataset;
}

CellGeometry cellGeometry(GDALDataset& dataset, const std::string& path) {
    CellGeometry cell;
    cell.path = path;
    cell.name = cellName(cellCorner(dataset, path));
    double g[6];
    dataset.GetGeoTransform(g);
    // Pixel-is-area: each post is its pixel's centre.
    cell.west = g[0] + 0.5 * g[1];
    cell.north = g[3] + 0.5 * g[5];
    cell.lonStep = g[1];
    cell.latStep = -g[5];
    cell.columns = dataset.GetRasterXSize();
    cell.rows = dataset.GetRasterYSize();
    return cell;
}

} // namespace skyframe
