#include "terrain/DtedRaster.h"

#include "terrain/DtedReport.h"

#include <cpl_error.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>

namespace skyframe {

std::runtime_error gdalFailure(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " \"" + path + "\": " + CPLGetLastErrorMsg());
}

void readWindow(GDALRasterBand& band, int row0, int rows, int column0, int columns, float* out,
                const std::string& what, const std::string& path) {
    int blockColumns = 0, blockRows = 0;
    band.GetBlockSize(&blockColumns, &blockRows);
    if (band.GetRasterDataType() != GDT_Int16 || blockColumns != 1 ||
        blockRows != band.GetYSize()) {
        if (band.RasterIO(GF_Read, column0, row0, columns, rows, out, columns, rows, GDT_Float32, 0,
                          0, nullptr) != CE_None) {
            throw gdalFailure(what, path);
        }
        return;
    }
    for (int c = 0; c < columns; ++c) {
        GDALRasterBlock* block = band.GetLockedBlockRef(column0 + c, 0);
        if (block == nullptr) {
            throw gdalFailure(what, path);
        }
        const auto* column = static_cast<const std::int16_t*>(block->GetDataRef()) + row0;
        for (int r = 0; r < rows; ++r) {
            out[static_cast<std::size_t>(r) * columns + c] = column[r];
        }
        block->DropLock();
    }
}

GDALDatasetUniquePtr openDted(const std::string& path, std::string* whyNot) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        if (whyNot != nullptr) {
            *whyNot = "it does not exist";
        }
        return nullptr;
    }
    GDALAllRegister();
    CPLErrorReset();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GDALDatasetUniquePtr dataset(
        GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    CPLPopErrorHandler();
    if (!dataset && whyNot != nullptr) {
        const char* message = CPLGetLastErrorMsg();
        *whyNot = (message && *message) ? message : "not a raster GDAL can read";
    }
    return dataset;
}

bool readDtedGeometry(const std::string& path, int& rasterWidth, double& pixelWidth,
                      osg::Vec3f& origin) {
    std::string whyNot;
    GDALDatasetUniquePtr dataset = openDted(path, &whyNot);
    if (!dataset) {
        std::fputs(kOpenFailureText, stdout);
        std::fflush(stdout);
        std::cerr << "cannot open \"" << path << "\": " << whyNot << '\n';
        return false;
    }
    printDatasetReport(*dataset);
    // Without a readable geotransform GDAL hands out its default (0, 1, 0, 0, 0, 1), which
    // is passed on as it is.
    double geoTransform[6] = {0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    dataset->GetGeoTransform(geoTransform);
    rasterWidth = dataset->GetRasterXSize();
    pixelWidth = geoTransform[1];
    origin =
        osg::Vec3f(static_cast<float>(geoTransform[0]), static_cast<float>(geoTransform[3]), 0.0f);
    return true;
}

} // namespace skyframe
