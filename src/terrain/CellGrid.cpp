#include "terrain/CellGrid.h"

#include "terrain/DtedRaster.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace skyframe {

namespace {

// DTED writes its spacing as whole arc-seconds (or tenths); anything within this of one
// degree is a one-degree cell.
constexpr double kSpanTolerance = 1e-6; // degrees

std::string sizeText(const std::string& path, int width, int height) {
    std::ostringstream s;
    s << "\"" << path << "\" (" << width << " x " << height << " pixels)";
    return s.str();
}

} // namespace

CellGrid::CellGrid(GDALDataset& dataset, const std::string& path)
    : path_(path), width_(dataset.GetRasterXSize()), height_(dataset.GetRasterYSize()) {
    const std::string what = sizeText(path, width_, height_);
    if (dataset.GetRasterCount() < 1) {
        throw std::runtime_error(what + " has no raster band");
    }
    band_ = dataset.GetRasterBand(1);
    if (width_ < 2 || height_ < 2) {
        throw std::runtime_error(what + " is too small to tile: a cell needs at least 2 x 2 posts");
    }
    if (dataset.GetGeoTransform(geoTransform_) != CE_None) {
        throw std::runtime_error(what + " has no geotransform: not a geographic one-degree cell");
    }
    const OGRSpatialReference* srs = dataset.GetSpatialRef();
    if (srs != nullptr && !srs->IsGeographic()) {
        throw std::runtime_error(what + " is not in geographic coordinates");
    }
    const double* g = geoTransform_;
    const double lonSpan = (width_ - 1) * g[1];
    const double latSpan = -(height_ - 1) * g[5];
    if (g[2] != 0.0 || g[4] != 0.0 || std::abs(lonSpan - 1.0) > kSpanTolerance ||
        std::abs(latSpan - 1.0) > kSpanTolerance) {
        std::ostringstream s;
        s << what << " is not a north-up one-degree cell: its posts span " << lonSpan
          << " degrees of longitude and " << latSpan << " degrees of latitude";
        throw std::runtime_error(s.str());
    }

    exact_ = width_ == kPixels + 1 && height_ == kPixels + 1;
    // GDAL's georeferencing of a DTED cell is pixel-is-area: the geotransform gives the
    // outer corner of the north-west post's pixel, and the post itself is that pixel's
    // centre, half a spacing inside. Grid pixel 0 is that post whatever the spacing.
    gridLonStep_ = g[1] * (width_ - 1) / kPixels;
    gridLatStep_ = g[5] * (height_ - 1) / kPixels;
    gridLon0_ = g[0] + 0.5 * g[1];
    gridLat0_ = g[3] + 0.5 * g[5];
}

double CellGrid::latitude(int v) const {
    return exact_ ? geoTransform_[3] + (v + 0.5) * geoTransform_[5] : gridLat0_ + v * gridLatStep_;
}

double CellGrid::longitude(int u) const {
    return exact_ ? geoTransform_[0] + (u + 0.5) * geoTransform_[1] : gridLon0_ + u * gridLonStep_;
}

void CellGrid::setRowsPerRead(int rows) {
    rowsPerRead_ = std::max(1, rows);
}

const float* CellGrid::rasterRows(int r, int need) {
    if (r < windowFirst_ || r + need > windowFirst_ + windowRows_) {
        const int count = std::min(std::max(rowsPerRead_, need), height_ - r);
        window_.resize(static_cast<std::size_t>(count) * width_);
        windowFirst_ = -1;
        windowRows_ = 0;
        readWindow(*band_, r, count, 0, width_, window_.data(),
                   "cannot read rows " + std::to_string(r) + " to " +
                       std::to_string(r + count - 1) + " of",
                   path_);
        windowFirst_ = r;
        windowRows_ = count;
    }
    return window_.data() + static_cast<std::size_t>(r - windowFirst_) * width_;
}

void CellGrid::convertToEllipsoidHeights() {
    const double north = latitude(0), south = latitude(kPixels);
    const double west = longitude(0), east = longitude(kPixels);
    geoid_ = std::make_shared<const GeoidPatch>(std::min(south, north), std::max(south, north),
                                                std::min(west, east), std::max(west, east));
}

void CellGrid::readHeights(int v, int u0, int step, int count, float* out) {
    readStoredHeights(v, u0, step, count, out);
    if (geoid_) {
        const double lat = latitude(v);
        for (int j = 0; j < count; ++j) {
            out[j] = static_cast<float>(out[j] + geoid_->at(lat, longitude(u0 + j * step)));
        }
    }
}

void CellGrid::readStoredHeights(int v, int u0, int step, int count, float* out) {
    if (exact_) {
        const float* row = rasterRows(v, 1);
        for (int j = 0; j < count; ++j) {
            out[j] = row[u0 + j * step];
        }
        return;
    }
    // Integer arithmetic keeps the post index exact; only the fraction is rounded.
    const long long rowScaled = static_cast<long long>(v) * (height_ - 1);
    const int r0 = static_cast<int>(rowScaled / kPixels);
    const double fr = static_cast<double>(rowScaled % kPixels) / kPixels;
    const bool twoRows = fr > 0.0;
    const float* above = rasterRows(r0, twoRows ? 2 : 1);
    const float* below = twoRows ? above + width_ : above;
    for (int j = 0; j < count; ++j) {
        const long long colScaled = static_cast<long long>(u0 + j * step) * (width_ - 1);
        const int c0 = static_cast<int>(colScaled / kPixels);
        const double fc = static_cast<double>(colScaled % kPixels) / kPixels;
        const int c1 = std::min(c0 + 1, width_ - 1);
        const double top = above[c0] + fc * (above[c1] - above[c0]);
        const double bottom = below[c0] + fc * (below[c1] - below[c0]);
        out[j] = static_cast<float>(top + fr * (bottom - top));
    }
}

} // namespace skyframe
