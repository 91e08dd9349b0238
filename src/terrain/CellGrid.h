#pragma once

#include "terrain/GeoidPatch.h"

#include <gdal_priv.h>

#include <memory>

#include <string>
#include <vector>

namespace skyframe {

// The sampling grid of the tiles: a one-degree cell seen as 3600 x 3600 pixels from its
// top-left corner, whatever its post spacing. A 3601-post cell (DTED level 2) is read pixel
// for pixel, with positions straight from its geotransform. Any other one-degree raster
// (DTED level 1 has 1201 posts, level 0 121) is read at the geographic positions a 3601-post
// cell of the same area would have, its heights interpolated bilinearly between posts: grid
// pixel u lies at raster pixel u * (width - 1) / 3600. Every tile thus keeps its sample count
// and file name whatever the source resolution.
class CellGrid {
public:
    static constexpr int kPixels = 3600;

    // Checks that band 1 of dataset is a north-up one-degree cell in geographic coordinates
    // of at least 2 x 2 posts; throws std::runtime_error naming path and the raster's size
    // otherwise. The dataset must outlive the grid.
    CellGrid(GDALDataset& dataset, const std::string& path);

    // Geodetic latitude of grid row v and longitude of grid column u (degrees), 0 <= v, u <=
    // kPixels.
    double latitude(int v) const;
    double longitude(int u) const;

    // Heights (metres) of grid row v at grid columns u0 + j * step, j = 0 ... count - 1, into
    // out. Throws std::runtime_error naming the file when GDAL cannot read the raster.
    void readHeights(int v, int u0, int step, int count, float* out);

    // From now on readHeights gives heights above the ellipsoid: the EGM96 geoid height at
    // each post is added to the stored (mean sea level) height. Throws std::runtime_error
    // when PROJ cannot give the geoid.
    void convertToEllipsoidHeights();

    // Number of consecutive raster rows one read fetches; more than one pays off when
    // consecutive grid rows are sampled (GDAL's DTED driver stores columns, so every read
    // costs one block look-up per column, however few rows it covers).
    void setRowsPerRead(int rows);

    // Whether grid and raster pixels coincide (a 3601 x 3601 cell).
    bool exact() const { return exact_; }

private:
    // Raster row r, with the `need` - 1 rows after it following it in memory, read through
    // the row window (r + need <= height).
    const float* rasterRows(int r, int need);
    // readHeights without the geoid.
    void readStoredHeights(int v, int u0, int step, int count, float* out);

    GDALRasterBand* band_ = nullptr;
    std::string path_;
    int width_ = 0;
    int height_ = 0;
    double geoTransform_[6] = {};
    bool exact_ = false;
    // Position of grid pixel 0 and the grid's pixel size when they are derived (not exact).
    double gridLat0_ = 0.0, gridLatStep_ = 0.0, gridLon0_ = 0.0, gridLonStep_ = 0.0;

    std::shared_ptr<const GeoidPatch> geoid_; // null: heights as stored

    int rowsPerRead_ = 1;
    int windowFirst_ = -1;
    int windowRows_ = 0;
    std::vector<float> window_;
};

} // namespace skyframe
