#pragma once

#include <osg/Array>
#include <osg/ref_ptr>

#include <cstddef>
#include <string>

namespace skyframe {

// The route is the first kRouteLength points of the mission.
constexpr std::size_t kRouteLength = 49;

// Commanded altitudes are written in feet.
constexpr double kFeetToMetres = 0.3048;

// Reads a mission file (root CRD; route points in CRD/MISSION_LIST/MISSION/POINT_LIST, one
// POINT each, and the legs' commanded altitudes in
// MISSION/ROUTE_LIST/ROUTE/INTENT_LIST, one INTENT each) and returns the route's waypoints:
// Earth-centred metres in single precision, in route order.
//
// The points are the first N elements of the point list, N being the number of positive
// IDs (the ID, latitude and longitude texts are read as in the targets file). The route holds
// the first min(N, kRouteLength) of them. Point 0 lies on the ellipsoid (height 0); point
// i >= 1 takes the commanded altitude of intent i - 1, the leg that ends at it (feet,
// converted to metres). Intents beyond the N-th are ignored.
//
// Throws InputError (naming the file, the problem and where) when the file cannot be read,
// is malformed, lacks an element that is read, holds fewer intents than the route has legs,
// or holds an ID, coordinate or altitude that is not a number or is out of range (as in the
// targets file). Positions are checked only for the route's points. A mission without a
// point of positive ID gives an empty route.
osg::ref_ptr<osg::Vec3Array> readMission(const std::string& path);

// readMission on text already in memory; source names it in messages.
osg::ref_ptr<osg::Vec3Array> parseMission(std::string text, const std::string& source);

} // namespace skyframe
