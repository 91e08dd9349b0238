#pragma once

// A cell's heights as its tiles use them (voids filled, the geoid added or not), kept on disk
// in square blocks so that a tile reads only the posts it needs, a window at a time, whatever
// the size of the cell. DTED itself stores one longitude column per block: a row or a small
// square of it would cost a whole column's read per post column.

#include "terrain/GeoidPatch.h"
#include "terrain/RegionCell.h"

#include <gdal_priv.h>

#include <string>

namespace skyframe {

struct PostFile {
    CellGeometry cell;
    long long voidsFilled = 0;
};

// Side of the file's square blocks (posts): a tile's window touches a few of them.
constexpr int kPostBlock = 128;

// Writes the heights of the DTED cell at cellPath to filePath, a tiled 32-bit float GeoTIFF
// of the cell's rows and columns, a column strip of kPostBlock posts at a time, with `threads`
// threads reading strips at once (the heights are the same whatever their number). Void posts are
// filled from their neighbours as fillVoids fills them (on the heights as stored), then the EGM96
// geoid height is added to every post when heights is Ellipsoid: each post is the float a
// whole-cell computation gives. The fill's own work files go beside filePath unless GDAL's
// CPL_TMPDIR says where. Throws std::runtime_error naming the file when the cell cannot be read, is
// not a north-up one-degree cell or is void throughout, or when filePath cannot be written;
// filePath may then be left half-written.
PostFile writePostFile(const std::string& cellPath, HeightReference heights,
                       const std::string& filePath, int threads = 1);

// Reads windows of a file writePostFile wrote, through its own GDAL handle: one reader per
// thread.
class PostFileReader : public PostSource {
public:
    // Throws std::runtime_error naming filePath when GDAL cannot open it.
    PostFileReader(const std::string& filePath, CellGeometry cell);

    const CellGeometry& geometry() const override { return cell_; }
    void read(int row0, int rows, int column0, int columns, PostWindow& out) const override;

private:
    CellGeometry cell_;
    std::string path_;
    GDALDatasetUniquePtr dataset_;
};

} // namespace skyframe
