#include "mission/RouteProgress.h"

#include "TestSupport.h"
#include "camera/Geodesy.h"
#include "mission/RouteScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace skyframe {
namespace {

using test::expand;
using test::stateTable;

constexpr int kWaypoints = 49;

// Puts each switch of a group into the state its letter names.
void applyTable(osg::Group& group, const std::string& table) {
    for (unsigned i = 0; i < group.getNumChildren(); ++i) {
        const char letter = table.at(i);
        setState(*group.getChild(i)->asSwitch(), letter == 'P'   ? MarkerState::Passed
                                                 : letter == 'A' ? MarkerState::Active
                                                                 : MarkerState::NotReached);
    }
}

// One update: where the sensor is, and the current waypoint and state tables after it.
struct Frame {
    int waypoint;
    osg::Vec3f offset;
    unsigned current;
    const char* markers; // runs, padded with N
    const char* legs;
};

// A straight route of 49 waypoints 1000 m apart. Coordinates are whole metres, so every
// position and distance below is exact in single precision: offsets (0, y, 0) are square to
// the route, and step / 2 is the midpoint between two waypoints.
class RouteProgressTest : public testing::Test {
public:
    const osg::Vec3f step{600.0f, 0.0f, 800.0f};

    RouteProgressTest() {
        const Eigen::Vector3d base = geodeticToEcef(33.45, -115.85, 2300.0);
        const osg::Vec3f origin(std::round(base.x()), std::round(base.y()), std::round(base.z()));
        waypoints = new osg::Vec3Array;
        for (int i = 0; i < kWaypoints; ++i) {
            waypoints->push_back(origin + step * static_cast<float>(i));
        }
        markers = makeWaypointMarkers(*waypoints, 25.0f);
        legs = makeRouteLegs(*waypoints, 25.0f, 1.0f);
        progress = std::make_unique<RouteProgress>(waypoints, markers, legs);
    }

    // One update with the sensor at waypoint i + offset, handed over as geodetic
    // coordinates that convert back to exactly that point.
    void flyTo(int i, const osg::Vec3f& offset) {
        const osg::Vec3f q = (*waypoints)[i] + offset;
        const test::Geodetic g = test::toGeodetic(q);
        const Eigen::Vector3d back = geodeticToEcef(g.latitude, g.longitude, g.height);
        ASSERT_EQ(osg::Vec3f(static_cast<float>(back.x()), static_cast<float>(back.y()),
                             static_cast<float>(back.z())),
                  q);
        progress->update(g.latitude, g.longitude, g.height);
    }

    void expectStates(unsigned current, const std::string& markerRuns, const std::string& legRuns) {
        EXPECT_EQ(progress->current, current);
        EXPECT_EQ(stateTable(*markers), expand(markerRuns, kWaypoints));
        EXPECT_EQ(stateTable(*legs), expand(legRuns, kWaypoints - 1));
    }

    void fly(const std::vector<Frame>& frames) {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "frame " << i + 1);
            flyTo(frames[i].waypoint, frames[i].offset);
            expectStates(frames[i].current, frames[i].markers, frames[i].legs);
        }
    }

    osg::ref_ptr<osg::Vec3Array> waypoints;
    osg::ref_ptr<osg::Group> markers;
    osg::ref_ptr<osg::Group> legs;
    std::unique_ptr<RouteProgress> progress;
};

TEST_F(RouteProgressTest, StartNearWaypointFive) {
    flyTo(5, {0, 500, 0});
    // Behind the start grey, the start and the leg to it green (the first rule).
    expectStates(5, "P5 A1", "P4 A1");
    EXPECT_FALSE(progress->firstFrame);
    EXPECT_TRUE(progress->watchStart);
    EXPECT_EQ(progress->startDistance, 500.0);
    EXPECT_EQ(progress->referenceDistance, 500.0);
    EXPECT_EQ(progress->counter, 1);

    // Within the threshold: the waypoint, the leg after it and the next waypoint green, the
    // leg before it grey.
    flyTo(5, {0, 100, 0});
    expectStates(5, "P5 A2", "P5 A1");
    EXPECT_TRUE(progress->watchStart);
}

TEST_F(RouteProgressTest, StartNearWaypointZero) {
    flyTo(0, {0, 500, 0});
    expectStates(0, "", ""); // nothing grey, and the first rule leaves waypoint 0 alone
    flyTo(0, {0, 100, 0});
    expectStates(0, "A2", "A1");
}

TEST_F(RouteProgressTest, ExactlyAtTheThreshold) {
    // At exactly 120 m the waypoint counts as reached ...
    flyTo(5, {0, 120, 0});
    expectStates(5, "P5 A2", "P5 A1");
}

TEST_F(RouteProgressTest, JustBeyondTheThreshold) {
    // ... one metre farther it does not.
    flyTo(5, {0, 121, 0});
    expectStates(5, "P5 A1", "P4 A1");
}

TEST_F(RouteProgressTest, EqualDistancesKeepTheCurrentWaypoint) {
    flyTo(5, step / 2.0f); // 500 m from waypoints 5 and 6
    expectStates(5, "P5 A1", "P4 A1");
    flyTo(5, {306, 0, 408}); // 510 m from 5, 490 m from 6: moving away, and the next is nearer
    expectStates(6, "P6 A1", "P5 A1");
    EXPECT_FALSE(progress->watchStart);
    EXPECT_EQ(progress->referenceDistance, 490.0);
}

TEST_F(RouteProgressTest, MovingAwayIsCaughtAtTheTenFrameCheck) {
    std::vector<Frame> frames = {
        {5, {0, 300, 0}, 5, "P5 A1", "P4 A1"},
        // Farther than at the start: the start waypoint is behind.
        {5, {0, 310, 0}, 5, "P6 A1", "P5 A1"},
        // Past the middle of the leg: waypoint 6 becomes current (506 m away).
        {5, {360, 310, 480}, 6, "P6 A1", "P5 A1"},
    };
    // Frames 4 to 10 move away from waypoint 6 without any change ...
    for (int k = 0; k < 7; ++k) {
        frames.push_back({6, {0, 600.0f + 50 * k, 0}, 6, "P6 A1", "P5 A1"});
    }
    // ... until the check of frame 11 finds the sensor farther than 506 m.
    frames.push_back({6, {0, 950, 0}, 6, "P7 A1", "P6 A1"});
    fly(frames);
    EXPECT_EQ(progress->counter, 1);
}

TEST_F(RouteProgressTest, TheCheckRemembersTheClosestDistance) {
    std::vector<Frame> frames = {
        {5, {0, 300, 0}, 5, "P5 A1", "P4 A1"},
        {5, {0, 310, 0}, 5, "P6 A1", "P5 A1"},
        {5, {360, 310, 480}, 6, "P6 A1", "P5 A1"},
    };
    for (int k = 0; k < 7; ++k) { // approaching waypoint 6, staying outside 120 m
        frames.push_back({6, {0, 300.0f - 20 * k, 0}, 6, "P6 A1", "P5 A1"});
    }
    frames.push_back({6, {0, 150, 0}, 6, "P6 A1", "P5 A1"}); // frame 11: nearer, 150 kept
    for (int k = 0; k < 9; ++k) { // frames 12 to 20 move away again, unchecked
        frames.push_back({6, {0, 160.0f + 10 * k, 0}, 6, "P6 A1", "P5 A1"});
    }
    frames.push_back({6, {0, 250, 0}, 6, "P7 A1", "P6 A1"}); // frame 21: 250 > 150
    fly(frames);
}

TEST_F(RouteProgressTest, LastWaypoint) {
    flyTo(48, {0, 100, 0});
    expectStates(48, "P48 A1", "P48");
    flyTo(48, {0, 300, 0}); // moving away: all grey, nothing past the end is touched
    expectStates(48, "P49", "P48");
    flyTo(48, {0, 50, 0});
    expectStates(48, "P48 A1", "P48");
}

TEST_F(RouteProgressTest, RulesSeeTheDistanceToTheWaypointCurrentBeforeTheAdvance) {
    flyTo(5, {0, 500, 0});
    // 100 m from waypoint 6 but 1005 m from waypoint 5: waypoint 6 becomes current, yet the
    // rules are applied with 1005 m, so waypoint 6 does not count as reached yet.
    flyTo(6, {0, 100, 0});
    expectStates(6, "P6 A1", "P5 A1");
    flyTo(6, {0, 100, 0});
    expectStates(6, "P6 A2", "P6 A1");
}

TEST_F(RouteProgressTest, AdvancesOneWaypointPerUpdateAtMost) {
    flyTo(0, {0, 10, 0});
    flyTo(10, {0, 10, 0}); // jumped far along the route in one frame
    EXPECT_EQ(progress->current, 1u);
    flyTo(10, {0, 10, 0});
    EXPECT_EQ(progress->current, 2u);
}

TEST(RouteProgress, EmptyRouteIsLeftAlone) {
    osg::ref_ptr<osg::Vec3Array> none = new osg::Vec3Array;
    osg::ref_ptr<osg::Group> markers = new osg::Group, legs = new osg::Group;
    RouteProgress progress(none, markers, legs);
    progress.update(33.5, -115.9, 2000.0);
    EXPECT_TRUE(progress.firstFrame);
    EXPECT_EQ(progress.current, 0u);
}

TEST(RouteProgress, SensorPositionOutsideTheFloatRangeDoesNotCrash) {
    osg::ref_ptr<osg::Vec3Array> route = new osg::Vec3Array;
    route->push_back(osg::Vec3f(6378137.0f, 0, 0));
    route->push_back(osg::Vec3f(6379137.0f, 0, 0));
    RouteProgress progress(route, makeWaypointMarkers(*route, 25), makeRouteLegs(*route, 25, 1));
    progress.update(0.0, 0.0, 1e300);
    progress.update(std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0);
    EXPECT_EQ(progress.current, 0u);
}

TEST(DistanceBetween, ExactInDoublePrecision) {
    EXPECT_EQ(distanceBetween({0, 0, 0}, {3, 4, 12}), 13.0);
    // 4097.0625 squared needs more than single precision.
    EXPECT_EQ(distanceBetween({0, 0, 0}, {4097.0625f, 0, 0}), 4097.0625);
    EXPECT_EQ(distanceBetween({6378137.0f, 0, 0}, {6378137.5f, 0, 0}), 0.5);
}

TEST(NearestWaypoint, LowestIndexWinsATie) {
    osg::ref_ptr<osg::Vec3Array> w = new osg::Vec3Array;
    for (float x : {0.0f, 100.0f, 200.0f, 300.0f}) {
        w->push_back(osg::Vec3f(x, 0, 0));
    }
    EXPECT_EQ(nearestWaypoint({-50, 0, 0}, *w), 0u);
    EXPECT_EQ(nearestWaypoint({149, 0, 0}, *w), 1u);
    EXPECT_EQ(nearestWaypoint({150, 0, 0}, *w), 1u); // tie between 1 and 2
    EXPECT_EQ(nearestWaypoint({151, 0, 0}, *w), 2u);
    EXPECT_EQ(nearestWaypoint({900, 0, 0}, *w), 3u);
    osg::ref_ptr<osg::Vec3Array> none = new osg::Vec3Array;
    EXPECT_EQ(nearestWaypoint({0, 0, 0}, *none), 0u);
}

TEST(MarkPassed, FirstNSwitchesWithinTheGroup) {
    osg::ref_ptr<osg::Vec3Array> w = new osg::Vec3Array(5);
    osg::ref_ptr<osg::Group> group = makeWaypointMarkers(*w, 1);
    markPassed(*group, 0);
    markPassed(*group, -3);
    EXPECT_EQ(stateTable(*group), "NNNNN");
    markPassed(*group, 2);
    EXPECT_EQ(stateTable(*group), "PPNNN");
    markPassed(*group, 9);
    EXPECT_EQ(stateTable(*group), "PPPPP");
}

struct RuleCase {
    const char* name;
    unsigned b;
    double distance;
    const char* markersBefore;
    const char* legsBefore;
    const char* markersAfter;
    const char* legsAfter;
};

TEST(UpdateSwitches, RulesInOrder) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<RuleCase> cases = {
        {"reached at exactly 120", 2, 120.0, "PPAAN", "PPAN", "PPAAN", "PPAN"},
        {"beyond 120 with the next active", 2, 120.5, "PPAAN", "PPAN", "PPPAN", "PPAN"},
        {"within 120 from not reached", 2, 119.5, "PPNNN", "PPNN", "PPAAN", "PPAN"},
        {"first rule only", 2, 500.0, "PPNNN", "PNNN", "PPANN", "PANN"},
        {"passed waypoint hands on", 2, 500.0, "PPPNN", "PPNN", "PPPAN", "PPAN"},
        {"not a number", 2, nan, "PPNNN", "PNNN", "PPANN", "PANN"},
        {"waypoint 0 far", 0, 500.0, "NNNNN", "NNNN", "NNNNN", "NNNN"},
        {"waypoint 0 near", 0, 100.0, "NNNNN", "NNNN", "AANNN", "ANNN"},
        {"last waypoint near", 4, 50.0, "PPPPN", "PPPN", "PPPPA", "PPPP"},
        {"last waypoint passed", 4, 500.0, "PPPPP", "PPPP", "PPPPP", "PPPP"},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        osg::ref_ptr<osg::Vec3Array> w = new osg::Vec3Array(5);
        osg::ref_ptr<osg::Group> markers = makeWaypointMarkers(*w, 1);
        osg::ref_ptr<osg::Group> legs = makeRouteLegs(*w, 1, 1);
        applyTable(*markers, c.markersBefore);
        applyTable(*legs, c.legsBefore);
        updateSwitches(*markers, *legs, c.b, c.distance);
        EXPECT_EQ(stateTable(*markers), c.markersAfter);
        EXPECT_EQ(stateTable(*legs), c.legsAfter);
    }
}

} // namespace
} // namespace skyframe
