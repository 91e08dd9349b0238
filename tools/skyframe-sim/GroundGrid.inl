// Implementation of renderByGrid (Ground.h); included from there only.

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace skyframe {

namespace gridDetail {

// Whether the exact sample at a cell's centre agrees with the interpolation of its corners:
// within `tolerance` pixels, a pixel being the cell's extent on the ground (the longer
// diagonal) divided by its extent in the picture.
inline bool centreAgrees(const GroundSample& centre, const GroundSample& c00,
                         const GroundSample& c10, const GroundSample& c01, const GroundSample& c11,
                         const GridSettings& grid) {
    if (!centre.hit) {
        return false;
    }
    const double cosLatitude = std::cos(c00.a * 0.017453292519943295);
    auto metres = [&](double da, double db) {
        return grid.metresPerDegree * std::hypot(da, db * cosLatitude);
    };
    const double a = 0.25 * (c00.a + c10.a + c01.a + c11.a);
    const double b = 0.25 * (c00.b + c10.b + c01.b + c11.b);
    const double footprint =
        std::max(metres(c11.a - c00.a, c11.b - c00.b), metres(c10.a - c01.a, c10.b - c01.b));
    const double pixel = footprint / (grid.cell * 1.4142135623730951);
    return metres(centre.a - a, centre.b - b) <= grid.tolerance * pixel;
}

// On a plane seen in perspective the reciprocal of the distance is close to affine across a
// small cell; an occlusion edge breaks that.
inline bool distancesAgree(const GroundSample& c00, const GroundSample& c10,
                           const GroundSample& c01, const GroundSample& c11) {
    const double i00 = 1.0 / c00.distance, i10 = 1.0 / c10.distance;
    const double i01 = 1.0 / c01.distance, i11 = 1.0 / c11.distance;
    const double largest = std::max({i00, i10, i01, i11});
    return std::abs(i00 + i11 - i10 - i01) <= 0.05 * largest;
}

// Calls body(index) for every index in [0, count), shared among the hardware threads (the
// calling thread one of them) in interleaved turns, so that costly and cheap rows (far and
// near ground) are spread evenly.
template <typename Body> void forEachShared(int count, Body body) {
    const int threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
    auto turn = [&](int first) {
        for (int index = first; index < count; index += threads) {
            body(index);
        }
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        helpers.emplace_back(turn, t);
    }
    turn(0);
    for (std::thread& helper : helpers) {
        helper.join();
    }
}

} // namespace gridDetail

template <typename Sample, typename Shade>
void renderByGrid(RgbImage& image, const GridSettings& grid, Rgb sky, Sample sample, Shade shade) {
    const int cell = grid.cell;
    const int nx = (image.width + cell - 1) / cell + 1;
    const int ny = (image.height + cell - 1) / cell + 1;
    // Corners sit at pixel centres, (i * cell + 0.5, j * cell + 0.5); the last row and
    // column may lie outside the picture, which a ray does not mind. Rows of corners, then
    // rows of cells, are shared among threads: every sample is independent and every cell
    // writes its own pixels.
    std::vector<GroundSample> corners(static_cast<size_t>(nx) * ny);
    gridDetail::forEachShared(ny, [&](int j) {
        for (int i = 0; i < nx; ++i) {
            corners[static_cast<size_t>(j) * nx + i] = sample(i * cell + 0.5, j * cell + 0.5);
        }
    });
    const double inv = 1.0 / cell;
    auto fillCell = [&](int i, int j) {
        const GroundSample& c00 = corners[static_cast<size_t>(j) * nx + i];
        const GroundSample& c10 = corners[static_cast<size_t>(j) * nx + i + 1];
        const GroundSample& c01 = corners[static_cast<size_t>(j + 1) * nx + i];
        const GroundSample& c11 = corners[static_cast<size_t>(j + 1) * nx + i + 1];
        const int x0 = i * cell, y0 = j * cell;
        const int x1 = std::min(x0 + cell, image.width);
        const int y1 = std::min(y0 + cell, image.height);
        const bool smooth =
            c00.hit && c10.hit && c01.hit && c11.hit &&
            gridDetail::distancesAgree(c00, c10, c01, c11) &&
            gridDetail::centreAgrees(sample(x0 + 0.5 * cell + 0.5, y0 + 0.5 * cell + 0.5), c00, c10,
                                     c01, c11, grid);
        if (smooth) {
            for (int y = y0; y < y1; ++y) {
                const double fy = (y - y0) * inv;
                const double la = c00.a + (c01.a - c00.a) * fy;
                const double lb = c00.b + (c01.b - c00.b) * fy;
                const double ra = c10.a + (c11.a - c10.a) * fy;
                const double rb = c10.b + (c11.b - c10.b) * fy;
                for (int x = x0; x < x1; ++x) {
                    const double fx = (x - x0) * inv;
                    image.set(x, y, shade(la + (ra - la) * fx, lb + (rb - lb) * fx));
                }
            }
        } else {
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x) {
                    const GroundSample s = sample(x + 0.5, y + 0.5);
                    image.set(x, y, s.hit ? shade(s.a, s.b) : sky);
                }
            }
        }
    };
    gridDetail::forEachShared(ny - 1, [&](int j) {
        for (int i = 0; i + 1 < nx; ++i) {
            fillCell(i, j);
        }
    });
}

} // namespace skyframe
