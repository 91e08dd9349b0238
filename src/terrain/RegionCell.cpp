#include "terrain/RegionCell.h"

#include "terrain/CellGrid.h"
#include "terrain/CellName.h"
#include "terrain/DtedRaster.h"
#include "terrain/VoidFill.h"

#include <cpl_error.h>

#include <algorithm>
#include <stdexcept>

namespace skyframe {

namespace {

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

void readBand(GDALDataset& dataset, const std::string& path, CellPosts& cell) {
    cell.columns = dataset.GetRasterXSize();
    cell.rows = dataset.GetRasterYSize();
    cell.heights.resize(static_cast<std::size_t>(cell.rows) * cell.columns);
    if (dataset.GetRasterBand(1)->RasterIO(GF_Read, 0, 0, cell.columns, cell.rows,
                                           cell.heights.data(), cell.columns, cell.rows,
                                           GDT_Float32, 0, 0, nullptr) != CE_None) {
        throw std::runtime_error("cannot read \"" + path + "\": " + CPLGetLastErrorMsg());
    }
}

} // namespace

std::string cellNameOf(const std::string& path) {
    GDALDatasetUniquePtr dataset = openCell(path);
    return cellName(cellCorner(*dataset, path));
}

CellPosts loadCellPosts(const std::string& path, HeightReference heights) {
    GDALDatasetUniquePtr dataset = openCell(path);
    CellPosts cell;
    cell.path = path;
    cell.name = cellName(cellCorner(*dataset, path));
    double g[6];
    dataset->GetGeoTransform(g);
    // Pixel-is-area: each post is its pixel's centre.
    cell.west = g[0] + 0.5 * g[1];
    cell.north = g[3] + 0.5 * g[5];
    cell.lonStep = g[1];
    cell.latStep = -g[5];
    readBand(*dataset, path, cell);
    int hasNoData = 0;
    const double noData = dataset->GetRasterBand(1)->GetNoDataValue(&hasNoData);
    const bool anyVoid = std::any_of(cell.heights.begin(), cell.heights.end(), [&](float h) {
        return isVoidPost(h, hasNoData != 0, noData);
    });
    // Most cells have no void: one read of the raster then suffices.
    if (anyVoid) {
        cell.voidsFilled = fillVoids(dataset, path);
        readBand(*dataset, path, cell);
    }
    if (heights == HeightReference::Ellipsoid) {
        const double south = cell.latitude(cell.rows - 1);
        const double east = cell.longitude(cell.columns - 1);
        const GeoidPatch geoid(south, cell.north, cell.west, east);
        for (int r = 0; r < cell.rows; ++r) {
            const double lat = cell.latitude(r);
            float* row = &cell.heights[static_cast<std::size_t>(r) * cell.columns];
            for (int c = 0; c < cell.columns; ++c) {
                row[c] = static_cast<float>(row[c] + geoid.at(lat, cell.longitude(c)));
            }
        }
    }
    return cell;
}

} // namespace skyframe
