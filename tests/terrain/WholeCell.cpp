#include "WholeCell.h"

#include "terrain/VoidFill.h"

#include <cpl_error.h>

#include <algorithm>
#include <stdexcept>

namespace skyframe::testing {

namespace {

void readBand(GDALDataset& dataset, const std::string& path, CellPosts& cell) {
    cell.heights.resize(static_cast<std::size_t>(cell.rows) * cell.columns);
    if (dataset.GetRasterBand(1)->RasterIO(GF_Read, 0, 0, cell.columns, cell.rows,
                                           cell.heights.data(), cell.columns, cell.rows,
                                           GDT_Float32, 0, 0, nullptr) != CE_None) {
        throw std::runtime_error("cannot read \"" + path + "\": " + CPLGetLastErrorMsg());
    }
}

} // namespace

CellPosts loadWholeCell(const std::string& path, HeightReference heights) {
    GDALDatasetUniquePtr dataset = openCell(path);
    CellPosts cell;
    static_cast<CellGeometry&>(cell) = cellGeometry(*dataset, path);
    readBand(*dataset, path, cell);
    int hasNoData = 0;
    const double noData = dataset->GetRasterBand(1)->GetNoDataValue(&hasNoData);
    if (std::any_of(cell.heights.begin(), cell.heights.end(),
                    [&](float h) { return isVoidPost(h, hasNoData != 0, noData); })) {
        cell.voidsFilled = fillVoids(dataset, path);
        readBand(*dataset, path, cell);
    }
    if (heights == HeightReference::Ellipsoid) {
        const GeoidPatch geoid(cell.latitude(cell.rows - 1), cell.north, cell.west,
                               cell.longitude(cell.columns - 1));
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

} // namespace skyframe::testing
