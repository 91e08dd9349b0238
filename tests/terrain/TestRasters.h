#pragma once

#include <gdal_priv.h>

#include <functional>
#include <string>

namespace skyframe::testing {

// Writes a small GeoTIFF of width x height pixels of type `type`, lets `edit` set it up
// (geotransform, projection, statistics, colour table...) and closes it. Returns path.
std::string makeGeoTiff(const std::string& path, int width, int height, GDALDataType type,
                        const std::function<void(GDALDataset&)>& edit);

// Geographic WGS84 for SetSpatialRef.
const OGRSpatialReference& wgs84();

} // namespace skyframe::testing
