#include "Ground.h"

#include "camera/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace skyframe {
namespace {

Eigen::Vector3d upAt(double lat, double lon) {
    const double phi = lat * kDegToRad, lambda = lon * kDegToRad;
    return {std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi)};
}

Camera camera(double lat, double lon, double alt, double heading, double azimuth, double elevation,
              double hfov = 30.0, int width = 320, int height = 180) {
    const double fov[2] = {
        hfov, 2.0 * std::atan(std::tan(0.5 * hfov * kDegToRad) * height / width) / kDegToRad};
    const double position[3] = {lat, lon, alt};
    const double sensor[3] = {azimuth, elevation, 0.0};
    const double platform[3] = {heading, 0.0, 0.0};
    Camera c(width, height);
    c.updatePose(fov, position, sensor, platform);
    return c;
}

bool isMagentaLike(const Rgb& c) {
    return c.r > 150 && c.b > 150 && c.g < 100;
}

TEST(IntersectEllipsoid, MeetsTheSurfaceAlongTheNormal) {
    struct Case {
        double lat, lon, from, to, tolerance;
    };
    // The lengthened ellipsoid stands in for the surface at a height: exact at height 0,
    // within millimetres at a few kilometres.
    for (const Case& c : std::vector<Case>{{33.5, -115.9, 1000, 0, 1e-6},
                                           {-60.0, 20.0, 3500, 0, 1e-6},
                                           {33.5, -115.9, 3500, 1300, 5e-3},
                                           {80.0, 100.0, 9000, 3000, 5e-3}}) {
        const Eigen::Vector3d origin = geodeticToEcef(c.lat, c.lon, c.from);
        const auto t = intersectEllipsoid(origin, -upAt(c.lat, c.lon), c.to);
        ASSERT_TRUE(t.has_value());
        EXPECT_NEAR(*t, c.from - c.to, c.tolerance) << c.lat << " " << c.to;
    }
}

TEST(IntersectEllipsoid, MissesWhatItCannotReach) {
    const Eigen::Vector3d origin = geodeticToEcef(33.5, -115.9, 3000.0);
    const Eigen::Vector3d up = upAt(33.5, -115.9);
    EXPECT_FALSE(intersectEllipsoid(origin, up, 0.0).has_value());
    // Horizontal: passes above the horizon, which lies 196 km away and 3 km lower.
    const Eigen::Vector3d east(-std::sin(-115.9 * kDegToRad), std::cos(-115.9 * kDegToRad), 0.0);
    EXPECT_FALSE(intersectEllipsoid(origin, east, 0.0).has_value());
    // Slightly down from the horizontal: meets it far away.
    const auto far = intersectEllipsoid(origin, east - 0.05 * up, 0.0);
    ASSERT_TRUE(far.has_value());
    EXPECT_GT(*far, 10000.0);
    // From below the surface the ray leaves through the far side.
    const auto inside = intersectEllipsoid(geodeticToEcef(33.5, -115.9, -100.0), -up, 0.0);
    ASSERT_TRUE(inside.has_value());
    EXPECT_GT(*inside, 1.2e7);
    EXPECT_FALSE(intersectEllipsoid(origin, Eigen::Vector3d::Zero(), 0.0).has_value());
}

TEST(SurfaceLatLon, IsTheGeodeticPositionOnTheSurface) {
    for (double lat : {-75.0, -10.0, 0.0, 33.5, 89.0}) {
        for (double lon : {-179.0, -115.9, 0.0, 45.0}) {
            const Eigen::Vector2d g = surfaceLatLon(geodeticToEcef(lat, lon, 0.0), 0.0);
            EXPECT_NEAR(g.x(), lat, 1e-12);
            EXPECT_NEAR(g.y(), lon, 1e-12);
            // On the lengthened ellipsoid, within the stand-in's own error (0.1 m is 1e-6
            // degrees).
            const Eigen::Vector2d h = surfaceLatLon(geodeticToEcef(lat, lon, 1300.0), 1300.0);
            EXPECT_NEAR(h.x(), lat, 1e-6);
            EXPECT_NEAR(h.y(), lon, 1e-12);
        }
    }
}

TEST(PixelRay, GoesThroughWhatProjectsOntoThePixel) {
    const Camera c = camera(33.5, -115.9, 3500.0, 40.0, 20.0, -60.0);
    const Eigen::Vector3d centre = pixelRay(c, 160.0, 90.0).normalized();
    EXPECT_NEAR(centre.dot(c.rotation.row(2).transpose()), 1.0, 1e-12);
    const Eigen::Vector3d x = geodeticToEcef(33.49, -115.88, 50.0);
    const Eigen::Vector2d uv = c.projectGeodetic(33.49, -115.88, 50.0);
    const Eigen::Vector3d ray = pixelRay(c, uv.x(), uv.y()).normalized();
    EXPECT_NEAR(ray.dot((x - c.position).normalized()), 1.0, 1e-12);
}

TEST(CheckerboardGround, AlternatesSquaresAndChangesHueEveryTenSquares) {
    const CheckerboardGround g(0.0, 0.001);
    // Square centres inside one block of 10 x 10 squares (33.50..33.51 N, 115.91..115.90 W).
    const Rgb a = g.colourAt(33.5055, -115.9055);
    const Rgb north = g.colourAt(33.5065, -115.9055);
    const Rgb east = g.colourAt(33.5055, -115.9045);
    const Rgb diagonal = g.colourAt(33.5065, -115.9045);
    auto same = [](Rgb x, Rgb y) { return x.r == y.r && x.g == y.g && x.b == y.b; };
    EXPECT_FALSE(same(a, north));
    EXPECT_FALSE(same(a, east));
    EXPECT_TRUE(same(a, diagonal));
    // Ten squares on, the next block: another hue in the same tone; twenty, the same again.
    EXPECT_FALSE(same(a, g.colourAt(33.5055, -115.8955)));
    EXPECT_FALSE(same(a, g.colourAt(33.5155, -115.9055)));
    EXPECT_TRUE(same(a, g.colourAt(33.5255, -115.9055)));
    for (double lat = 33.40; lat < 33.6; lat += 0.0037) {
        for (double lon = -116.0; lon < -115.8; lon += 0.0041) {
            EXPECT_FALSE(isMagentaLike(g.colourAt(lat, lon)));
        }
    }
    EXPECT_THROW(CheckerboardGround(0.0, 0.0), std::invalid_argument);
}

// Every pixel as an exact ray cast would colour it, for comparison with the grid renderer.
RgbImage exactRender(const Camera& c, const CheckerboardGround& g, double height) {
    RgbImage image(static_cast<int>(c.imageWidth), static_cast<int>(c.imageHeight));
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const Eigen::Vector3d ray = pixelRay(c, x + 0.5, y + 0.5);
            const auto t = intersectEllipsoid(c.position, ray, height);
            if (!t) {
                image.set(x, y, kSkyColour);
                continue;
            }
            const Eigen::Vector2d ll = surfaceLatLon(c.position + *t * ray, height);
            image.set(x, y, g.colourAt(ll.x(), ll.y()));
        }
    }
    return image;
}

bool samePixel(const RgbImage& a, int ax, int ay, const RgbImage& b, int bx, int by) {
    const uint8_t* p = a.at(ax, ay);
    const uint8_t* q = b.at(bx, by);
    return p[0] == q[0] && p[1] == q[1] && p[2] == q[2];
}

// Pixels that differ although the exact picture has the same colour all around them: away
// from square edges, where moving an edge by a fraction of a pixel changes nothing.
int differingInteriorPixels(const RgbImage& grid, const RgbImage& exact) {
    int n = 0;
    for (int y = 1; y + 1 < exact.height; ++y) {
        for (int x = 1; x + 1 < exact.width; ++x) {
            bool interior = true;
            for (int dy = -1; dy <= 1 && interior; ++dy) {
                for (int dx = -1; dx <= 1 && interior; ++dx) {
                    interior = samePixel(exact, x, y, exact, x + dx, y + dy);
                }
            }
            n += interior && !samePixel(grid, x, y, exact, x, y);
        }
    }
    return n;
}

TEST(CheckerboardGround, RendersWhatExactRayCastsSee) {
    const CheckerboardGround g(-20.0, 0.001);
    struct View {
        const char* name;
        Camera camera;
    };
    const std::vector<View> views = {
        {"down", camera(33.5, -115.9, 3500.0, 137.0, 0.0, -90.0)},
        {"oblique", camera(33.5, -115.9, 3500.0, 30.0, 40.0, -35.0)},
        {"horizon", camera(33.5, -115.9, 3500.0, 300.0, 0.0, -2.0)},
        // Strong perspective: the mapping bends within a cell of the grid.
        {"wide low", camera(33.5, -115.9, 300.0, 10.0, 0.0, -25.0, 120.0)},
    };
    for (const View& v : views) {
        SCOPED_TRACE(v.name);
        RgbImage grid(320, 180);
        g.render(v.camera, grid);
        const RgbImage exact = exactRender(v.camera, g, -20.0);
        // Interpolation moves square edges by well under a pixel: only edge pixels may
        // differ.
        EXPECT_LE(differingInteriorPixels(grid, exact), 320 * 180 / 2000);
    }
    // The horizon view shows sky at the top and ground at the bottom.
    RgbImage horizon(320, 180);
    g.render(views[2].camera, horizon);
    EXPECT_EQ(horizon.at(160, 0)[2], kSkyColour.b);
    EXPECT_NE(horizon.at(160, 179)[2], kSkyColour.b);
}

TEST(CheckerboardGround, SquareCentresLandWhereTheCameraProjectsThem) {
    const CheckerboardGround g(0.0, 0.001);
    const Camera c = camera(33.5, -115.9, 3500.0, 137.0, 0.0, -90.0);
    RgbImage image(320, 180);
    g.render(c, image);
    int checked = 0;
    for (double lat = 33.4805; lat < 33.52; lat += 0.001) {
        for (double lon = -115.9195; lon < -115.88; lon += 0.001) {
            const Eigen::Vector2d uv = c.projectGeodetic(lat, lon, 0.0);
            const int x = static_cast<int>(std::floor(uv.x()));
            const int y = static_cast<int>(std::floor(uv.y()));
            if (x < 0 || y < 0 || x >= 320 || y >= 180) {
                continue;
            }
            const Rgb expected = g.colourAt(lat, lon);
            const uint8_t* p = image.at(x, y);
            EXPECT_EQ(p[0], expected.r) << lat << " " << lon;
            EXPECT_EQ(p[1], expected.g);
            EXPECT_EQ(p[2], expected.b);
            ++checked;
        }
    }
    EXPECT_GT(checked, 20);
}

TEST(PlainGround, FillsThePictureAndIsMetOnTheEllipsoid) {
    const PlainGround g(-30.0);
    const Camera c = camera(33.5, -115.9, 3500.0, 0.0, 0.0, -2.0);
    RgbImage image(320, 180);
    image.fill({255, 0, 255});
    g.render(c, image);
    for (size_t i = 0; i < image.pixels.size(); i += 3) {
        ASSERT_EQ(image.pixels[i], PlainGround::kColour.r);
        ASSERT_EQ(image.pixels[i + 1], PlainGround::kColour.g);
        ASSERT_EQ(image.pixels[i + 2], PlainGround::kColour.b);
    }
    const auto hit = g.intersect(geodeticToEcef(33.5, -115.9, 1000.0), -upAt(33.5, -115.9));
    ASSERT_TRUE(hit.has_value());
    EXPECT_NEAR(ecefToGeodetic(*hit).z(), -30.0, 1e-3);
}

} // namespace
} // namespace skyframe
