// A region tree over a 2 x 2 block of cells of two DTED levels, written by skyframe-tiler and
// read back as the viewer's pager reads it.

#include "RegionTreeWalk.h"
#include "TerrainFixtures.h"

#include "camera/Geodesy.h"
#include "camera/Geoid.h"
#include "terrain/DtedRaster.h"
#include "terrain/SyntheticCell.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

namespace skyframe {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// Rolling relief with features a few kilometres across, so that coarse tiles differ from the
// posts and neighbouring tiles of different levels meet at different heights. A function of
// position alone: neighbouring cells' edge posts get the same heights.
double rolling(double latitude, double longitude) {
    const double twoPi = 6.283185307179586;
    return 400.0 + 250.0 * std::sin(twoPi * 12.0 * latitude) * std::cos(twoPi * 9.0 * longitude) +
           60.0 * std::sin(twoPi * 55.0 * (latitude + longitude));
}

struct BlockCell {
    const char* file;
    int south, west, posts;
};
// Level 2 in the north-west, level 1 elsewhere: one edge between levels 1 and 2 runs north to
// south, one east to west, and two edges join level-1 cells.
constexpr BlockCell kBlock[] = {{"n34w116.dt2", 34, -116, 3601},
                                {"n34w115.dt1", 34, -115, 1201},
                                {"n33w116.dt1", 33, -116, 1201},
                                {"n33w115.dt1", 33, -115, 1201}};

std::string blockFolder() {
    const fs::path folder =
        fs::path(SKYFRAME_BINARY_DIR) / "tests" / "terrain" / "fixtures-v1" / "block";
    fs::create_directories(folder);
    for (const BlockCell& c : kBlock) {
        const fs::path path = folder / c.file;
        if (!fs::exists(path)) {
            const double spacing = 1.0 / (c.posts - 1);
            makeDtedCell(path.string(), c.south, c.west, c.posts, [&](int row, int column) {
                return rolling(c.south + 1 - row * spacing, c.west + column * spacing);
            });
        }
    }
    return folder.string();
}

// A cell's posts as GDAL reads them, with the positions of their pixel centres.
struct Posts {
    int rows = 0, columns = 0;
    double north = 0, west = 0, latStep = 0, lonStep = 0;
    std::vector<float> heights;
};

Posts readPosts(const std::string& path) {
    GDALDatasetUniquePtr d = openDted(path);
    Posts p;
    p.columns = d->GetRasterXSize();
    p.rows = d->GetRasterYSize();
    double g[6];
    d->GetGeoTransform(g);
    p.west = g[0] + g[1] / 2;
    p.north = g[3] + g[5] / 2;
    p.lonStep = g[1];
    p.latStep = -g[5];
    p.heights.resize(static_cast<std::size_t>(p.rows) * p.columns);
    EXPECT_EQ(d->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, p.columns, p.rows, p.heights.data(),
                                            p.columns, p.rows, GDT_Float32, 0, 0, nullptr),
              CE_None);
    return p;
}

class RegionTree : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        out_ = std::make_unique<TempFolder>();
        const std::string command = std::string(SKYFRAME_TILER) + " region " + out_->path() +
                                    "/tree " + blockFolder() + " -q 2>" + out_->path() + "/err";
        status_ = std::system(command.c_str());
    }
    static void TearDownTestSuite() { out_.reset(); }
    void SetUp() override { ASSERT_EQ(status_, 0) << testing::readText(out_->path() + "/err"); }
    static std::string tree() { return out_->path() + "/tree"; }

    static std::unique_ptr<TempFolder> out_;
    static int status_;
};
std::unique_ptr<TempFolder> RegionTree::out_;
int RegionTree::status_ = -1;

TEST_F(RegionTree, EveryFileOfTheManifestIsPagedInAndIntact) {
    std::vector<std::string> comments;
    const auto manifest = testing::readManifest(tree() + "/terrain.manifest", &comments);
    EXPECT_EQ(
        testing::readText(tree() + "/terrain.manifest").rfind("skyframe terrain manifest 1\n", 0),
        0u);
    EXPECT_EQ(comments.size(), 4u);
    const testing::TreeWalk walk = testing::walkRegionTree(tree() + "/terrain.osgb", {}, false);
    EXPECT_TRUE(walk.unreadable.empty()) << walk.unreadable.front();
    std::set<std::string> read;
    for (const std::string& path : walk.filesRead) {
        read.insert(fs::relative(path, tree()).generic_string());
    }
    EXPECT_EQ(read.size(), walk.filesRead.size()) << "a file is paged in from two places";
    std::set<std::string> listed;
    for (const auto& [path, entry] : manifest) {
        listed.insert(path);
        EXPECT_EQ(fs::file_size(tree() + "/" + path), entry.first) << path;
        EXPECT_EQ(testing::fileCrc(tree() + "/" + path), entry.second) << path;
    }
    EXPECT_EQ(read, listed);
    std::set<std::string> cells;
    for (const std::string& path : read) {
        cells.insert(path.substr(0, path.find('/')));
    }
    EXPECT_EQ(cells, (std::set<std::string>{"n33_w115", "n33_w116", "n34_w115", "n34_w116",
                                            "terrain.osgb"}));
}

bool onSharedEdge(const osg::Vec3d& p) {
    const Eigen::Vector3d g = ecefToGeodetic(Eigen::Vector3d(p.x(), p.y(), p.z()));
    return std::abs(g.x() - 34.0) < 1e-7 || std::abs(g.y() + 115.0) < 1e-7;
}

// The tiles of every level that touch the block's inner edges, and all of levels 0 to 2.
const testing::TreeWalk& edgeWalk(const std::string& tree) {
    static const testing::TreeWalk walk = testing::walkRegionTree(
        tree + "/terrain.osgb",
        [](const testing::WalkedTile& tile) {
            if (tile.level < 2) {
                return true;
            }
            for (const osg::Vec3d& p : tile.points) {
                if (onSharedEdge(p)) {
                    return true;
                }
            }
            return false;
        },
        true);
    return walk;
}

TEST_F(RegionTree, VerticesLieOnThePostsAboveTheEllipsoid) {
    std::map<std::string, Posts> posts;
    for (const BlockCell& c : kBlock) {
        char name[32];
        std::snprintf(name, sizeof name, "n%02d_w%03d", c.south, -c.west);
        posts[name] = readPosts(blockFolder() + "/" + c.file);
    }
    const testing::TreeWalk& walk = edgeWalk(tree());
    std::map<int, int> checked, skirts;
    for (const testing::WalkedTile& tile : walk.tiles) {
        const Posts& p = posts.at(tile.cell);
        const std::size_t stride = tile.level <= 2 ? 1 : 13;
        for (std::size_t i = 0; i < tile.points.size(); i += stride) {
            const Eigen::Vector3d point(tile.points[i].x(), tile.points[i].y(), tile.points[i].z());
            const Eigen::Vector3d g = ecefToGeodetic(point);
            const int row = static_cast<int>(std::lround((p.north - g.x()) / p.latStep));
            const int column = static_cast<int>(std::lround((g.y() - p.west) / p.lonStep));
            ASSERT_TRUE(row >= 0 && row < p.rows && column >= 0 && column < p.columns);
            const double lat = p.north - row * p.latStep, lon = p.west + column * p.lonStep;
            const double height = p.heights[static_cast<std::size_t>(row) * p.columns + column] +
                                  geoidHeightEgm96(lat, lon);
            const double onPost = (point - geodeticToEcef(lat, lon, height)).norm();
            if (onPost <= 0.001) {
                ++checked[tile.level];
                continue;
            }
            // Otherwise a skirt vertex: straight below the post.
            EXPECT_LE((point - geodeticToEcef(lat, lon, g.z())).norm(), 0.001)
                << tile.cell << " level " << tile.level << " vertex " << i;
            EXPECT_LT(g.z(), height - 0.5) << tile.cell << " level " << tile.level;
            ++skirts[tile.level];
        }
    }
    for (int level = 0; level <= 6; ++level) {
        EXPECT_GT(checked[level], 0) << "level " << level;
        EXPECT_GT(skirts[level], 0) << "level " << level;
    }
}

// Along one side of a shared edge, at one level: latitude or longitude along the edge ->
// (surface height, lowest skirt height).
using EdgeProfile = std::map<double, std::pair<double, double>>;

std::pair<double, double> profileAt(const EdgeProfile& profile, double x) {
    auto above = profile.lower_bound(x);
    if (above == profile.end()) {
        --above;
    }
    if (above == profile.begin() || above->first == x) {
        return above->second;
    }
    auto below = std::prev(above);
    const double f = (x - below->first) / (above->first - below->first);
    return {below->second.first + f * (above->second.first - below->second.first),
            below->second.second + f * (above->second.second - below->second.second)};
}

TEST_F(RegionTree, NoCrackAlongACellEdgeAtAnyPairOfLevels) {
    // The block's inner edges: on the meridian -115 or the parallel 34, between two cells.
    struct Edge {
        const char* name;
        bool meridian;
        double from, to; // along the edge, degrees
        std::set<std::string> cells;
    };
    const Edge inner[] = {{"lon -115 north", true, 34, 35, {"n34_w116", "n34_w115"}},
                          {"lon -115 south", true, 33, 34, {"n33_w116", "n33_w115"}},
                          {"lat 34 west", false, -116, -115, {"n33_w116", "n34_w116"}},
                          {"lat 34 east", false, -115, -114, {"n33_w115", "n34_w115"}}};
    // [edge][cell][level]
    std::map<std::string, std::map<std::string, std::map<int, EdgeProfile>>> edges;
    for (const testing::WalkedTile& tile : edgeWalk(tree()).tiles) {
        for (const osg::Vec3d& p : tile.points) {
            const Eigen::Vector3d g = ecefToGeodetic(Eigen::Vector3d(p.x(), p.y(), p.z()));
            for (const Edge& e : inner) {
                const double across = e.meridian ? g.y() + 115.0 : g.x() - 34.0;
                const double along = e.meridian ? g.x() : g.y();
                if (std::abs(across) > 1e-7 || along < e.from - 1e-7 || along > e.to + 1e-7 ||
                    e.cells.count(tile.cell) == 0) {
                    continue;
                }
                const double key = std::round(along * 3600.0 * 1000.0) / 1000.0; // arc-seconds
                auto [it, fresh] =
                    edges[e.name][tile.cell][tile.level].emplace(key, std::make_pair(g.z(), g.z()));
                it->second.first = std::max(it->second.first, g.z());
                it->second.second = std::min(it->second.second, g.z());
            }
        }
    }
    ASSERT_EQ(edges.size(), 4u);
    int pairs = 0;
    for (const auto& [edge, cells] : edges) {
        ASSERT_EQ(cells.size(), 2u) << edge;
        const auto& a = cells.begin()->second;
        const auto& b = std::next(cells.begin())->second;
        for (const auto& [levelA, profileA] : a) {
            for (const auto& [levelB, profileB] : b) {
                ++pairs;
                std::set<double> xs;
                for (const auto* profile : {&profileA, &profileB}) {
                    for (const auto& point : *profile) {
                        xs.insert(point.first);
                    }
                }
                double worst = -1e9, where = 0;
                for (double x : xs) {
                    const auto [surfaceA, skirtA] = profileAt(profileA, x);
                    const auto [surfaceB, skirtB] = profileAt(profileB, x);
                    // The higher side's skirt must reach down to the lower side's surface.
                    const double gap = surfaceA >= surfaceB ? skirtA - surfaceB : skirtB - surfaceA;
                    if (gap > worst) {
                        worst = gap;
                        where = x;
                    }
                }
                EXPECT_LE(worst, 0.001) << edge << ", levels " << levelA << " and " << levelB
                                        << ", at " << where << " arc-seconds";
            }
        }
    }
    EXPECT_GE(pairs, 4 * 36); // levels 0-5 of level-1 cells, 0-6 of the level-2 cell
}

} // namespace
} // namespace skyframe
