// The triangles of a region tile: every post interval of the tile's grid is covered by the
// two triangles cut along its north-east to south-west diagonal, both facing up, whatever
// primitives carry them; the skirts hang down from every edge.

#include "terrain/RegionTile.h"

#include "camera/Geodesy.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/NodeVisitor>
#include <osg/TriangleIndexFunctor>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

namespace skyframe {
namespace {

using Triangle = std::array<osg::Vec3d, 3>;

// Whether two triangles have the same corners (within a millimetre, the tiles' precision)
// in the same winding, whichever corner each is listed from.
bool sameTriangle(const Triangle& a, const Triangle& b) {
    for (int shift = 0; shift < 3; ++shift) {
        bool same = true;
        for (int i = 0; i < 3 && same; ++i) {
            same = (a[i] - b[(i + shift) % 3]).length() < 1e-3;
        }
        if (same) {
            return true;
        }
    }
    return false;
}

struct TriangleCollector {
    const osg::Vec3Array* vertices = nullptr;
    osg::Matrixd toWorld;
    std::vector<Triangle>* out = nullptr;
    void operator()(unsigned a, unsigned b, unsigned c) {
        if (a == b || b == c || a == c) {
            return; // the joins of a strip's rows
        }
        out->push_back({osg::Vec3d((*vertices)[a]) * toWorld, osg::Vec3d((*vertices)[b]) * toWorld,
                        osg::Vec3d((*vertices)[c]) * toWorld});
    }
};

class TriangleVisitor : public osg::NodeVisitor {
public:
    TriangleVisitor() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    std::vector<Triangle> triangles;

    void apply(osg::Geometry& geometry) override {
        osg::TriangleIndexFunctor<TriangleCollector> f;
        f.vertices = dynamic_cast<const osg::Vec3Array*>(geometry.getVertexArray());
        ASSERT_NE(f.vertices, nullptr);
        f.toWorld = osg::computeLocalToWorld(getNodePath());
        f.out = &triangles;
        geometry.accept(f);
    }
};

// A leaf tile of 9 x 7 posts of a level-2 cell (one arc-second), on a tilted plane with a
// bump, heights above the ellipsoid.
CellPosts smallCell() {
    CellPosts cell;
    cell.name = "n33_w116";
    cell.rows = 9;
    cell.columns = 7;
    cell.north = 33.5;
    cell.west = -115.5;
    cell.latStep = cell.lonStep = 1.0 / 3600;
    for (int r = 0; r < cell.rows; ++r) {
        for (int c = 0; c < cell.columns; ++c) {
            cell.heights.push_back(
                static_cast<float>(100.0 + 3.0 * r - 2.0 * c + (r == 4 && c == 3 ? 25.0 : 0.0)));
        }
    }
    return cell;
}

TEST(RegionTile, EveryIntervalIsTwoUpwardTrianglesCutAlongTheSameDiagonal) {
    const CellPosts cell = smallCell();
    const CellFrame frame(cell);
    QuadTile tile;
    tile.span = {0, cell.rows - 1, 0, cell.columns - 1};
    ASSERT_TRUE(isLeaf(tile.span));
    const osg::ref_ptr<osg::Node> node = buildRegionTile(cell, frame, tile);
    TriangleVisitor visitor;
    node->accept(visitor);

    auto post = [&](int r, int c) {
        const Eigen::Vector3d p =
            geodeticToEcef(cell.latitude(r), cell.longitude(c), cell.at(r, c));
        return osg::Vec3d(p.x(), p.y(), p.z());
    };
    std::vector<Triangle> expected;
    for (int r = 0; r + 1 < cell.rows; ++r) {
        for (int c = 0; c + 1 < cell.columns; ++c) {
            // Counter-clockwise seen from above: north-east, north-west, south-west; then
            // north-east, south-west, south-east.
            expected.push_back({post(r, c + 1), post(r, c), post(r + 1, c)});
            expected.push_back({post(r, c + 1), post(r + 1, c), post(r + 1, c + 1)});
        }
    }

    const Eigen::Vector3d upVector =
        geodeticToEcef(33.4989, -115.4992, 1.0) - geodeticToEcef(33.4989, -115.4992, 0.0);
    const osg::Vec3d up(upVector.x(), upVector.y(), upVector.z());
    std::vector<Triangle> surface;
    int walls = 0, down = 0;
    for (const auto& t : visitor.triangles) {
        osg::Vec3d normal = (t[1] - t[0]) ^ (t[2] - t[0]);
        normal.normalize();
        const double facing = normal * up;
        if (facing > 0.5) {
            surface.push_back(t);
        } else if (facing < -0.5) {
            ++down;
        } else {
            ++walls;
        }
    }
    EXPECT_EQ(down, 0);
    EXPECT_EQ(surface.size(), expected.size());
    for (const Triangle& e : expected) {
        const long found = std::count_if(surface.begin(), surface.end(),
                                         [&](const Triangle& t) { return sameTriangle(t, e); });
        EXPECT_EQ(found, 1) << "triangle from " << e[0].x() << " " << e[0].y() << " " << e[0].z();
    }
    // Skirts: two triangles per sample interval along each of the four edges.
    EXPECT_EQ(walls, 2 * 2 * ((cell.rows - 1) + (cell.columns - 1)));
}

// A 9 x 9 grid of one arc-second posts whose heights are `height(row, column)`.
CellPosts gridCell(const std::function<double(int, int)>& height) {
    CellPosts cell;
    cell.rows = cell.columns = 9;
    cell.north = 33.5;
    cell.west = -115.5;
    cell.latStep = cell.lonStep = 1.0 / 3600;
    for (int r = 0; r < cell.rows; ++r) {
        for (int c = 0; c < cell.columns; ++c) {
            cell.heights.push_back(static_cast<float>(height(r, c)));
        }
    }
    return cell;
}

TEST(RegionTile, TheErrorIsTheLargestDistanceOfAPostFromTheSampledTriangles) {
    auto plane = [](int r, int c) { return 100.0 + 3.0 * r - 2.0 * c; };
    const std::vector<int> every2{0, 2, 4, 6, 8}, every4{0, 4, 8};
    struct Case {
        const char* what;
        std::function<double(int, int)> height;
        std::vector<int> posts; // sampled along both axes
        double error;           // metres
    };
    const Case cases[] = {
        {"a plane, whatever the sampling", plane, every4, 0.0},
        // An unsampled post 25 m above the plane that every triangle lies in.
        {"a bump between samples",
         [&](int r, int c) { return plane(r, c) + (r == 3 && c == 5 ? 25.0 : 0.0); }, every2, 25.0},
        // A sampled post 24 m up lifts the triangles that meet it; the posts around it lie
        // half way between it and samples on the plane, 12 m below those triangles.
        {"a bump on a sample",
         [&](int r, int c) { return plane(r, c) + (r == 4 && c == 4 ? 24.0 : 0.0); }, every2, 12.0},
        // Linear interpolation of k x^2 over an interval of s posts is k s^2 / 4 off at
        // its middle: 0.5 * 16 / 4.
        {"a parabola across the columns", [](int, int c) { return 0.5 * c * c; }, every4, 2.0},
        {"a parabola down the rows", [](int r, int) { return 0.5 * r * r; }, every4, 2.0},
        {"every post sampled", [](int r, int c) { return 0.5 * r * r + c * c * c; },
         std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}, 0.0},
    };
    for (const Case& c : cases) {
        const CellPosts cell = gridCell(c.height);
        EXPECT_NEAR(tileError(cell, c.posts, c.posts), c.error, 1e-4) << c.what;
    }
}

} // namespace
} // namespace skyframe
