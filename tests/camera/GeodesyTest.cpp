#include "camera/Geodesy.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace skyframe {
namespace {

struct EcefCase {
    double lat, lon, h;
    double x, y, z;
};

// Reference values: WGS84 with N = a / sqrt(1 - e^2 sin^2(phi)), as published by standard
// geodesy libraries (GeographicLib's Geocentric, PROJ's cart); millimetre tolerance.
TEST(GeodeticToEcef, MatchesReferenceValues) {
    const std::vector<EcefCase> cases = {
        {0, 0, 0, 6378137.0, 0, 0},
        {90, 0, 0, 0, 0, 6356752.314},
        {-90, 0, 0, 0, 0, -6356752.314},
        {30, 0, 0, 5528256.639, 0, 3170373.735},
        {-30, 0, 0, 5528256.639, 0, -3170373.735},
        {10, 20, 1000, 5903954.959, 2148863.870, 1100422.196},
        {0, 90, 0, 0, 6378137.0, 0},
        {0, 180, 100, -6378237.0, 0, 0},
    };
    for (const auto& c : cases) {
        const Eigen::Vector3d p = geodeticToEcef(c.lat, c.lon, c.h);
        SCOPED_TRACE(testing::Message() << "lat " << c.lat << " lon " << c.lon << " h " << c.h);
        EXPECT_NEAR(p.x(), c.x, 1e-3);
        EXPECT_NEAR(p.y(), c.y, 1e-3);
        EXPECT_NEAR(p.z(), c.z, 1e-3);
    }
}

// Independent inverse (Bowring's iteration) must give back the geodetic input: catches a
// wrong radius of curvature anywhere off the equator, in either hemisphere.
TEST(GeodeticToEcef, InvertsThroughIndependentSolution) {
    const double a = 6378137.0;
    const double f = 1.0 / 298.257223563;
    const double b = a * (1.0 - f);
    const double e2 = f * (2.0 - f);
    const double ep2 = e2 / (1.0 - e2);
    for (double lat = -89.0; lat <= 89.0; lat += 11.0) {
        for (double lon = -170.0; lon <= 170.0; lon += 37.0) {
            for (double h : {-400.0, 0.0, 1300.0, 9000.0}) {
                const Eigen::Vector3d p = geodeticToEcef(lat, lon, h);
                const double rho = std::hypot(p.x(), p.y());
                double beta = std::atan2(p.z(), (1.0 - f) * rho);
                double phi = 0.0;
                for (int i = 0; i < 10; ++i) {
                    phi = std::atan2(p.z() + b * ep2 * std::pow(std::sin(beta), 3),
                                     rho - a * e2 * std::pow(std::cos(beta), 3));
                    beta = std::atan2((1.0 - f) * std::sin(phi), std::cos(phi));
                }
                const double n = a / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
                const double height = rho / std::cos(phi) - n;
                const double deg = 180.0 / M_PI;
                EXPECT_NEAR(phi * deg, lat, 1e-9) << lat << " " << lon << " " << h;
                EXPECT_NEAR(std::atan2(p.y(), p.x()) * deg, lon, 1e-9);
                EXPECT_NEAR(height, h, 1e-4);
            }
        }
    }
}

// Reference pairs: the worked example of EPSG Guidance Note 7-2 (geographic/geocentric
// conversion, WGS84: 53 48 33.820 N, 2 07 46.380 E, 73 m), and points converted forward
// with the closed-form WGS84 formulas in 40-digit decimal arithmetic. They cover both
// hemispheres, west longitudes, the date line, the poles, heights below the ellipsoid and
// far above it.
TEST(EcefToGeodetic, MatchesReferenceValues) {
    const double epsgLat = 53.0 + 48.0 / 60.0 + 33.820 / 3600.0;
    const double epsgLon = 2.0 + 7.0 / 60.0 + 46.380 / 3600.0;
    const std::vector<EcefCase> cases = {
        {epsgLat, epsgLon, 73.0, 3771793.968, 140253.342, 5124304.349},
        {33.5, -115.75, 2286, -2313844.944560, -4797097.061393, 3501596.015971},
        {-33.8688, 151.2093, 58, -4646093.477288, 2553229.535817, -3534404.710910},
        {-89.999, -179.5, -100, -111.687981326, -0.974686247, -6356652.313270481},
        {60.18, 128.43, 15000, -1981017.541645, 2496735.449819, 5523490.958457},
        {0.0001, -0.0001, -950, 6377186.999981, -11.130291, 11.055770},
        {-45, -90, 0, 0.0, -4517590.878849, -4487348.408866},
        {33.0, -116.0, -70, -2347221.517352, -4812517.294064, 3453920.516445},
        {0, 0, 1000, 6379137.0, 0, 0},
        {90, 0, 0, 0, 0, 6356752.314245},
        {-90, 0, 35786000, 0, 0, -6356752.314245 - 35786000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "lat " << c.lat << " lon " << c.lon << " h " << c.h);
        const Eigen::Vector3d g = ecefToGeodetic(Eigen::Vector3d(c.x, c.y, c.z));
        // The EPSG coordinates are given to the millimetre: 1e-8 degrees is about 1 mm.
        EXPECT_NEAR(g.x(), c.lat, 2e-8);
        EXPECT_NEAR(g.y(), c.lon, 2e-8);
        EXPECT_NEAR(g.z(), c.h, 2e-3);
    }
}

TEST(EcefToGeodetic, InvertsGeodeticToEcefEverywhere) {
    for (double lat = -90.0; lat <= 90.0; lat += 7.5) {
        for (double lon = -180.0; lon < 180.0; lon += 22.5) {
            for (double h : {-900.0, 0.0, 1300.0, 19000.0, 400000.0}) {
                const Eigen::Vector3d g = ecefToGeodetic(geodeticToEcef(lat, lon, h));
                SCOPED_TRACE(testing::Message() << lat << " " << lon << " " << h);
                EXPECT_NEAR(g.x(), lat, 1e-10);
                if (std::abs(lat) < 90.0) {
                    EXPECT_NEAR(g.y(), lon, 1e-10);
                }
                EXPECT_NEAR(g.z(), h, 1e-6);
            }
        }
    }
}

TEST(EcefToGeodetic, PolarAxisHasLongitudeZero) {
    const Eigen::Vector3d north = ecefToGeodetic(Eigen::Vector3d(0, 0, 6356752.314245 + 500));
    EXPECT_DOUBLE_EQ(north.x(), 90.0);
    EXPECT_EQ(north.y(), 0.0);
    EXPECT_NEAR(north.z(), 500.0, 1e-6);
}

struct RotationCase {
    const char* name;
    double lon, lat, heading, pitch, roll, azimuth, elevation;
    double rows[3][3];
};

TEST(SensorRotation, MatchesWorkedExamples) {
    const std::vector<RotationCase> cases = {
        {"all zero", 0, 0, 0, 0, 0, 0, 0, {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}}},
        {"heading 90 looks east", 0, 0, 90, 0, 0, 0, 0, {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}}},
        {"elevation -90 looks down", 0, 0, 0, 0, 0, 0, -90, {{0, 1, 0}, {0, 0, -1}, {-1, 0, 0}}},
        {"pitch 10",
         0,
         0,
         0,
         10,
         0,
         0,
         0,
         {{0, 1, 0}, {-0.984808, 0, 0.173648}, {0.173648, 0, 0.984808}}},
        {"roll 10",
         0,
         0,
         0,
         0,
         10,
         0,
         0,
         {{-0.173648, 0.984808, 0}, {-0.984808, -0.173648, 0}, {0, 0, 1}}},
        {"longitude 90", 90, 0, 0, 0, 0, 0, 0, {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}}},
        {"latitude 90", 0, 90, 0, 0, 0, 0, 0, {{0, 1, 0}, {0, 0, -1}, {-1, 0, 0}}},
        {"everything",
         20,
         10,
         30,
         5,
         -2,
         45,
         -30,
         {{0.034737, 0.287963, -0.957011},
          {-0.682338, -0.692831, -0.233238},
          {-0.730211, 0.661107, 0.172421}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Eigen::Matrix3d m =
            sensorRotation(c.lon, c.lat, c.heading, c.pitch, c.roll, c.azimuth, c.elevation);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                EXPECT_NEAR(m(i, j), c.rows[i][j], 1e-6) << "row " << i << " col " << j;
            }
        }
    }
}

// The line of sight at a nadir-looking sensor must be the negated ellipsoid normal, which is
// the direction from a point to the same point 1 m lower (an independent construction).
TEST(SensorRotation, NadirLineOfSightIsTheLocalDown) {
    for (double lat : {-60.0, -12.5, 0.0, 33.3, 71.0}) {
        for (double lon : {-116.0, 0.0, 45.0, 170.0}) {
            for (double heading : {0.0, 77.0, 200.0}) {
                const Eigen::Matrix3d m = sensorRotation(lon, lat, heading, 0, 0, 0, -90);
                const Eigen::Vector3d down =
                    (geodeticToEcef(lat, lon, 0.0) - geodeticToEcef(lat, lon, 1.0)).normalized();
                EXPECT_NEAR((m.row(2).transpose() - down).norm(), 0.0, 1e-9);
            }
        }
    }
}

TEST(SensorRotation, RowsAreRightHandedOrthonormal) {
    for (double a = -170.0; a < 180.0; a += 23.0) {
        const Eigen::Matrix3d m =
            sensorRotation(a, a / 2.0, a * 1.7, a / 9.0, -a / 4.0, a * 3.1, -a / 2.5);
        EXPECT_NEAR((m * m.transpose() - Eigen::Matrix3d::Identity()).norm(), 0.0, 1e-12);
        const Eigen::Vector3d z = m.row(0).transpose().cross(m.row(1).transpose());
        EXPECT_NEAR((z - m.row(2).transpose()).norm(), 0.0, 1e-12);
    }
}

} // namespace
} // namespace skyframe
