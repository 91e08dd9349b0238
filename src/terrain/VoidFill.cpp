#include "terrain/VoidFill.h"

#include "terrain/DtedRaster.h"

#include <gdal_alg.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace skyframe {

namespace {

// Rows read at once while counting: DTED stores columns, so every read costs one block
// look-up per column however few rows it covers; 64 rows of a 3601-post cell are under a
// megabyte.
constexpr int kRowsPerRead = 64;

} // namespace

long long countVoidPosts(GDALRasterBand& band, const std::string& path) {
    int hasNoData = 0;
    const double noData = band.GetNoDataValue(&hasNoData);
    const int width = band.GetXSize();
    const int height = band.GetYSize();
    std::vector<float> rows(static_cast<std::size_t>(width) * std::min(kRowsPerRead, height));
    long long voids = 0;
    for (int r = 0; r < height; r += kRowsPerRead) {
        const int count = std::min(kRowsPerRead, height - r);
        readWindow(band, r, count, 0, width, rows.data(), "cannot read", path);
        const auto end = rows.begin() + static_cast<std::ptrdiff_t>(count) * width;
        voids += std::count_if(rows.begin(), end, [&](float value) {
            return isVoidPost(value, hasNoData != 0, noData);
        });
    }
    return voids;
}

namespace {

// Band 1 of source as 32-bit floats in memory, every void set to kVoidMark.
GDALDatasetUniquePtr markedCopy(GDALDataset& source, const std::string& path) {
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    const int width = source.GetRasterXSize();
    const int height = source.GetRasterYSize();
    GDALDatasetUniquePtr copy(memory ? memory->Create("", width, height, 1, GDT_Float32, nullptr)
                                     : nullptr);
    if (!copy) {
        throw gdalFailure("cannot make an in-memory copy of", path);
    }
    double geoTransform[6];
    if (source.GetGeoTransform(geoTransform) == CE_None) {
        copy->SetGeoTransform(geoTransform);
    }
    copy->SetSpatialRef(source.GetSpatialRef());
    GDALRasterBand& in = *source.GetRasterBand(1);
    int hasNoData = 0;
    const double noData = in.GetNoDataValue(&hasNoData);
    std::vector<float> heights(static_cast<std::size_t>(width) * height);
    readWindow(in, 0, height, 0, width, heights.data(), "cannot read", path);
    for (float& h : heights) {
        if (isVoidPost(h, hasNoData != 0, noData)) {
            h = static_cast<float>(kVoidMark);
        }
    }
    GDALRasterBand& out = *copy->GetRasterBand(1);
    out.SetNoDataValue(kVoidMark);
    if (out.RasterIO(GF_Write, 0, 0, width, height, heights.data(), width, height, GDT_Float32, 0,
                     0, nullptr) != CE_None) {
        throw gdalFailure("cannot copy", path);
    }
    return copy;
}

} // namespace

long long fillVoids(GDALDatasetUniquePtr& dataset, const std::string& path) {
    GDALRasterBand& band = *dataset->GetRasterBand(1);
    const long long voids = countVoidPosts(band, path);
    if (voids == 0) {
        return 0;
    }
    const long long posts = static_cast<long long>(band.GetXSize()) * band.GetYSize();
    if (voids == posts) {
        throw std::runtime_error("\"" + path + "\" is void throughout: no post has a height");
    }
    GDALDatasetUniquePtr filled = markedCopy(*dataset, path);
    fillMarkedVoids(*filled->GetRasterBand(1), path);
    dataset = std::move(filled);
    return voids;
}

void fillMarkedVoids(GDALRasterBand& band, const std::string& path) {
    // Searching as far as the cell is wide reaches a valid post from every void.
    const double searchPixels = std::max(band.GetXSize(), band.GetYSize());
    if (GDALFillNodata(GDALRasterBand::ToHandle(&band), nullptr, searchPixels, 0, 0, nullptr,
                       nullptr, nullptr) != CE_None) {
        throw gdalFailure("cannot fill the voids of", path);
    }
    if (countVoidPosts(band, path) != 0) {
        throw std::runtime_error("\"" + path + "\": voids remain after filling");
    }
    band.DeleteNoDataValue();
}

} // namespace skyframe
