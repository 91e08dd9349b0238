#include "TerrainGround.h"

#include "camera/Geodesy.h"

#include "terrain/CellGrid.h"
#include "terrain/DtedRaster.h"
#include "terrain/VoidFill.h"

#include <gdal_priv.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace skyframe {

namespace {

constexpr Rgb kOutsideColour{120, 120, 112};
constexpr double kMinStep = 2.0;       // metres along the ray
constexpr double kMaxRange = 400000.0; // metres; no ray looks further
constexpr int kMaxSteps = 4000;

// Geodetic position of a point near the surface, with the sines and cosines of its latitude
// and longitude (for the local frame) at no extra cost.
struct NearSurface {
    double latitude, longitude; // degrees
    double height;              // metres
    double sinLat, cosLat, sinLon, cosLon;
};

// One step of the fixed-point iteration on the latitude, started at the point's latitude on
// the surface. The height error is of the second order of that start's error
// (micrometres); the latitude's, of the order of 1e-11 radians. Cheaper than
// ecefToGeodetic, which the ray march would call millions of times per picture.
NearSurface nearSurfaceGeodetic(const Eigen::Vector3d& x) {
    const double a = kWgs84SemiMajorAxis;
    const double e2 = kWgs84EccentricitySq;
    // Plain square roots: hypot's guard against overflow costs a quarter of the march, and
    // Earth-centred coordinates are far from overflowing.
    const double p = std::sqrt(x.x() * x.x() + x.y() * x.y());
    // Start: tan(phi0) = z / (p (1 - e^2)).
    const double k0 = p * kWgs84OneMinusEccentricitySq;
    const double r0 = std::sqrt(x.z() * x.z() + k0 * k0);
    const double s0 = x.z() / r0, c0 = k0 / r0;
    const double w = std::sqrt(1.0 - e2 * s0 * s0);
    const double h = p * c0 + x.z() * s0 - a * w;
    const double n = a / w;
    // tan(phi) = z / (p (1 - e^2 N / (N + h))).
    const double k1 = p * (1.0 - e2 * n / (n + h));
    const double r1 = std::sqrt(x.z() * x.z() + k1 * k1);
    NearSurface g;
    g.sinLat = x.z() / r1;
    g.cosLat = k1 / r1;
    g.sinLon = p > 0.0 ? x.y() / p : 0.0;
    g.cosLon = p > 0.0 ? x.x() / p : 1.0;
    g.latitude = std::atan2(x.z(), k1) / kDegToRad;
    g.longitude = std::atan2(x.y(), x.x()) / kDegToRad;
    g.height = h;
    return g;
}

// Both parameters at which a ray meets the lengthened ellipsoid (see intersectEllipsoid),
// nearest first, or nothing.
std::optional<std::pair<double, double>>
ellipsoidRoots(const Eigen::Vector3d& origin, const Eigen::Vector3d& direction, double height) {
    const double a = kWgs84SemiMajorAxis + height;
    const double b = kWgs84SemiMajorAxis * std::sqrt(kWgs84OneMinusEccentricitySq) + height;
    const Eigen::Vector3d o(origin.x() / a, origin.y() / a, origin.z() / b);
    const Eigen::Vector3d d(direction.x() / a, direction.y() / a, direction.z() / b);
    const double qa = d.dot(d), qb = o.dot(d), qc = o.dot(o) - 1.0;
    const double disc = qb * qb - qa * qc;
    if (qa == 0.0 || disc < 0.0) {
        return std::nullopt;
    }
    const double q = -(qb + std::copysign(std::sqrt(disc), qb));
    double t0 = q / qa, t1 = q != 0.0 ? qc / q : t0;
    if (t0 > t1) {
        std::swap(t0, t1);
    }
    return std::make_pair(t0, t1);
}

// Colour of bare ground at a height: the floor of the basin dark blue-grey, the desert
// floor sand, slopes brown, the high ground pale.
Rgb heightTint(double h) {
    struct Stop {
        double height;
        double r, g, b;
    };
    static const Stop stops[] = {{-80, 70, 90, 120},   {-60, 110, 120, 125}, {0, 200, 185, 150},
                                 {300, 185, 160, 115}, {800, 150, 120, 90},  {1600, 225, 220, 210}};
    const int n = sizeof stops / sizeof stops[0];
    if (h <= stops[0].height) {
        return {70, 90, 120};
    }
    for (int i = 1; i < n; ++i) {
        if (h <= stops[i].height) {
            const Stop& lo = stops[i - 1];
            const Stop& hi = stops[i];
            const double f = (h - lo.height) / (hi.height - lo.height);
            return {static_cast<uint8_t>(lo.r + (hi.r - lo.r) * f),
                    static_cast<uint8_t>(lo.g + (hi.g - lo.g) * f),
                    static_cast<uint8_t>(lo.b + (hi.b - lo.b) * f)};
        }
    }
    return {225, 220, 210};
}

// Along a line position + rate * s, the s at which it enters and leaves [low, high]: the
// slab test of ray tracing. Entry is negative (-1) when it never enters ahead.
double slabEntry(double position, double rate, double low, double high) {
    if (position >= low && position <= high) {
        return 0.0;
    }
    if (rate == 0.0) {
        return -1.0;
    }
    const double s = ((position < low ? low : high) - position) / rate;
    return s >= 0.0 ? s : -1.0;
}

double slabExit(double position, double rate, double low, double high) {
    if (rate == 0.0) {
        return (position >= low && position <= high) ? std::numeric_limits<double>::infinity()
                                                     : -1.0;
    }
    return ((rate > 0.0 ? high : low) - position) / rate;
}

Rgb scaled(Rgb c, double k) {
    auto one = [k](uint8_t v) {
        return static_cast<uint8_t>(std::clamp(std::lround(v * k), 0L, 255L));
    };
    return {one(c.r), one(c.g), one(c.b)};
}

} // namespace

DtedCell::DtedCell(const std::string& path, HeightReference heights) {
    std::string whyNot;
    GDALDatasetUniquePtr dataset = openDted(path, &whyNot);
    if (!dataset) {
        throw std::runtime_error(path + ": cannot open as an elevation raster: " + whyNot);
    }
    // The tiler's view of the cell, so that the picture's terrain lies where the viewer's
    // terrain tiles put it: the same check of the cell's geometry, and the same positions
    // and heights. Its grid holds the posts at every step-th grid pixel.
    CellGrid{*dataset, path};
    fillVoids(dataset, path);
    CellGrid grid(*dataset, path);
    if (heights == HeightReference::Ellipsoid) {
        grid.convertToEllipsoidHeights();
    }
    const int width = dataset->GetRasterXSize();
    const int height = dataset->GetRasterYSize();
    if (width != height || CellGrid::kPixels % (width - 1) != 0) {
        throw std::runtime_error(path + ": " + std::to_string(width) + " x " +
                                 std::to_string(height) +
                                 " posts is not the square post grid of a DTED level");
    }
    const int step = CellGrid::kPixels / (width - 1);
    columns_ = rows_ = width;
    west_ = grid.longitude(0);
    north_ = grid.latitude(0);
    spacingLon_ = grid.longitude(step) - west_;
    spacingLat_ = north_ - grid.latitude(step);

    heights_.resize(static_cast<size_t>(columns_) * rows_);
    grid.setRowsPerRead(64);
    for (int row = 0; row < rows_; ++row) {
        grid.readHeights(row * step, 0, step, columns_,
                         &heights_[static_cast<size_t>(row) * columns_]);
    }
    findHeightRange();
}

void DtedCell::findHeightRange() {
    minHeight_ = std::numeric_limits<double>::infinity();
    maxHeight_ = -std::numeric_limits<double>::infinity();
    for (const float h : heights_) {
        minHeight_ = std::min(minHeight_, static_cast<double>(h));
        maxHeight_ = std::max(maxHeight_, static_cast<double>(h));
    }
}

DtedCell DtedCell::mosaic(const std::vector<std::string>& paths, HeightReference heights) {
    if (paths.empty()) {
        throw std::runtime_error("no DTED cell given");
    }
    std::vector<DtedCell> cells;
    for (const std::string& path : paths) {
        cells.emplace_back(path, heights);
    }
    DtedCell m;
    m.spacingLon_ = cells[0].spacingLon_;
    m.spacingLat_ = cells[0].spacingLat_;
    m.west_ = std::numeric_limits<double>::infinity();
    double south = m.west_, east = -m.west_, north = -m.west_;
    for (size_t i = 0; i < cells.size(); ++i) {
        const DtedCell& c = cells[i];
        // Posts of different spacings cannot share one grid; a thousandth of a post is
        // far below any real difference between DTED levels.
        if (std::abs(c.spacingLon_ - m.spacingLon_) > 1e-3 * m.spacingLon_ ||
            std::abs(c.spacingLat_ - m.spacingLat_) > 1e-3 * m.spacingLat_) {
            throw std::runtime_error(paths[i] + ": its post spacing differs from that of " +
                                     paths[0] + "; cells of one DTED level are needed");
        }
        m.west_ = std::min(m.west_, c.west_);
        south = std::min(south, c.postLatitude(c.rows_ - 1));
        east = std::max(east, c.postLongitude(c.columns_ - 1));
        north = std::max(north, c.north_);
    }
    m.north_ = north;
    m.columns_ = static_cast<int>(std::lround((east - m.west_) / m.spacingLon_)) + 1;
    m.rows_ = static_cast<int>(std::lround((north - south) / m.spacingLat_)) + 1;
    m.heights_.assign(static_cast<size_t>(m.columns_) * m.rows_, 0.0f);
    std::vector<char> covered(m.heights_.size(), 0);
    for (const DtedCell& c : cells) {
        const long column0 = std::lround((c.west_ - m.west_) / m.spacingLon_);
        const long row0 = std::lround((m.north_ - c.north_) / m.spacingLat_);
        for (int row = 0; row < c.rows_; ++row) {
            const size_t to = static_cast<size_t>(row0 + row) * m.columns_ + column0;
            std::copy_n(&c.heights_[static_cast<size_t>(row) * c.columns_], c.columns_,
                        &m.heights_[to]);
            std::fill_n(&covered[to], c.columns_, 1);
        }
    }
    if (std::find(covered.begin(), covered.end(), 0) != covered.end()) {
        std::string names;
        for (const std::string& path : paths) {
            names += (names.empty() ? "" : ", ") + path;
        }
        throw std::runtime_error("the DTED cells " + names +
                                 " do not cover a rectangle: posts between them are missing");
    }
    m.findHeightRange();
    return m;
}

double DtedCell::heightAt(double latitude, double longitude) const {
    // The outermost posts themselves are inside, also when rounding puts them a hair out.
    constexpr double kSlack = 1e-6; // posts
    double column = (longitude - west_) / spacingLon_;
    double row = (north_ - latitude) / spacingLat_;
    if (!(column >= -kSlack && row >= -kSlack && column <= columns_ - 1 + kSlack &&
          row <= rows_ - 1 + kSlack)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    column = std::clamp(column, 0.0, columns_ - 1.0);
    row = std::clamp(row, 0.0, rows_ - 1.0);
    const int c0 = std::min(static_cast<int>(column), columns_ - 2);
    const int r0 = std::min(static_cast<int>(row), rows_ - 2);
    const double fc = column - c0, fr = row - r0;
    const double top = post(c0, r0) + (post(c0 + 1, r0) - post(c0, r0)) * fc;
    const double bottom = post(c0, r0 + 1) + (post(c0 + 1, r0 + 1) - post(c0, r0 + 1)) * fc;
    return top + (bottom - top) * fr;
}

TerrainGround::TerrainGround(std::shared_ptr<const DtedCell> cell, double outsideHeight)
    : cell_(std::move(cell)), outsideHeight_(outsideHeight) {
    const DtedCell& c = *cell_;
    const double midLatitude = c.postLatitude(0.5 * (c.rows() - 1)) * kDegToRad;
    // Post spacing in metres (north-south, east-west) near the middle of the cell; the
    // slopes need not be more exact than that.
    const double metresPerDegree = kWgs84SemiMajorAxis * kDegToRad;
    const double dy = c.spacingLatitude() * metresPerDegree;
    const double dx = c.spacingLongitude() * metresPerDegree * std::cos(midLatitude);
    // Light from the north-west, 45 degrees up; east, north, up components. Flat ground
    // keeps its tint.
    const double sunAzimuth = 315.0 * kDegToRad, sunElevation = 45.0 * kDegToRad;
    const Eigen::Vector3d sun(std::cos(sunElevation) * std::sin(sunAzimuth),
                              std::cos(sunElevation) * std::cos(sunAzimuth),
                              std::sin(sunElevation));
    const double flat = 0.35 + 0.65 * sun.z();
    colours_.resize(static_cast<size_t>(c.columns()) * c.rows());
    for (int row = 0; row < c.rows(); ++row) {
        for (int column = 0; column < c.columns(); ++column) {
            const int w = std::max(column - 1, 0), e = std::min(column + 1, c.columns() - 1);
            const int n = std::max(row - 1, 0), s = std::min(row + 1, c.rows() - 1);
            const double dzdx = (c.post(e, row) - c.post(w, row)) / ((e - w) * dx);
            const double dzdy = (c.post(column, n) - c.post(column, s)) / ((s - n) * dy);
            const Eigen::Vector3d normal = Eigen::Vector3d(-dzdx, -dzdy, 1.0).normalized();
            const double light = 0.35 + 0.65 * std::max(0.0, normal.dot(sun));
            colours_[static_cast<size_t>(row) * c.columns() + column] =
                scaled(heightTint(c.post(column, row)), light / flat);
        }
    }

    // Block (i, j) covers the post intervals from post i * kBlockPosts to (i + 1) *
    // kBlockPosts, both ends included, so every height interpolated inside it is bounded
    // by its posts. The slope of a bilinear patch is bounded by its edges' differences.
    blockColumns_ = (c.columns() - 1 + kBlockPosts - 1) / kBlockPosts;
    blockRows_ = (c.rows() - 1 + kBlockPosts - 1) / kBlockPosts;
    blocks_.resize(static_cast<size_t>(blockColumns_) * blockRows_);
    for (long j = 0; j < blockRows_; ++j) {
        for (long i = 0; i < blockColumns_; ++i) {
            const int c0 = static_cast<int>(i * kBlockPosts);
            const int r0 = static_cast<int>(j * kBlockPosts);
            const int c1 = std::min(c0 + kBlockPosts, c.columns() - 1);
            const int r1 = std::min(r0 + kBlockPosts, c.rows() - 1);
            double highest = -std::numeric_limits<double>::infinity();
            double riseX = 0.0, riseY = 0.0;
            for (int row = r0; row <= r1; ++row) {
                for (int column = c0; column <= c1; ++column) {
                    highest = std::max(highest, static_cast<double>(c.post(column, row)));
                    if (column < c1) {
                        riseX =
                            std::max(riseX, std::abs(static_cast<double>(c.post(column + 1, row) -
                                                                         c.post(column, row))));
                    }
                    if (row < r1) {
                        riseY =
                            std::max(riseY, std::abs(static_cast<double>(c.post(column, row + 1) -
                                                                         c.post(column, row))));
                    }
                }
            }
            blocks_[static_cast<size_t>(j) * blockColumns_ + i] = {
                highest, std::hypot(riseX / dx, riseY / dy)};
        }
    }
    top_ = std::max(c.maxHeight(), outsideHeight_) + 1.0;
    bottom_ = std::min(c.minHeight(), outsideHeight_) - 1.0;
}

TerrainGround::Block TerrainGround::blockAt(long blockColumn, long blockRow) const {
    if (blockColumn >= 0 && blockRow >= 0 && blockColumn < blockColumns_ && blockRow < blockRows_) {
        return blocks_[static_cast<size_t>(blockRow) * blockColumns_ + blockColumn];
    }
    // Outside the cell the ground is flat. The blocks inside reach the outermost posts, so
    // the step between the cell's edge and the flat ground lies on a block boundary: a ray
    // that crosses it lands under the ground and is bisected back to the edge.
    return {outsideHeight_, 0.0};
}

double TerrainGround::heightAt(double latitude, double longitude) const {
    const double h = cell_->heightAt(latitude, longitude);
    return std::isnan(h) ? outsideHeight_ : h;
}

Rgb TerrainGround::colourAt(double latitude, double longitude) const {
    const DtedCell& c = *cell_;
    const double column = (longitude - c.postLongitude(0)) / c.spacingLongitude();
    const double row = (c.postLatitude(0) - latitude) / c.spacingLatitude();
    if (!(column >= 0.0 && row >= 0.0 && column <= c.columns() - 1 && row <= c.rows() - 1)) {
        return kOutsideColour;
    }
    const int c0 = std::min(static_cast<int>(column), c.columns() - 2);
    const int r0 = std::min(static_cast<int>(row), c.rows() - 2);
    const double fc = column - c0, fr = row - r0;
    auto at = [&](int dc, int dr) {
        return colours_[static_cast<size_t>(r0 + dr) * c.columns() + c0 + dc];
    };
    auto mix = [&](uint8_t Rgb::*channel) {
        const double top = at(0, 0).*channel + (at(1, 0).*channel - at(0, 0).*channel) * fc;
        const double bottom = at(0, 1).*channel + (at(1, 1).*channel - at(0, 1).*channel) * fc;
        return static_cast<uint8_t>(top + (bottom - top) * fr + 0.5); // 0 ... 255.5
    };
    return {mix(&Rgb::r), mix(&Rgb::g), mix(&Rgb::b)};
}

std::optional<TerrainGround::Hit> TerrainGround::march(const Eigen::Vector3d& origin,
                                                       const Eigen::Vector3d& unit) const {
    const DtedCell& c = *cell_;
    // The ray can only meet the ground between the surfaces above the highest and below
    // the lowest ground.
    double t = 0.0;
    double end = kMaxRange;
    if (nearSurfaceGeodetic(origin).height > top_) {
        const auto roots = ellipsoidRoots(origin, unit, top_);
        if (!roots || roots->second < 0.0) {
            return std::nullopt;
        }
        t = std::max(0.0, roots->first);
        end = std::min(end, roots->second);
    }
    const auto below = ellipsoidRoots(origin, unit, bottom_);
    if (below && below->first >= 0.0) {
        end = std::min(end, below->first);
    }

    const double e2 = kWgs84EccentricitySq;
    double previous = t, previousGap = 0.0;
    for (int step = 0; step < kMaxSteps && t <= end; ++step) {
        const NearSurface g = nearSurfaceGeodetic(origin + t * unit);
        const double gap = g.height - heightAt(g.latitude, g.longitude);
        if (gap <= 0.0) {
            // Under the ground: the surface lies between the previous step, above it, and
            // this one. Regula falsi (Illinois variant) narrows it down to centimetres.
            double lo = previous, hi = t, gapLo = previousGap, gapHi = gap;
            NearSurface at = g;
            int side = 0;
            for (int i = 0; i < 30 && hi - lo > 0.02 && step > 0; ++i) {
                const double mid = std::clamp(lo + (hi - lo) * gapLo / (gapLo - gapHi), lo, hi);
                at = nearSurfaceGeodetic(origin + mid * unit);
                const double gapMid = at.height - heightAt(at.latitude, at.longitude);
                if (std::abs(gapMid) < 0.01) {
                    hi = mid;
                    break;
                }
                if (gapMid > 0.0) {
                    lo = mid;
                    gapLo = gapMid;
                    gapHi *= side == -1 ? 0.5 : 1.0;
                    side = -1;
                } else {
                    hi = mid;
                    gapHi = gapMid;
                    gapLo *= side == 1 ? 0.5 : 1.0;
                    side = 1;
                }
            }
            if (hi != t) {
                at = nearSurfaceGeodetic(origin + hi * unit);
            }
            return Hit{hi, at.latitude, at.longitude};
        }

        // The ray in the local frame: how fast it descends, and how fast it moves through
        // the post grid (posts per metre along the ray).
        const double sp = g.sinLat, cp = g.cosLat, sl = g.sinLon, cl = g.cosLon;
        const double down = -(unit.x() * cp * cl + unit.y() * cp * sl + unit.z() * sp);
        const double east = -unit.x() * sl + unit.y() * cl;
        const double north = -unit.x() * sp * cl - unit.y() * sp * sl + unit.z() * cp;
        if (down < 0.0 && g.height > top_) {
            return std::nullopt; // rising above everything: it never comes back down
        }
        const double w = std::sqrt(1.0 - e2 * sp * sp);
        const double meridian = kWgs84SemiMajorAxis * kWgs84OneMinusEccentricitySq / (w * w * w);
        const double parallel = kWgs84SemiMajorAxis / w * cp;
        const double columnRate = east / (parallel * kDegToRad * c.spacingLongitude());
        const double rowRate = -north / (meridian * kDegToRad * c.spacingLatitude());

        // Where the ray leaves the current block; outside the cell, where it reaches the
        // cell (linearly extrapolated in post coordinates, so only most of the way, and
        // again from there).
        const double column = (g.longitude - c.postLongitude(0)) / c.spacingLongitude();
        const double row = (c.postLatitude(0) - g.latitude) / c.spacingLatitude();
        const long blockColumn = static_cast<long>(std::floor(column / kBlockPosts));
        const long blockRow = static_cast<long>(std::floor(row / kBlockPosts));
        const bool inside = blockColumn >= 0 && blockRow >= 0 && blockColumn < blockColumns_ &&
                            blockRow < blockRows_;
        double exit;
        if (inside) {
            auto toEdge = [](double position, long block, double rate) {
                if (rate == 0.0) {
                    return std::numeric_limits<double>::infinity();
                }
                const double edge =
                    (rate > 0.0 ? block + 1 : block) * static_cast<double>(kBlockPosts);
                return std::max(0.0, (edge - position) / rate);
            };
            exit =
                std::min(toEdge(column, blockColumn, columnRate), toEdge(row, blockRow, rowRate));
        } else {
            const double entryColumn = slabEntry(column, columnRate, 0.0, c.columns() - 1.0);
            const double entryRow = slabEntry(row, rowRate, 0.0, c.rows() - 1.0);
            const double enter = std::max(entryColumn, entryRow);
            const double leave = std::min(slabExit(column, columnRate, 0.0, c.columns() - 1.0),
                                          slabExit(row, rowRate, 0.0, c.rows() - 1.0));
            exit = (entryColumn >= 0.0 && entryRow >= 0.0 && enter <= leave)
                       ? 0.9 * enter
                       : std::numeric_limits<double>::infinity();
        }
        const Block block = blockAt(blockColumn, blockRow);

        double advance;
        if (g.height > block.maxHeight) {
            // Above everything in this block until the ray leaves it or sinks to its top.
            advance = exit;
            if (down > 0.0) {
                advance = std::min(advance, (g.height - block.maxHeight) / down);
            }
        } else {
            // Within the block's relief: the ground ahead rises at most maxSlope per
            // horizontal metre, the ray sinks `down` per metre.
            const double horizontal = std::sqrt(std::max(0.0, 1.0 - down * down));
            const double closing = std::max(down + horizontal * block.maxSlope, 1e-3);
            advance = std::min(gap / closing, exit);
        }
        previous = t;
        previousGap = gap;
        // A little past a block's edge, so that the next step starts inside the next block.
        t += std::max(kMinStep, advance + 0.5);
    }
    return std::nullopt;
}

std::optional<Eigen::Vector3d> TerrainGround::intersect(const Eigen::Vector3d& origin,
                                                        const Eigen::Vector3d& direction) const {
    const Eigen::Vector3d unit = direction.normalized();
    const auto hit = march(origin, unit);
    if (!hit) {
        return std::nullopt;
    }
    return Eigen::Vector3d(origin + hit->t * unit);
}

void TerrainGround::render(const Camera& camera, RgbImage& image) const {
    const Eigen::Vector3d origin = camera.position;
    // Relief seen obliquely rarely passes the flat-ground test at a quarter pixel; within a
    // pixel the shading is still in place, for half the cost. Ridge lines (occlusion edges)
    // are sampled exactly either way.
    GridSettings grid;
    grid.tolerance = 1.0;
    renderByGrid(
        image, grid, kSkyColour,
        [&](double u, double v) {
            GroundSample s;
            const auto hit = march(origin, pixelRay(camera, u, v).normalized());
            if (hit) {
                s.hit = true;
                s.a = hit->latitude;
                s.b = hit->longitude;
                s.distance = hit->t;
            }
            return s;
        },
        [&](double latitude, double longitude) { return colourAt(latitude, longitude); });
}

} // namespace skyframe
