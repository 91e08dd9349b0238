#pragma once

#include <osg/Array>
#include <osg/Group>
#include <osg/Vec3f>
#include <osg/ref_ptr>

namespace skyframe {

// Within this distance of its current waypoint (metres) the sensor is "at" it.
constexpr double kProximityThreshold = 120.0;
// Rendered frames between two checks for a sensor moving away from its waypoint.
constexpr int kMoveAwayCheckInterval = 10;

// Straight-line distance between two Earth-centred points (metres), in double precision.
double distanceBetween(const osg::Vec3f& a, const osg::Vec3f& b);

// Index of the waypoint nearest to p; a tie keeps the lower index. 0 for an empty array.
unsigned nearestWaypoint(const osg::Vec3f& p, const osg::Vec3Array& waypoints);

// Puts children 0 .. n - 1 of a group of three-state switches into Passed; n <= 0 does
// nothing, and children past the end of the group are not touched.
void markPassed(osg::Group& group, int n);

// The colour rules around the current waypoint b, given the sensor's distance to it
// (metres), applied in this order, each seeing what the earlier ones left:
//   1. b > 0 and marker b NotReached: marker b and leg b - 1 Active.
//   2. distance <= kProximityThreshold: marker b Active, leg b Active, leg b - 1 Passed,
//      marker b + 1 Active.
//   3. distance >= kProximityThreshold and marker b Passed: marker b + 1 Active.
//   4. distance > kProximityThreshold and marker b + 1 Active: marker b Passed, leg b
//      Active.
// Markers and legs that do not exist are left out. A distance that is not a number meets
// none of the conditions.
void updateSwitches(osg::Group& markers, osg::Group& legs, unsigned b, double distance);

// Follows the flight along the route and colours its markers: waypoints and legs not yet
// reached white, the waypoint being approached and the leg to it green, those flown grey.
class RouteProgress {
public:
    // waypoints: the route (Earth-centred metres); markers: one three-state switch per
    // waypoint; legs: one per pair of consecutive waypoints.
    RouteProgress(osg::ref_ptr<const osg::Vec3Array> waypoints, osg::ref_ptr<osg::Group> markers,
                  osg::ref_ptr<osg::Group> legs);

    // One call per rendered frame with the sensor's position: latitude, longitude (degrees)
    // and height above the ellipsoid (metres). The first call picks the waypoint nearest the
    // sensor as the current one; afterwards the current waypoint advances by at most one per
    // call, when the next one is strictly nearer. An empty route is left alone.
    void update(double latitude, double longitude, double height);

    bool firstFrame = true;
    // Still waiting for the sensor to move away from the waypoint it started nearest to.
    bool watchStart = true;
    unsigned current = 0;           // index of the current waypoint
    double startDistance = 0.0;     // metres from the current waypoint at the first update
    double referenceDistance = 0.0; // metres; moving away is measured against it
    int counter = 0;                // frames since the last move-away check

private:
    osg::ref_ptr<const osg::Vec3Array> waypoints_;
    osg::ref_ptr<osg::Group> markers_;
    osg::ref_ptr<osg::Group> legs_;
};

} // namespace skyframe
