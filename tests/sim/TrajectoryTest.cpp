#include "Trajectory.h"

#include "camera/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <stdexcept>
#include <vector>

namespace skyframe {
namespace {

// Local north-east displacement (metres) from one platform position to another, through the
// Earth-centred difference and the local frame at the first: independent of how the
// trajectory computes its heading.
struct NorthEast {
    double north, east, up;
};
NorthEast displacement(const PlatformState& from, const PlatformState& to) {
    const Eigen::Vector3d d = geodeticToEcef(to.latitude, to.longitude, to.altitude) -
                              geodeticToEcef(from.latitude, from.longitude, from.altitude);
    const double phi = from.latitude * kDegToRad, lambda = from.longitude * kDegToRad;
    const Eigen::Vector3d north(-std::sin(phi) * std::cos(lambda),
                                -std::sin(phi) * std::sin(lambda), std::cos(phi));
    const Eigen::Vector3d east(-std::sin(lambda), std::cos(lambda), 0.0);
    const Eigen::Vector3d up(std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda),
                             std::sin(phi));
    return {d.dot(north), d.dot(east), d.dot(up)};
}

// Difference of two headings, degrees 0..180.
double angleBetween(double a, double b) {
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

double metresBetween(const PlatformState& s, const GeodeticPoint& p, double height) {
    return (geodeticToEcef(s.latitude, s.longitude, s.altitude) -
            geodeticToEcef(p.latitude, p.longitude, height))
        .norm();
}

// An L-shaped route near the sample area: 2 km north, then 3 km east, then 1 km south-west.
std::vector<GeodeticPoint> lRoute() {
    return {{33.50, -115.90, 0.0},
            {33.518, -115.90, 2286.0},
            {33.518, -115.8677, 2500.0},
            {33.5116, -115.8753, 2400.0}};
}

TEST(RouteTrajectory, ReachesEachWaypointAtItsDistanceOverTheSpeed) {
    const auto route = lRoute();
    const RouteTrajectory flight(route, 50.0, 3000.0);
    ASSERT_EQ(flight.waypointCount(), route.size());
    double expected = 0.0;
    for (std::size_t i = 0; i < route.size(); ++i) {
        if (i > 0) {
            expected += (geodeticToEcef(route[i].latitude, route[i].longitude, 3000.0) -
                         geodeticToEcef(route[i - 1].latitude, route[i - 1].longitude, 3000.0))
                            .norm() /
                        50.0;
        }
        SCOPED_TRACE(i);
        EXPECT_NEAR(flight.arrivalTime(i), expected, 1e-9);
        const PlatformState s = flight.at(flight.arrivalTime(i));
        EXPECT_LT(metresBetween(s, route[i], 3000.0), 1e-3);
        EXPECT_DOUBLE_EQ(s.altitude, 3000.0);
    }
}

TEST(RouteTrajectory, FliesLevelAtTheSpeedWithTheHeadingOfTheLeg) {
    const RouteTrajectory flight(lRoute(), 60.0, 3000.0);
    struct Leg {
        double time;    // seconds, inside the leg
        double heading; // degrees, expected within 0.05
    };
    // Legs: due north, then due east (a chord along a parallel turns by a few hundredths
    // of a degree over its length), then south-west: 710 m south and 706 m west.
    const double t1 = flight.arrivalTime(1), t2 = flight.arrivalTime(2), t3 = flight.arrivalTime(3);
    const std::vector<Leg> legs = {
        {0.5 * t1, 0.0}, {0.5 * (t1 + t2), 90.0}, {0.5 * (t2 + t3), 224.8}};
    for (const Leg& leg : legs) {
        SCOPED_TRACE(leg.time);
        const PlatformState a = flight.at(leg.time);
        const PlatformState b = flight.at(leg.time + 1.0);
        const NorthEast d = displacement(a, b);
        EXPECT_NEAR(std::hypot(d.north, d.east), 60.0, 1e-3);
        EXPECT_NEAR(b.altitude, 3000.0, 1e-9);
        EXPECT_EQ(a.pitch, 0.0);
        EXPECT_EQ(a.roll, 0.0);
        double track = std::atan2(d.east, d.north) / kDegToRad;
        track += track < 0.0 ? 360.0 : 0.0;
        EXPECT_NEAR(angleBetween(a.heading, track), 0.0, 0.01);
        EXPECT_NEAR(angleBetween(a.heading, leg.heading), 0.0, 0.1);
    }
}

TEST(RouteTrajectory, MissionHeightsChangeLinearlyAlongEachLeg) {
    const auto route = lRoute();
    const RouteTrajectory flight(route, 50.0, std::nullopt);
    EXPECT_NEAR(flight.at(0.0).altitude, 0.0, 1e-9);
    EXPECT_NEAR(flight.at(flight.arrivalTime(1)).altitude, 2286.0, 1e-9);
    EXPECT_NEAR(flight.at(0.5 * (flight.arrivalTime(1) + flight.arrivalTime(2))).altitude, 2393.0,
                1e-6);
    const PlatformState at2 = flight.at(flight.arrivalTime(2));
    EXPECT_LT(metresBetween(at2, route[2], 2500.0), 1e-3);
}

TEST(RouteTrajectory, StartsAtTheGivenWaypoint) {
    const auto route = lRoute();
    const RouteTrajectory flight(route, 50.0, 3000.0, 2);
    EXPECT_EQ(flight.waypointCount(), 2u);
    EXPECT_LT(metresBetween(flight.at(0.0), route[2], 3000.0), 1e-3);
}

TEST(RouteTrajectory, GoesOnAlongTheEndLegsBeforeTheStartAndAfterTheEnd) {
    const RouteTrajectory flight(lRoute(), 50.0, 3000.0);
    const double end = flight.arrivalTime(3);
    const PlatformState last = flight.at(end);
    const PlatformState later = flight.at(end + 10.0);
    const NorthEast d = displacement(last, later);
    EXPECT_NEAR(std::hypot(d.north, d.east), 500.0, 0.05);
    EXPECT_NEAR(angleBetween(later.heading, last.heading), 0.0, 0.01);
    EXPECT_NEAR(later.altitude, 3000.0, 1e-9);

    const PlatformState before = flight.at(-4.0);
    const NorthEast back = displacement(before, flight.at(0.0));
    EXPECT_NEAR(back.north, 200.0, 0.05); // the first leg runs due north
    EXPECT_NEAR(back.east, 0.0, 0.05);
}

TEST(RouteTrajectory, SkipsAWaypointRepeatedInPlace) {
    auto route = lRoute();
    route.insert(route.begin() + 1, route[1]);
    const RouteTrajectory flight(route, 50.0, 3000.0);
    EXPECT_EQ(flight.waypointCount(), 4u);
    EXPECT_TRUE(std::isfinite(flight.at(flight.arrivalTime(1)).heading));
}

TEST(RouteTrajectory, RefusesRoutesItCannotFly) {
    const auto route = lRoute();
    EXPECT_THROW(RouteTrajectory(route, 0.0, 3000.0), std::invalid_argument);
    EXPECT_THROW(RouteTrajectory(route, -5.0, 3000.0), std::invalid_argument);
    EXPECT_THROW(RouteTrajectory(route, 50.0, 3000.0, 4), std::invalid_argument);
    EXPECT_THROW(RouteTrajectory(route, 50.0, 3000.0, 3), std::invalid_argument);
    EXPECT_THROW(RouteTrajectory({route[0], route[0]}, 50.0, 3000.0), std::invalid_argument);
}

TEST(HeadingOf, MeasuresFromNorthTowardEast) {
    const double lat = 33.5, lon = -115.9;
    const Eigen::Vector3d origin = geodeticToEcef(lat, lon, 0.0);
    struct Case {
        double dLat, dLon, heading;
    };
    for (const Case& c : std::vector<Case>{
             {0.01, 0.0, 0.0}, {0.0, 0.01, 90.0}, {-0.01, 0.0, 180.0}, {0.0, -0.01, 270.0}}) {
        const Eigen::Vector3d d = geodeticToEcef(lat + c.dLat, lon + c.dLon, 0.0) - origin;
        const double h = headingOf(d, lat, lon);
        EXPECT_NEAR(angleBetween(h, c.heading), 0.0, 0.01) << c.heading;
        EXPECT_GE(h, 0.0);
        EXPECT_LT(h, 360.0);
    }
}

TEST(ToGeodetic, GivesBackThePointsOfASinglePrecisionArray) {
    osg::ref_ptr<osg::Vec3Array> points = new osg::Vec3Array;
    const Eigen::Vector3d a = geodeticToEcef(33.52, -115.91, 2286.0);
    const Eigen::Vector3d b = geodeticToEcef(33.47, -115.80, -8.0);
    points->push_back(osg::Vec3f(a.x(), a.y(), a.z()));
    points->push_back(osg::Vec3f(b.x(), b.y(), b.z()));
    const auto g = toGeodetic(*points);
    ASSERT_EQ(g.size(), 2u);
    // Single precision holds Earth-centred metres to about half a metre.
    EXPECT_NEAR(g[0].latitude, 33.52, 1e-5);
    EXPECT_NEAR(g[0].longitude, -115.91, 1e-5);
    EXPECT_NEAR(g[0].height, 2286.0, 1.0);
    EXPECT_NEAR(g[1].height, -8.0, 1.0);
    // And exactly the points the viewer places its shapes at.
    const Eigen::Vector3d back = geodeticToEcef(g[1].latitude, g[1].longitude, g[1].height);
    EXPECT_NEAR(back.x(), (*points)[1].x(), 1e-6);
    EXPECT_NEAR(back.y(), (*points)[1].y(), 1e-6);
    EXPECT_NEAR(back.z(), (*points)[1].z(), 1e-6);
}

} // namespace
} // namespace skyframe
