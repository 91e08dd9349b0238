#include "TestRasters.h"

#include <ogr_spatialref.h>

#include <stdexcept>

namespace skyframe::testing {

std::string makeGeoTiff(const std::string& path, int width, int height, GDALDataType type,
                        const std::function<void(GDALDataset&)>& edit) {
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDatasetUniquePtr dataset(driver->Create(path.c_str(), width, height, 1, type, nullptr));
    if (!dataset) {
        throw std::runtime_error("cannot create " + path);
    }
    edit(*dataset);
    return path;
}

const OGRSpatialReference& wgs84() {
    static const OGRSpatialReference srs = [] {
        OGRSpatialReference s;
        s.importFromEPSG(4326);
        return s;
    }();
    return srs;
}

} // namespace skyframe::testing
