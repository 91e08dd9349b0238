#pragma once

#include <osg/Array>
#include <osg/Group>
#include <osg/Switch>
#include <osg/Vec3f>
#include <osg/Vec4f>
#include <osg/ref_ptr>

namespace skyframe {

// Every waypoint marker and route leg is a switch over three copies of one shape; the child
// index is the state and exactly one child is shown.
enum class MarkerState : unsigned { NotReached = 0, Passed = 1, Active = 2 };

// Colours (r, g, b, a) of the three states. A leg's grey has a blue of 0.51, not 0.52.
const osg::Vec4f kWaypointColours[3] = {
    {1.0f, 1.0f, 1.0f, 0.4f}, {0.52f, 0.52f, 0.52f, 0.4f}, {0.0f, 1.0f, 0.0f, 0.4f}};
const osg::Vec4f kLegColours[3] = {
    {1.0f, 1.0f, 1.0f, 0.4f}, {0.52f, 0.52f, 0.51f, 0.4f}, {0.0f, 1.0f, 0.0f, 0.4f}};

// Target markers (metres; colours r, g, b, a).
constexpr float kTargetSphereRadius = 120.0f;
const osg::Vec4f kTargetSphereColour{1.0f, 0.0f, 0.0f, 0.1f};
constexpr float kReferenceBoxWidth = 30.0f;
const osg::Vec4f kReferenceBoxColour{0.0f, 0.0f, 1.0f, 1.0f};
constexpr float kConnectorRadius = 5.0f;
const osg::Vec4f kConnectorColour{0.0f, 0.0f, 1.0f, 0.3f};
// A leg stops this much short of the two waypoint spheres in all, beyond their radii.
constexpr float kLegGap = 0.6f;

// Shows the child of `state` and hides the other two.
void setState(osg::Switch& marker, MarkerState state);
// True when the child of `state` is shown.
bool isInState(const osg::Switch& marker, MarkerState state);

// All positions below are Earth-centred metres; shapes are placed directly in that frame.
// "Blended" nodes carry alpha blending (source alpha, one minus source alpha, for colour and
// alpha alike) on their own state set.

// Three spheres of `radius` (metres) at `centre` in the three state colours, NotReached
// shown. Blended.
osg::ref_ptr<osg::Switch> makeWaypointMarker(const osg::Vec3f& centre, float radius);

// One waypoint marker per waypoint; child i belongs to waypoint i.
osg::ref_ptr<osg::Group> makeWaypointMarkers(const osg::Vec3Array& waypoints, float radius);

// Three drawables of one cylinder of radius legRadius from `from` towards `to`, stopping
// short of both waypoint spheres: height |to - from| - 2 markerRadius - kLegGap (not
// guarded: legs shorter than that get no or a negative height). NotReached shown. Blended.
osg::ref_ptr<osg::Switch> makeRouteLeg(const osg::Vec3f& from, const osg::Vec3f& to,
                                       float markerRadius, float legRadius);

// Child i is the leg from waypoint i to waypoint i + 1; fewer than two waypoints give an
// empty group.
osg::ref_ptr<osg::Group> makeRouteLegs(const osg::Vec3Array& waypoints, float markerRadius,
                                       float legRadius);

// A cylinder of kConnectorRadius spanning from `from` to `to` in full, in `colour`; the
// switch's only child, shown. Blended.
osg::ref_ptr<osg::Switch> makeConnector(const osg::Vec3f& from, const osg::Vec3f& to,
                                        const osg::Vec4f& colour);

// A translucent red sphere of kTargetSphereRadius at the target; only child, shown. Blended.
osg::ref_ptr<osg::Switch> makeTargetSphere(const osg::Vec3f& centre);

// An opaque blue cube of kReferenceBoxWidth edge, faces along the Earth-centred axes; only
// child, shown. Not blended.
osg::ref_ptr<osg::Switch> makeReferenceBox(const osg::Vec3f& centre);

// Children: 0 reference box, 1 connector from reference to target, 2 target sphere.
// Blended.
osg::ref_ptr<osg::Group> makeTargetMarker(const osg::Vec3f& target, const osg::Vec3f& reference);

// Child i is the marker of target i. Throws std::invalid_argument when the two arrays differ
// in length.
osg::ref_ptr<osg::Group> makeTargetsNode(const osg::Vec3Array& targetPositions,
                                         const osg::Vec3Array& referencePoints);

} // namespace skyframe
