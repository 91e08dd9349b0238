#pragma once

#include <gdal_priv.h>
#include <osg/Vec3f>

#include <stdexcept>
#include <string>

namespace skyframe {

// Registers GDAL's drivers and opens path read-only as a raster. Returns null when it cannot
// be opened, with GDAL's reason in *whyNot (if given) instead of on standard error.
GDALDatasetUniquePtr openDted(const std::string& path, std::string* whyNot = nullptr);

// "<what> "<path>": <GDAL's last error message>", for a GDAL call on path that failed.
std::runtime_error gdalFailure(const std::string& what, const std::string& path);

// Posts row0 ... row0 + rows - 1 by column0 ... column0 + columns - 1 of band as 32-bit
// floats, row after row: what the band's RasterIO gives. DTED keeps a longitude column per
// block, as 16-bit integers, and GDAL's window read across such blocks goes a post at a time,
// a block lookup each; for that layout each column's block is taken from GDAL's cache once
// and its rows laid out here, several times faster. Throws gdalFailure(what, path) when the
// band cannot be read.
void readWindow(GDALRasterBand& band, int row0, int rows, int column0, int columns, float* out,
                const std::string& what, const std::string& path);

// The text the tiler prints, with no end of line, for every raster it cannot open; callers
// that look at the console output rely on it.
constexpr const char* kOpenFailureText = "Hello World!";

// Opens path, prints its dataset report and hands out
//   rasterWidth  the raster's width (pixels)
//   pixelWidth   geotransform element 1 (degrees per pixel)
//   origin       (longitude, latitude, 0) of the raster's top-left corner (degrees)
// A raster that cannot be opened prints kOpenFailureText to standard output and the reason,
// naming the file, to standard error, leaves the outputs as they were and returns false.
bool readDtedGeometry(const std::string& path, int& rasterWidth, double& pixelWidth,
                      osg::Vec3f& origin);

} // namespace skyframe
