#include "TerrainGround.h"

#include "camera/Geodesy.h"
#include "camera/Geoid.h"
#include "terrain/SyntheticCell.h"

#include <Eigen/Geometry>
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace skyframe {
namespace {

namespace fs = std::filesystem;

const std::string kCell = SKYFRAME_TESTDATA "/n33_w116_3arc_v2.dt1";

// A one-degree elevation cell written by the test (DTED level 0 spacing, 121 x 121 posts,
// 33-34 N, 116-115 W), as a GeoTIFF so that it can hold a void post. Flat at 10 m but for a
// ridge 400 m high running north-south along column 60, 3 posts wide at its foot.
constexpr int kPosts = 121;
constexpr double kSpacing = 1.0 / (kPosts - 1);
constexpr float kVoid = -32767.0f;
constexpr int kRidge = 60;

float ridgeHeight(int column, int row) {
    if (column == 5 && row == 5) {
        return kVoid;
    }
    const int d = std::abs(column - kRidge);
    return d == 0 ? 410.0f : d == 1 ? 210.0f : 10.0f;
}

class RidgeRaster {
public:
    RidgeRaster() {
        static std::atomic<int> serial{0};
        path_ = (fs::temp_directory_path() / ("skyframe-sim-ridge-" + std::to_string(::getpid()) +
                                              "-" + std::to_string(serial++) + ".tif"))
                    .string();
        GDALAllRegister();
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
        GDALDatasetUniquePtr ds(
            driver->Create(path_.c_str(), kPosts, kPosts, 1, GDT_Float32, nullptr));
        // Posts at pixel centres, as in a DTED cell.
        double gt[6] = {-116.0 - 0.5 * kSpacing, kSpacing, 0.0,
                        34.0 + 0.5 * kSpacing,   0.0,      -kSpacing};
        ds->SetGeoTransform(gt);
        OGRSpatialReference wgs84;
        wgs84.importFromEPSG(4326);
        ds->SetSpatialRef(&wgs84);
        std::vector<float> heights(kPosts * kPosts);
        for (int r = 0; r < kPosts; ++r) {
            for (int c = 0; c < kPosts; ++c) {
                heights[r * kPosts + c] = ridgeHeight(c, r);
            }
        }
        GDALRasterBand* band = ds->GetRasterBand(1);
        band->SetNoDataValue(kVoid);
        if (band->RasterIO(GF_Write, 0, 0, kPosts, kPosts, heights.data(), kPosts, kPosts,
                           GDT_Float32, 0, 0) != CE_None) {
            throw std::runtime_error("cannot write " + path_);
        }
    }
    ~RidgeRaster() {
        std::error_code ec;
        fs::remove(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(DtedCell, ReadsPostsAndInterpolatesBetweenThem) {
    const RidgeRaster raster;
    const DtedCell cell(raster.path(), HeightReference::MeanSeaLevel);
    EXPECT_EQ(cell.columns(), kPosts);
    EXPECT_EQ(cell.rows(), kPosts);
    EXPECT_NEAR(cell.spacingLongitude(), kSpacing, 1e-12);
    EXPECT_NEAR(cell.spacingLatitude(), kSpacing, 1e-12);
    // The north-west post is the cell's whole-degree corner, the centre of the raster's
    // north-west pixel.
    EXPECT_NEAR(cell.postLongitude(0), -116.0, 1e-12);
    EXPECT_NEAR(cell.postLatitude(0), 34.0, 1e-12);
    EXPECT_EQ(cell.post(kRidge, 3), 410.0f);
    // The void post, filled from its neighbours on the flat: as high as they are.
    EXPECT_NEAR(cell.post(5, 5), 10.0f, 1e-3);
    EXPECT_NEAR(cell.minHeight(), 10.0, 1e-3);
    EXPECT_EQ(cell.maxHeight(), 410.0);
    auto at = [&](double column, double row) {
        return cell.heightAt(cell.postLatitude(row), cell.postLongitude(column));
    };
    EXPECT_NEAR(at(kRidge, 3), 410.0, 1e-6);
    EXPECT_NEAR(at(kRidge - 0.5, 3), 310.0, 1e-6);
    EXPECT_NEAR(at(kRidge + 1.25, 3.5), 160.0, 1e-6);
    EXPECT_NEAR(at(kPosts - 1, kPosts - 1), 10.0, 1e-6);
    EXPECT_NEAR(at(0, 0), 10.0, 1e-6);
    EXPECT_TRUE(std::isnan(at(3, -0.1)));
    EXPECT_TRUE(std::isnan(at(kPosts - 0.9, 3)));
}

TEST(DtedCell, RefusesWhatItCannotRead) {
    for (const std::string& path : {std::string("/nonexistent/n33_w116.dt1"),
                                    std::string(SKYFRAME_SOURCE_DIR "/data/mission.xml")}) {
        try {
            DtedCell cell(path);
            FAIL() << "no exception for " << path;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
}

TEST(DtedCell, ReadsTheHeightsOfTheSaltonSeaCell) {
    if (!fs::exists(kCell)) {
        GTEST_SKIP() << "DTED cell not found: " << kCell;
    }
    const DtedCell stored(kCell, HeightReference::MeanSeaLevel);
    const DtedCell ellipsoid(kCell);
    for (const DtedCell* cell : {&stored, &ellipsoid}) {
        EXPECT_EQ(cell->columns(), 1201);
        EXPECT_EQ(cell->rows(), 1201);
    }
    EXPECT_EQ(stored.minHeight(), -87.0);
    EXPECT_EQ(stored.maxHeight(), 1619.0);
    // The corners and the middle of the cell, at the posts' positions: whole arc-seconds.
    struct Known {
        int row, column;
        double height; // metres above mean sea level
    };
    for (const Known& k : std::vector<Known>{
             {1200, 0, 297}, {0, 0, 1361}, {1200, 1200, 158}, {0, 1200, 371}, {600, 600, 686}}) {
        const double latitude = 34.0 - k.row * 3.0 / 3600,
                     longitude = -116.0 + k.column * 3.0 / 3600;
        EXPECT_NEAR(stored.postLatitude(k.row), latitude, 1e-9);
        EXPECT_NEAR(stored.postLongitude(k.column), longitude, 1e-9);
        EXPECT_NEAR(stored.heightAt(latitude, longitude), k.height, 1e-6)
            << k.row << " " << k.column;
        // By default above the ellipsoid, as the tiler writes the tiles (float heights).
        EXPECT_NEAR(ellipsoid.heightAt(latitude, longitude),
                    k.height + geoidHeightEgm96(latitude, longitude), 1e-3)
            << k.row << " " << k.column;
    }
}

// A plane over a block of cells: a height linear in latitude and longitude, in whole
// metres at every post of level 0 (posts every 1/120 degree), so that the block's posts and
// the bilinear heights between them, across the cells' shared edges too, are known exactly.
double planeHeight(double latitude, double longitude) {
    return 100.0 + 7.0 * (longitude + 116.0) * 120.0 + 3.0 * (34.5 - latitude) * 120.0;
}

std::string planeCell(const fs::path& dir, int south, int west, int posts = kPosts) {
    const fs::path path = dir / ("plane_" + std::to_string(south) + "_" + std::to_string(west) +
                                 "_" + std::to_string(posts) + ".dt0");
    makeDtedCell(path.string(), south, west, posts, [&](int row, int column) {
        const double step = 1.0 / (posts - 1);
        return std::round(planeHeight(south + 1 - row * step, west + column * step));
    });
    return path.string();
}

TEST(DtedCell, AMosaicOfAdjacentCellsIsOneSurface) {
    const fs::path dir =
        fs::temp_directory_path() / ("skyframe-sim-mosaic-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // West, east, and the east cell's northern neighbour's block: 2 x 2 with the fourth.
    const std::vector<std::string> cells = {planeCell(dir, 33, -115), planeCell(dir, 34, -116),
                                            planeCell(dir, 33, -116), planeCell(dir, 34, -115)};
    const DtedCell wide = DtedCell::mosaic({cells[2], cells[0]}, HeightReference::MeanSeaLevel);
    EXPECT_EQ(wide.columns(), 2 * kPosts - 1);
    EXPECT_EQ(wide.rows(), kPosts);
    EXPECT_NEAR(wide.postLongitude(0), -116.0, 1e-9);
    EXPECT_NEAR(wide.postLatitude(0), 34.0, 1e-9);
    const DtedCell block = DtedCell::mosaic(cells, HeightReference::MeanSeaLevel);
    EXPECT_EQ(block.columns(), 2 * kPosts - 1);
    EXPECT_EQ(block.rows(), 2 * kPosts - 1);
    EXPECT_NEAR(block.postLatitude(0), 35.0, 1e-9);
    EXPECT_NEAR(block.minHeight(), planeHeight(35.0, -116.0), 1e-9);
    EXPECT_NEAR(block.maxHeight(), planeHeight(33.0, -114.0), 1e-9);
    // Between posts, on both sides of and across the inner edges (34 N, 115 W).
    struct Place {
        double latitude, longitude;
    };
    for (const Place& p : std::vector<Place>{{33.5, -115.5},
                                             {34.002, -115.003},
                                             {33.997, -114.996},
                                             {34.0, -115.0},
                                             {34.6, -114.3},
                                             {33.0, -114.0}}) {
        EXPECT_NEAR(block.heightAt(p.latitude, p.longitude), planeHeight(p.latitude, p.longitude),
                    1e-6)
            << p.latitude << " " << p.longitude;
    }
    EXPECT_NEAR(wide.heightAt(33.9995, -115.0004), planeHeight(33.9995, -115.0004), 1e-6);
    EXPECT_TRUE(std::isnan(wide.heightAt(34.001, -115.0)));

    // Cells that leave a gap, and cells of two levels, are refused.
    auto refusal = [](const std::vector<std::string>& paths) {
        try {
            DtedCell::mosaic(paths, HeightReference::MeanSeaLevel);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(refusal({cells[2], cells[3]}).find("rectangle"), std::string::npos);
    const std::string fine = planeCell(dir, 33, -114, 1201);
    const std::string mixed = refusal({cells[0], fine});
    EXPECT_NE(mixed.find(fine + ": its post spacing"), std::string::npos) << mixed;
    fs::remove_all(dir);
}

Eigen::Vector3d upAt(double lat, double lon) {
    const double phi = lat * kDegToRad, lambda = lon * kDegToRad;
    return {std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi)};
}

// The first ground contact by brute force: half-metre steps with the exact geodetic
// conversion, then bisection.
std::optional<double> bruteForceHit(const TerrainGround& g, const Eigen::Vector3d& origin,
                                    const Eigen::Vector3d& unit, double range) {
    auto above = [&](double t) {
        const Eigen::Vector3d p = ecefToGeodetic(origin + t * unit);
        return p.z() > g.heightAt(p.x(), p.y());
    };
    for (double t = 0.0; t < range; t += 0.5) {
        if (!above(t)) {
            double lo = t - 0.5, hi = t;
            for (int i = 0; i < 30; ++i) {
                const double mid = 0.5 * (lo + hi);
                (above(mid) ? lo : hi) = mid;
            }
            return hi;
        }
    }
    return std::nullopt;
}

TEST(TerrainGround, FindsTheSameGroundAsABruteForceSearch) {
    const RidgeRaster raster;
    const auto cell = std::make_shared<DtedCell>(raster.path(), HeightReference::MeanSeaLevel);
    const TerrainGround ground(cell, -50.0);
    const double lat = cell->postLatitude(60), lon = cell->postLongitude(kRidge - 3);
    const Eigen::Vector3d origin = geodeticToEcef(lat, lon, 1500.0);
    const Eigen::Vector3d up = upAt(lat, lon);
    const Eigen::Vector3d east(-std::sin(lon * kDegToRad), std::cos(lon * kDegToRad), 0.0);
    const Eigen::Vector3d north = up.cross(east);
    struct Ray {
        const char* name;
        Eigen::Vector3d direction;
    };
    // The ridge's crest lies 2.3 km east, its foot 1.5 km: rays toward it land on the flat
    // before it, on its foot, on its face, on its crest, over the crest on its far side, far
    // beyond it, or leave the cell and land on the flat outside.
    const std::vector<Ray> rays = {
        {"straight down", -up},
        {"on the flat before the ridge", east - 2.5 * up},
        {"onto the foot of the ridge", east - 1.2 * up},
        {"onto the ridge face", east - 0.55 * up},
        {"onto the crest", east - 0.48 * up},
        {"over the crest onto its far side", east - 0.465 * up + 0.2 * north},
        {"far beyond the ridge", east - 0.05 * up},
        {"west, out of the cell", -east - 0.03 * up},
    };
    for (const Ray& r : rays) {
        SCOPED_TRACE(r.name);
        const Eigen::Vector3d unit = r.direction.normalized();
        const auto expected = bruteForceHit(ground, origin, unit, 80000.0);
        const auto hit = ground.intersect(origin, unit);
        ASSERT_EQ(hit.has_value(), expected.has_value());
        if (hit) {
            EXPECT_NEAR((*hit - origin).norm(), *expected, 0.05);
            const Eigen::Vector3d g = ecefToGeodetic(*hit);
            EXPECT_NEAR(g.z(), ground.heightAt(g.x(), g.y()), 0.05);
        }
    }
    EXPECT_FALSE(ground.intersect(origin, up + 0.1 * east).has_value());
    EXPECT_FALSE(ground.intersect(origin, east).has_value());
}

TEST(TerrainGround, OutsideTheCellTheGroundIsFlatAndGrey) {
    const RidgeRaster raster;
    const auto cell = std::make_shared<DtedCell>(raster.path(), HeightReference::MeanSeaLevel);
    const TerrainGround ground(cell, -50.0);
    const double lat = 32.5, lon = -115.7;
    const auto hit = ground.intersect(geodeticToEcef(lat, lon, 2000.0), -upAt(lat, lon));
    ASSERT_TRUE(hit.has_value());
    EXPECT_NEAR(ecefToGeodetic(*hit).z(), -50.0, 0.05);
    const Rgb grey = ground.colourAt(lat, lon);
    EXPECT_EQ(grey.r, grey.g + 0);
    // Inside, the slopes are lit from the north-west: the west face brighter than the east.
    const Rgb westFace = ground.colourAt(cell->postLatitude(60), cell->postLongitude(kRidge - 0.5));
    const Rgb eastFace = ground.colourAt(cell->postLatitude(60), cell->postLongitude(kRidge + 0.5));
    EXPECT_GT(westFace.r + westFace.g + westFace.b, eastFace.r + eastFace.g + eastFace.b);
}

// Every pixel by an exact ray cast, for comparison with the grid renderer.
RgbImage exactRender(const Camera& c, const TerrainGround& g) {
    RgbImage image(static_cast<int>(c.imageWidth), static_cast<int>(c.imageHeight));
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const auto hit = g.intersect(c.position, pixelRay(c, x + 0.5, y + 0.5));
            if (!hit) {
                image.set(x, y, kSkyColour);
                continue;
            }
            const Eigen::Vector3d p = ecefToGeodetic(*hit);
            image.set(x, y, g.colourAt(p.x(), p.y()));
        }
    }
    return image;
}

TEST(TerrainGround, RendersWhatExactRayCastsSeeAlsoWhereTheRidgeHidesTheGround) {
    const RidgeRaster raster;
    const auto cell = std::make_shared<DtedCell>(raster.path(), HeightReference::MeanSeaLevel);
    const TerrainGround ground(cell, -50.0);
    // Low, looking east across the ridge: its crest hides the ground behind it.
    const double fov[2] = {60.0,
                           2.0 * std::atan(std::tan(30.0 * kDegToRad) * 90.0 / 160.0) / kDegToRad};
    const double position[3] = {cell->postLatitude(60), cell->postLongitude(kRidge - 5), 300.0};
    const double sensor[3] = {0.0, -4.0, 0.0};
    const double platform[3] = {90.0, 0.0, 0.0};
    Camera c(160, 90);
    c.updatePose(fov, position, sensor, platform);
    RgbImage grid(160, 90);
    ground.render(c, grid);
    const RgbImage exact = exactRender(c, ground);
    int differing = 0, bigDifferences = 0;
    for (size_t i = 0; i < grid.pixels.size(); i += 3) {
        int d = 0;
        for (int k = 0; k < 3; ++k) {
            d = std::max(d, std::abs(grid.pixels[i + k] - exact.pixels[i + k]));
        }
        differing += d > 2;
        bigDifferences += d > 40;
    }
    // Shading is smooth, so interpolation changes colours by a level or two; a hidden part
    // drawn as if seen would change them by far more.
    EXPECT_LE(differing, 160 * 90 / 50);
    EXPECT_LE(bigDifferences, 160 * 90 / 500);
}

} // namespace
} // namespace skyframe
