#pragma once

// Terrain for the simulated video: the heights of one DTED cell, shaded by their slope.

#include "Ground.h"

#include "terrain/GeoidPatch.h"

#include <memory>
#include <string>
#include <vector>

namespace skyframe {

// The posts of a one-degree elevation cell (DTED levels 0, 1 and 2), read whole through the
// terrain tiler's raster access, at the positions the tiler gives them, so that the terrain
// drawn from it lies where the viewer's terrain tiles do: by default the stored (mean sea
// level) heights plus the EGM96 geoid height, above the ellipsoid as the tiler writes them.
// Void posts are filled from their neighbours as the tiler fills them.
class DtedCell {
public:
    // Throws std::runtime_error naming the file when GDAL cannot open or read it, or when it
    // is not a north-up one-degree cell of a DTED level's square post grid.
    explicit DtedCell(const std::string& path,
                      HeightReference heights = HeightReference::Ellipsoid);

    // Several cells of one post spacing that together cover a rectangle (a block of
    // adjacent cells, in any order), as one grid, so that a flight can cross from one
    // cell into the next. Adjacent DTED cells repeat their shared edge posts; the cell
    // listed last gives them. Throws std::runtime_error naming the file whose spacing
    // differs, or the cells when posts inside their rectangle are missing.
    static DtedCell mosaic(const std::vector<std::string>& paths,
                           HeightReference heights = HeightReference::Ellipsoid);

    int columns() const { return columns_; }
    int rows() const { return rows_; }
    // Height of post (column from the west, row from the north), metres.
    float post(int column, int row) const {
        return heights_[static_cast<size_t>(row) * columns_ + column];
    }
    // Longitude and latitude (degrees) of a post.
    double postLongitude(double column) const { return west_ + column * spacingLon_; }
    double postLatitude(double row) const { return north_ - row * spacingLat_; }
    double spacingLongitude() const { return spacingLon_; } // degrees between posts
    double spacingLatitude() const { return spacingLat_; }
    double minHeight() const { return minHeight_; }
    double maxHeight() const { return maxHeight_; }

    // Height (metres) between the posts, bilinear; NaN outside the outermost posts.
    double heightAt(double latitude, double longitude) const;

private:
    DtedCell() = default;
    void findHeightRange();

    std::vector<float> heights_;
    int columns_ = 0, rows_ = 0;
    double west_ = 0.0, north_ = 0.0;            // the north-west post, degrees
    double spacingLon_ = 0.0, spacingLat_ = 0.0; // degrees, positive
    double minHeight_ = 0.0, maxHeight_ = 0.0;
};

// The cell's terrain, lit from the north-west at 45 degrees (Lambert shading of each post's
// slope) and tinted by height. Outside the cell the ground is flat at `outsideHeight` and
// grey. Rays are marched over the height field block by block (blocks of kBlockPosts x
// kBlockPosts post intervals, with their highest height and steepest slope): over a block
// the ray passes above, in one step; inside one, in steps that cannot pass under the
// block's steepest slope; the hit is refined by bisection to a few centimetres.
class TerrainGround : public Ground {
public:
    TerrainGround(std::shared_ptr<const DtedCell> cell, double outsideHeight);
    std::optional<Eigen::Vector3d> intersect(const Eigen::Vector3d& origin,
                                             const Eigen::Vector3d& direction) const override;
    void render(const Camera& camera, RgbImage& image) const override;

    // Ground height (metres above the ellipsoid) and colour at a latitude and longitude.
    double heightAt(double latitude, double longitude) const;
    Rgb colourAt(double latitude, double longitude) const;

private:
    struct Hit {
        double t;                   // along the normalised ray, metres
        double latitude, longitude; // degrees
    };
    struct Block {
        double maxHeight; // metres
        double maxSlope;  // tangent
    };
    std::optional<Hit> march(const Eigen::Vector3d& origin, const Eigen::Vector3d& unit) const;
    Block blockAt(long blockColumn, long blockRow) const;

    static constexpr int kBlockPosts = 8;
    std::shared_ptr<const DtedCell> cell_;
    double outsideHeight_;
    std::vector<Rgb> colours_; // one per post
    std::vector<Block> blocks_;
    long blockColumns_ = 0, blockRows_ = 0;
    double top_ = 0.0, bottom_ = 0.0; // above and below every ground height, metres
};

} // namespace skyframe
