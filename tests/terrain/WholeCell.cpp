#include "WholeCell.h"

#include "terrain/VoidFill.h"

#include <cpl_error.h>

#include <algorithm>
#include <cmath>
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

// Largest distance between the posts of one sample interval and the two triangles over it,
// cut along the interval's north-east to south-west diagonal.
double intervalError(const CellPosts& cell, int ra, int rb, int ca, int cb) {
    const double h00 = cell.at(ra, ca), h01 = cell.at(ra, cb);
    const double h10 = cell.at(rb, ca), h11 = cell.at(rb, cb);
    double worst = 0.0;
    for (int r = ra; r <= rb; ++r) {
        const double u = static_cast<double>(r - ra) / (rb - ra);
        const double north = h00 + u * (h10 - h00), south = h11 + (1.0 - u) * (h01 - h11);
        for (int c = ca; c <= cb; ++c) {
            const double v = static_cast<double>(c - ca) / (cb - ca);
            const double surface =
                u + v <= 1.0 ? north + v * (h01 - h00) : south + (1.0 - v) * (h10 - h11);
            worst = std::max(worst, std::abs(cell.at(r, c) - surface));
        }
    }
    return worst;
}

} // namespace

double wholeCellTileError(const CellPosts& cell, const std::vector<int>& rowPosts,
                          const std::vector<int>& columnPosts) {
    double worst = 0.0;
    for (std::size_t k = 0; k + 1 < rowPosts.size(); ++k) {
        for (std::size_t j = 0; j + 1 < columnPosts.size(); ++j) {
            if (rowPosts[k + 1] - rowPosts[k] > 1 || columnPosts[j + 1] - columnPosts[j] > 1) {
                worst = std::max(worst, intervalError(cell, rowPosts[k], rowPosts[k + 1],
                                                      columnPosts[j], columnPosts[j + 1]));
            }
        }
    }
    return worst;
}

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
