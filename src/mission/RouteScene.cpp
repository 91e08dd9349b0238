#include "mission/RouteScene.h"

#include <osg/BlendFunc>
#include <osg/Quat>
#include <osg/Shape>
#include <osg/ShapeDrawable>
#include <osg/StateSet>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace skyframe {

namespace {

void setBlended(osg::Node& node) {
    osg::ref_ptr<osg::BlendFunc> blend =
        new osg::BlendFunc(osg::BlendFunc::SRC_ALPHA, osg::BlendFunc::ONE_MINUS_SRC_ALPHA);
    node.getOrCreateStateSet()->setAttributeAndModes(blend, osg::StateAttribute::ON);
}

osg::ref_ptr<osg::ShapeDrawable> coloured(osg::Shape* shape, const osg::Vec4f& colour) {
    osg::ref_ptr<osg::ShapeDrawable> drawable = new osg::ShapeDrawable(shape);
    drawable->setColor(colour);
    return drawable;
}

// A cylinder centred between the two points with its axis along from - to. Computed in
// single precision like the points themselves. The rotation takes the cylinder's own z axis
// onto the direction of from - to; for a direction along z the rotation axis has no length
// and the quaternion stays the identity.
osg::ref_ptr<osg::Cylinder> makeRod(const osg::Vec3f& from, const osg::Vec3f& to, float radius,
                                    float shortening) {
    const osg::Vec3f d = from - to;
    const float length = d.length();
    const osg::Vec3f centre = (from + to) / 2.0f;
    // Rounding can push the cosine just past 1 for a nearly vertical rod.
    const float angle = std::acos(std::clamp(d.z() / length, -1.0f, 1.0f));
    const osg::Vec3f axis(-d.y(), d.x(), 0.0f);
    osg::ref_ptr<osg::Cylinder> rod = new osg::Cylinder(centre, radius, length - shortening);
    rod->setRotation(osg::Quat(angle, axis));
    return rod;
}

osg::ref_ptr<osg::Switch> singleChildSwitch(osg::ref_ptr<osg::ShapeDrawable> drawable) {
    osg::ref_ptr<osg::Switch> node = new osg::Switch;
    node->addChild(drawable, true);
    return node;
}

} // namespace

void setState(osg::Switch& marker, MarkerState state) {
    for (unsigned i = 0; i < 3; ++i) {
        marker.setValue(i, i == static_cast<unsigned>(state));
    }
}

bool isInState(const osg::Switch& marker, MarkerState state) {
    return marker.getValue(static_cast<unsigned>(state));
}

osg::ref_ptr<osg::Switch> makeWaypointMarker(const osg::Vec3f& centre, float radius) {
    osg::ref_ptr<osg::Switch> marker = new osg::Switch;
    for (unsigned i = 0; i < 3; ++i) {
        marker->addChild(coloured(new osg::Sphere(centre, radius), kWaypointColours[i]), i == 0);
    }
    setBlended(*marker);
    return marker;
}

osg::ref_ptr<osg::Group> makeWaypointMarkers(const osg::Vec3Array& waypoints, float radius) {
    osg::ref_ptr<osg::Group> group = new osg::Group;
    for (const osg::Vec3f& waypoint : waypoints) {
        group->addChild(makeWaypointMarker(waypoint, radius));
    }
    return group;
}

osg::ref_ptr<osg::Switch> makeRouteLeg(const osg::Vec3f& from, const osg::Vec3f& to,
                                       float markerRadius, float legRadius) {
    // One cylinder shared by the three drawables: a state change swaps colour only.
    const osg::ref_ptr<osg::Cylinder> rod =
        makeRod(from, to, legRadius, 2.0f * markerRadius + kLegGap);
    osg::ref_ptr<osg::Switch> leg = new osg::Switch;
    for (unsigned i = 0; i < 3; ++i) {
        leg->addChild(coloured(rod.get(), kLegColours[i]), i == 0);
    }
    setBlended(*leg);
    return leg;
}

osg::ref_ptr<osg::Group> makeRouteLegs(const osg::Vec3Array& waypoints, float markerRadius,
                                       float legRadius) {
    osg::ref_ptr<osg::Group> group = new osg::Group;
    for (std::size_t i = 0; i + 1 < waypoints.size(); ++i) {
        group->addChild(makeRouteLeg(waypoints[i], waypoints[i + 1], markerRadius, legRadius));
    }
    return group;
}

osg::ref_ptr<osg::Switch> makeConnector(const osg::Vec3f& from, const osg::Vec3f& to,
                                        const osg::Vec4f& colour) {
    osg::ref_ptr<osg::Switch> connector =
        singleChildSwitch(coloured(makeRod(from, to, kConnectorRadius, 0.0f).get(), colour));
    setBlended(*connector);
    return connector;
}

osg::ref_ptr<osg::Switch> makeTargetSphere(const osg::Vec3f& centre) {
    osg::ref_ptr<osg::Switch> sphere = singleChildSwitch(
        coloured(new osg::Sphere(centre, kTargetSphereRadius), kTargetSphereColour));
    setBlended(*sphere);
    return sphere;
}

osg::ref_ptr<osg::Switch> makeReferenceBox(const osg::Vec3f& centre) {
    // Opaque, so drawn without blending.
    return singleChildSwitch(
        coloured(new osg::Box(centre, kReferenceBoxWidth), kReferenceBoxColour));
}

osg::ref_ptr<osg::Group> makeTargetMarker(const osg::Vec3f& target, const osg::Vec3f& reference) {
    osg::ref_ptr<osg::Switch> sphere = makeTargetSphere(target);
    osg::ref_ptr<osg::Switch> box = makeReferenceBox(reference);
    osg::ref_ptr<osg::Switch> connector = makeConnector(reference, target, kConnectorColour);
    osg::ref_ptr<osg::Group> marker = new osg::Group;
    marker->addChild(box);
    marker->addChild(connector);
    marker->addChild(sphere);
    setBlended(*marker);
    return marker;
}

osg::ref_ptr<osg::Group> makeTargetsNode(const osg::Vec3Array& targetPositions,
                                         const osg::Vec3Array& referencePoints) {
    if (targetPositions.size() != referencePoints.size()) {
        throw std::invalid_argument("makeTargetsNode: " + std::to_string(targetPositions.size()) +
                                    " targets but " + std::to_string(referencePoints.size()) +
                                    " reference points");
    }
    osg::ref_ptr<osg::Group> group = new osg::Group;
    for (std::size_t i = 0; i < targetPositions.size(); ++i) {
        group->addChild(makeTargetMarker(targetPositions[i], referencePoints[i]));
    }
    return group;
}

} // namespace skyframe
