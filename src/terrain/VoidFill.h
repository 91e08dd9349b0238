#pragma once

#include <gdal_priv.h>

#include <cmath>
#include <string>

namespace skyframe {

// Below the lowest dry land (the Dead Sea shore, about -430 m): a post lower than this is no
// height but a void marker, whatever no-data value the raster declares.
constexpr double kLowestGround = -500.0; // metres

// The value voids are marked with for GDAL's fill algorithm (DTED's own no-data value).
constexpr double kVoidMark = -32767.0;

// Whether a post's value is a void: the band's no-data value (DTED's -32767), not a number,
// or below kLowestGround.
inline bool isVoidPost(double value, bool hasNoData, double noData) {
    return (hasNoData && value == noData) || !std::isfinite(value) || value < kLowestGround;
}

// Number of void posts of a band, read a few hundred rows at a time. Throws
// std::runtime_error naming path when GDAL cannot read it.
long long countVoidPosts(GDALRasterBand& band, const std::string& path);

// Counts the void posts of band 1 of *dataset; when there are any, replaces *dataset by an
// in-memory copy (32-bit floats, same georeferencing) whose voids are filled from their
// valid neighbours by GDAL's fill-nodata algorithm (inverse-distance weighting searched over
// the whole cell), so that a void never becomes a vertex kilometres below the ground and no
// interpolation spreads it. Returns the number of posts filled. Throws std::runtime_error
// naming path when the cell is void throughout or GDAL fails. A cell without voids is left as
// it is and costs one read of the raster, a few hundred rows at a time.
long long fillVoids(GDALDatasetUniquePtr& dataset, const std::string& path);

// Fills in place the voids of a 32-bit float band whose voids are kVoidMark and whose no-data
// value is kVoidMark, as fillVoids does, then drops the no-data value. The band may be on
// disk: GDAL's algorithm works a scan line at a time. Throws std::runtime_error naming path
// when GDAL fails or a void remains.
void fillMarkedVoids(GDALRasterBand& band, const std::string& path);

} // namespace skyframe
