#include "terrain/SyntheticCell.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace skyframe {

void makeDtedCell(const std::string& path, int south, int west, int posts,
                  const PostHeight& height) {
    if (posts != 121 && posts != 1201 && posts != 3601) {
        throw std::invalid_argument("DTED cell \"" + path + "\": " + std::to_string(posts) +
                                    " posts is not a DTED level");
    }
    GDALAllRegister();
    GDALDriver* memDriver = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* dtedDriver = GetGDALDriverManager()->GetDriverByName("DTED");
    if (memDriver == nullptr || dtedDriver == nullptr) {
        throw std::runtime_error("GDAL lacks its MEM or DTED driver");
    }
    GDALDatasetUniquePtr cell(memDriver->Create("", posts, posts, 1, GDT_Int16, nullptr));
    // Posts sit at pixel centres: the raster reaches half a post spacing beyond the degree.
    const double spacing = 1.0 / (posts - 1);
    double geoTransform[6] = {west - 0.5 * spacing,      spacing, 0.0,
                              south + 1 + 0.5 * spacing, 0.0,     -spacing};
    cell->SetGeoTransform(geoTransform);
    OGRSpatialReference wgs84;
    wgs84.importFromEPSG(4326);
    cell->SetSpatialRef(&wgs84);

    std::vector<std::int16_t> row(posts);
    GDALRasterBand* band = cell->GetRasterBand(1);
    for (int r = 0; r < posts; ++r) {
        for (int c = 0; c < posts; ++c) {
            row[c] =
                static_cast<std::int16_t>(std::clamp(std::lround(height(r, c)), -32000L, 32000L));
        }
        if (band->RasterIO(GF_Write, 0, r, posts, 1, row.data(), posts, 1, GDT_Int16, 0, 0,
                           nullptr) != CE_None) {
            throw std::runtime_error("cannot fill DTED cell \"" + path + "\"");
        }
    }

    const std::string partPath = path + "." + std::to_string(::getpid()) + ".part.dt2";
    CPLErrorReset();
    GDALDatasetUniquePtr written(
        dtedDriver->CreateCopy(partPath.c_str(), cell.get(), TRUE, nullptr, nullptr, nullptr));
    if (!written) {
        std::remove(partPath.c_str());
        throw std::runtime_error("cannot write DTED cell \"" + path +
                                 "\": " + CPLGetLastErrorMsg());
    }
    written.reset();
    if (std::rename(partPath.c_str(), path.c_str()) != 0) {
        std::remove(partPath.c_str());
        throw std::runtime_error("cannot rename DTED cell into \"" + path + "\"");
    }
}

double syntheticRelief(int row, int column, int posts) {
    const double y = static_cast<double>(row) / (posts - 1);    // 0 north ... 1 south
    const double x = static_cast<double>(column) / (posts - 1); // 0 west ... 1 east
    return 400.0 + 300.0 * x - 200.0 * y + 250.0 * std::sin(9.0 * x) * std::cos(7.0 * y) +
           120.0 * std::sin(23.0 * (x + y));
}

} // namespace skyframe
