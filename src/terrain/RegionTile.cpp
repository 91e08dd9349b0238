#include "terrain/RegionTile.h"

#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osg/PrimitiveSet>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <map>

namespace skyframe {

namespace {

// Metres per degree of latitude, near enough to size blocks.
constexpr double kMetresPerDegree = 111320.0;

// i / n for i = 0 ... n.
std::vector<double> fractions(int n) {
    std::vector<double> f;
    for (int i = 0; i <= n; ++i) {
        f.push_back(static_cast<double>(i) / n);
    }
    return f;
}

// What tileError needs of a sample interval of a size, worked out once per size: the
// fractions of the way down (u) and across (v) of its posts, and for each row of posts the
// number of them, from the west, with u + v <= 1, which lie under the north-west triangle.
// Since v grows, they are a run from the west; counting them on the very sum the surface is
// chosen by keeps the choice as it would be post by post.
struct IntervalShape {
    std::vector<double> u, v;
    std::vector<int> western;
};
using IntervalShapes = std::map<std::pair<int, int>, IntervalShape>;

const IntervalShape& intervalShape(int rowSteps, int columnSteps, IntervalShapes& cache) {
    IntervalShape& shape = cache[{rowSteps, columnSteps}];
    if (shape.u.empty()) {
        shape.u = fractions(rowSteps);
        shape.v = fractions(columnSteps);
        for (double u : shape.u) {
            int run = 0;
            while (run <= columnSteps && u + shape.v[static_cast<std::size_t>(run)] <= 1.0) {
                ++run;
            }
            shape.western.push_back(run);
        }
    }
    return shape;
}

// Largest |posts[i] - (base + step * slope)| for i = from ... to - 1, step being v[i] or
// 1 - v[i].
template <bool Complement>
double worstOfRun(const float* posts, const double* v, int from, int to, double base, double slope,
                  double worst) {
    for (int i = from; i < to; ++i) {
        const double step = Complement ? 1.0 - v[i] : v[i];
        worst = std::max(worst, std::abs(posts[i] - (base + step * slope)));
    }
    return worst;
}

// Largest distance between the posts of one sample interval and the two triangles over it.
double intervalError(const PostWindow& band, int ra, int rb, int ca, int cb,
                     IntervalShapes& cache) {
    const double h00 = band.at(ra, ca), h01 = band.at(ra, cb);
    const double h10 = band.at(rb, ca), h11 = band.at(rb, cb);
    const IntervalShape& shape = intervalShape(rb - ra, cb - ca, cache);
    const double* v = shape.v.data();
    const int n = cb - ca + 1;
    double worst = 0.0;
    for (int r = ra; r <= rb; ++r) {
        const auto k = static_cast<std::size_t>(r - ra);
        const double u = shape.u[k];
        // Each interval is cut along its north-east to south-west diagonal.
        const double north = h00 + u * (h10 - h00), south = h11 + (1.0 - u) * (h01 - h11);
        const float* posts = &band.heights[static_cast<std::size_t>(r - band.row0) * band.columns +
                                           (ca - band.column0)];
        worst = worstOfRun<false>(posts, v, 0, shape.western[k], north, h01 - h00, worst);
        worst = worstOfRun<true>(posts, v, shape.western[k], n, south, h10 - h11, worst);
    }
    return worst;
}

// Splits n samples (n - 1 intervals) into `parts` ranges of nearly equal length that share
// their boundary samples: the first sample index of each range, and n - 1 at the end.
std::vector<int> splitSamples(int n, int parts) {
    parts = std::max(1, std::min(parts, n - 1));
    std::vector<int> bounds;
    for (int p = 0; p <= parts; ++p) {
        bounds.push_back(static_cast<int>(static_cast<long long>(p) * (n - 1) / parts));
    }
    return bounds;
}

// The heights of a tile's samples: rows[k] x columns[j] at (k, j).
struct SampleGrid {
    std::vector<int> rows, columns;
    std::vector<float> heights;
    float at(std::size_t k, std::size_t j) const { return heights[k * columns.size() + j]; }
};

// Reads the sample rows one at a time, or the whole span when every row is sampled.
SampleGrid readSamples(const PostSource& posts, std::vector<int> rows, std::vector<int> columns) {
    SampleGrid grid{std::move(rows), std::move(columns), {}};
    const int column0 = grid.columns.front();
    const int width = grid.columns.back() - column0 + 1;
    const int row0 = grid.rows.front();
    const int spanRows = grid.rows.back() - row0 + 1;
    const bool everyRow = spanRows == static_cast<int>(grid.rows.size());
    grid.heights.reserve(grid.rows.size() * grid.columns.size());
    PostWindow window;
    if (everyRow) {
        posts.read(row0, spanRows, column0, width, window);
    }
    for (int r : grid.rows) {
        if (!everyRow) {
            posts.read(r, 1, column0, width, window);
        }
        for (int c : grid.columns) {
            grid.heights.push_back(window.at(r, c));
        }
    }
    return grid;
}

struct BlockGeometry {
    std::vector<Eigen::Vector3d> points;
    std::vector<unsigned> strip;   // the grid, one triangle strip
    std::vector<unsigned> indices; // the skirts, triangles
};

// The grid's rows as one strip, row k's and row k + 1's samples taken in turn: each interval
// is cut along its north-east to south-west diagonal, both triangles wound counter-clockwise
// seen from above. Rows are joined by repeating the last sample of one and the first of the
// next (four triangles of no area; an even count per row keeps the winding). A strip writes
// a third of the indices of separate triangles, and the binary writer writes indices one by
// one.
void addGridStrip(int rows, int columns, std::vector<unsigned>& out) {
    auto index = [columns](int k, int j) { return static_cast<unsigned>(k * columns + j); };
    out.reserve(out.size() + static_cast<std::size_t>(rows - 1) * (2 * columns + 2));
    for (int k = 0; k + 1 < rows; ++k) {
        if (k > 0) {
            out.push_back(out.back());
            out.push_back(index(k, 0));
        }
        for (int j = 0; j < columns; ++j) {
            out.push_back(index(k, j));
            out.push_back(index(k + 1, j));
        }
    }
}

// One wall from a run of edge vertices down to the height `bottom`.
void addSkirt(const CellFrame& frame, const std::vector<int>& rows, const std::vector<int>& columns,
              const std::vector<std::pair<int, int>>& edge, double bottom, BlockGeometry& block) {
    const int nc = static_cast<int>(columns.size());
    const auto first = static_cast<unsigned>(block.points.size());
    for (const auto& [k, j] : edge) {
        const int r = rows[k], c = columns[j];
        block.points.push_back(ecefAt(frame.rows[r], frame.columns[c], bottom));
    }
    for (std::size_t e = 0; e + 1 < edge.size(); ++e) {
        const auto top0 = static_cast<unsigned>(edge[e].first * nc + edge[e].second);
        const auto top1 = static_cast<unsigned>(edge[e + 1].first * nc + edge[e + 1].second);
        const auto bottom0 = first + static_cast<unsigned>(e);
        block.indices.insert(block.indices.end(),
                             {top0, top1, bottom0, top1, bottom0 + 1, bottom0});
    }
}

// The block of the tile's samples from (k0, j0) on, `rows` x `columns` of them.
BlockGeometry blockGeometry(const PostSource& posts, const CellFrame& frame, const SampleGrid& grid,
                            std::size_t k0, std::size_t j0, const std::vector<int>& rows,
                            const std::vector<int>& columns) {
    BlockGeometry block;
    const int nr = static_cast<int>(rows.size()), nc = static_cast<int>(columns.size());
    block.points.reserve(static_cast<std::size_t>(nr) * nc + 2 * (nr + nc)); // grid, skirts
    for (std::size_t k = 0; k < rows.size(); ++k) {
        for (std::size_t j = 0; j < columns.size(); ++j) {
            block.points.push_back(
                ecefAt(frame.rows[rows[k]], frame.columns[columns[j]], grid.at(k0 + k, j0 + j)));
        }
    }
    addGridStrip(nr, nc, block.strip);
    std::vector<std::pair<int, int>> north, south, west, east;
    for (int j = 0; j < nc; ++j) {
        north.emplace_back(0, j);
        south.emplace_back(nr - 1, j);
    }
    for (int k = 0; k < nr; ++k) {
        west.emplace_back(k, 0);
        east.emplace_back(k, nc - 1);
    }
    const int firstColumn = columns.front(), lastColumn = columns.back();
    const int firstRow = rows.front(), lastRow = rows.back();
    addSkirt(frame, rows, columns, north,
             skirtBottom(posts, true, firstRow, firstColumn, lastColumn), block);
    addSkirt(frame, rows, columns, south,
             skirtBottom(posts, true, lastRow, firstColumn, lastColumn), block);
    addSkirt(frame, rows, columns, west, skirtBottom(posts, false, firstColumn, firstRow, lastRow),
             block);
    addSkirt(frame, rows, columns, east, skirtBottom(posts, false, lastColumn, firstRow, lastRow),
             block);
    return block;
}

osg::ref_ptr<osg::PrimitiveSet> elements(GLenum mode, const std::vector<unsigned>& indices,
                                         std::size_t vertices) {
    if (vertices <= 0xFFFF) {
        // Every index fits 16 bits; one pass of the range constructor narrows them all.
        return new osg::DrawElementsUShort(mode, indices.begin(), indices.end());
    }
    return new osg::DrawElementsUInt(mode, indices.begin(), indices.end());
}

// The block's points relative to the centre of their box, rounded to whole metres, as
// floats under a transform to that centre.
osg::ref_ptr<osg::MatrixTransform> blockNode(const BlockGeometry& block) {
    Eigen::Vector3d low = block.points.front(), high = low;
    for (const Eigen::Vector3d& p : block.points) {
        low = low.cwiseMin(p);
        high = high.cwiseMax(p);
    }
    const Eigen::Vector3d origin = ((low + high) / 2.0).array().round().matrix();
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    vertices->reserve(block.points.size());
    for (const Eigen::Vector3d& p : block.points) {
        const Eigen::Vector3d local = p - origin;
        vertices->push_back(osg::Vec3(static_cast<float>(local.x()), static_cast<float>(local.y()),
                                      static_cast<float>(local.z())));
    }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setUseDisplayList(false);
    geometry->setUseVertexBufferObjects(true);
    geometry->setVertexArray(vertices.get());
    geometry->addPrimitiveSet(elements(GL_TRIANGLE_STRIP, block.strip, block.points.size()).get());
    geometry->addPrimitiveSet(elements(GL_TRIANGLES, block.indices, block.points.size()).get());
    osg::ref_ptr<osg::MatrixTransform> transform =
        new osg::MatrixTransform(osg::Matrixd::translate(origin.x(), origin.y(), origin.z()));
    transform->addChild(geometry.get());
    return transform;
}

int blocksAcross(double metres) {
    return std::max(1, static_cast<int>(std::ceil(metres / kBlockMetres)));
}

} // namespace

CellFrame::CellFrame(const CellGeometry& cell) {
    rows.reserve(cell.rows);
    for (int r = 0; r < cell.rows; ++r) {
        rows.emplace_back(cell.latitude(r));
    }
    columns.reserve(cell.columns);
    for (int c = 0; c < cell.columns; ++c) {
        columns.emplace_back(cell.longitude(c));
    }
}

double tileError(const PostSource& posts, const std::vector<int>& rowPosts,
                 const std::vector<int>& columnPosts) {
    bool columnGap = false;
    for (std::size_t j = 0; j + 1 < columnPosts.size(); ++j) {
        columnGap = columnGap || columnPosts[j + 1] - columnPosts[j] > 1;
    }
    const int column0 = columnPosts.front();
    const int width = columnPosts.back() - column0 + 1;
    double worst = 0.0;
    IntervalShapes cache;
    PostWindow band;
    for (std::size_t k = 0; k + 1 < rowPosts.size(); ++k) {
        const int ra = rowPosts[k], rb = rowPosts[k + 1];
        // Intervals one post square have no post between their corners.
        if (rb - ra <= 1 && !columnGap) {
            continue;
        }
        posts.read(ra, rb - ra + 1, column0, width, band);
        for (std::size_t j = 0; j + 1 < columnPosts.size(); ++j) {
            if (rb - ra > 1 || columnPosts[j + 1] - columnPosts[j] > 1) {
                worst = std::max(
                    worst, intervalError(band, ra, rb, columnPosts[j], columnPosts[j + 1], cache));
            }
        }
    }
    return worst;
}

double skirtBottom(const PostSource& posts, bool alongRow, int line, int from, int to) {
    const CellGeometry& cell = posts.geometry();
    const double step = alongRow ? cell.lonStep : cell.latStep;
    const int window = static_cast<int>(std::ceil(kCoarsestInterval / step - 1e-9));
    const int last = (alongRow ? cell.columns : cell.rows) - 1;
    const int first = std::max(0, from - window), end = std::min(last, to + window);
    PostWindow run;
    if (alongRow) {
        posts.read(line, 1, first, end - first + 1, run);
    } else {
        posts.read(first, end - first + 1, line, 1, run);
    }
    double lowest = run.at(alongRow ? line : from, alongRow ? from : line);
    for (int p = first; p <= end; ++p) {
        lowest = std::min<double>(lowest, alongRow ? run.at(line, p) : run.at(p, line));
    }
    return lowest - kSkirtMargin;
}

osg::ref_ptr<osg::Node> buildRegionTile(const PostSource& posts, const CellFrame& frame,
                                        const QuadTile& tile, osg::BoundingSphered* bound) {
    const CellGeometry& cell = posts.geometry();
    const TileSpan& s = tile.span;
    const SampleGrid grid =
        readSamples(posts, samplePosts(s.row0, s.row1), samplePosts(s.column0, s.column1));
    const std::vector<int>& rows = grid.rows;
    const std::vector<int>& columns = grid.columns;
    const double error = tileError(posts, rows, columns);

    const double midLatitude = cell.latitude(0.5 * (s.row0 + s.row1));
    const std::vector<int> rowCuts =
        splitSamples(static_cast<int>(rows.size()),
                     blocksAcross(s.rowIntervals() * cell.latStep * kMetresPerDegree));
    const std::vector<int> columnCuts =
        splitSamples(static_cast<int>(columns.size()),
                     blocksAcross(s.columnIntervals() * cell.lonStep * kMetresPerDegree *
                                  std::cos(midLatitude * kDegToRad)));
    osg::ref_ptr<osg::Group> surface = new osg::Group;
    osg::BoundingSphered sphere;
    for (std::size_t a = 0; a + 1 < rowCuts.size(); ++a) {
        for (std::size_t b = 0; b + 1 < columnCuts.size(); ++b) {
            const std::vector<int> blockRows(rows.begin() + rowCuts[a],
                                             rows.begin() + rowCuts[a + 1] + 1);
            const std::vector<int> blockColumns(columns.begin() + columnCuts[b],
                                                columns.begin() + columnCuts[b + 1] + 1);
            const BlockGeometry block = blockGeometry(posts, frame, grid, rowCuts[a], columnCuts[b],
                                                      blockRows, blockColumns);
            const std::size_t gridPoints = blockRows.size() * blockColumns.size();
            for (std::size_t i = 0; i < gridPoints; ++i) {
                const Eigen::Vector3d& p = block.points[i];
                sphere.expandBy(osg::Vec3d(p.x(), p.y(), p.z()));
            }
            surface->addChild(blockNode(block).get());
        }
    }
    if (bound != nullptr) {
        *bound = sphere;
    }
    osg::ref_ptr<osg::Node> own = surface;
    if (surface->getNumChildren() == 1) {
        own = surface->getChild(0);
    }
    if (isLeaf(s)) {
        return own;
    }
    // Refine once the error would cover more than kPixelTolerance pixels: the error is to the
    // sphere's diameter as its pixels are to the sphere's.
    const double threshold =
        error > 0.0 ? std::min(2.0 * sphere.radius() * kPixelTolerance / error, 1e30) : 1e30;
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    lod->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    lod->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    lod->setCenter(osg::Vec3(sphere.center()));
    lod->setRadius(static_cast<float>(sphere.radius()));
    lod->addChild(own.get(), 0.0f, static_cast<float>(threshold));
    lod->setFileName(1, childrenFileName(tile.id));
    lod->setRange(1, static_cast<float>(threshold), FLT_MAX);
    lod->setNumChildrenThatCannotBeExpired(1);
    return lod;
}

osg::ref_ptr<osg::Node> buildTileFile(const PostSource& posts, const CellFrame& frame,
                                      const TileFile& file, osg::BoundingSphered* bound) {
    if (file.tiles.size() == 1) {
        return buildRegionTile(posts, frame, file.tiles.front(), bound);
    }
    osg::ref_ptr<osg::Group> group = new osg::Group;
    for (const QuadTile& tile : file.tiles) {
        group->addChild(buildRegionTile(posts, frame, tile).get());
    }
    return group;
}

} // namespace skyframe
