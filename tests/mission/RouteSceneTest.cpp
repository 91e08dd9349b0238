#include "mission/RouteScene.h"

#include "TestSupport.h"
#include "camera/Geodesy.h"

#include <osg/BlendFunc>
#include <osg/Shape>
#include <osg/ShapeDrawable>

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

namespace skyframe {
namespace {

// A point near the sample area, rounded to whole metres so that offsets of whole metres are
// exact in single precision.
osg::Vec3f anchor() {
    const Eigen::Vector3d p = geodeticToEcef(33.45, -115.85, 2300.0);
    return osg::Vec3f(std::round(p.x()), std::round(p.y()), std::round(p.z()));
}

const osg::ShapeDrawable& drawable(const osg::Switch& s, unsigned child) {
    const auto* d = dynamic_cast<const osg::ShapeDrawable*>(s.getChild(child));
    EXPECT_NE(d, nullptr);
    return *d;
}

template <class Shape> const Shape& shapeOf(const osg::Switch& s, unsigned child) {
    const auto* shape = dynamic_cast<const Shape*>(drawable(s, child).getShape());
    EXPECT_NE(shape, nullptr);
    return *shape;
}

// Blending of translucent nodes: source alpha over one minus source alpha, for colour and
// alpha alike, switched on.
void expectBlended(const osg::Node& node) {
    const osg::StateSet* state = node.getStateSet();
    ASSERT_NE(state, nullptr);
    const auto* blend =
        dynamic_cast<const osg::BlendFunc*>(state->getAttribute(osg::StateAttribute::BLENDFUNC));
    ASSERT_NE(blend, nullptr);
    EXPECT_EQ(blend->getSource(), static_cast<GLenum>(GL_SRC_ALPHA));
    EXPECT_EQ(blend->getDestination(), static_cast<GLenum>(GL_ONE_MINUS_SRC_ALPHA));
    EXPECT_EQ(blend->getSourceAlpha(), static_cast<GLenum>(GL_SRC_ALPHA));
    EXPECT_EQ(blend->getDestinationAlpha(), static_cast<GLenum>(GL_ONE_MINUS_SRC_ALPHA));
    EXPECT_EQ(state->getMode(GL_BLEND), osg::StateAttribute::ON);
}

void expectNotBlended(const osg::Node& node) {
    const osg::StateSet* state = node.getStateSet();
    EXPECT_TRUE(state == nullptr || state->getAttribute(osg::StateAttribute::BLENDFUNC) == nullptr);
}

TEST(MarkerState, SetStateShowsExactlyOneChild) {
    osg::ref_ptr<osg::Switch> s = makeWaypointMarker(osg::Vec3f(), 25.0f);
    for (MarkerState state : {MarkerState::Passed, MarkerState::Active, MarkerState::NotReached}) {
        setState(*s, state);
        for (unsigned c = 0; c < 3; ++c) {
            EXPECT_EQ(s->getValue(c), c == static_cast<unsigned>(state));
        }
        EXPECT_TRUE(isInState(*s, state));
    }
}

TEST(MakeWaypointMarker, ThreeSpheresOneShownBlended) {
    const osg::Vec3f centre = anchor();
    osg::ref_ptr<osg::Switch> marker = makeWaypointMarker(centre, 25.0f);
    ASSERT_EQ(marker->getNumChildren(), 3u);
    EXPECT_TRUE(marker->getValue(0));
    EXPECT_FALSE(marker->getValue(1));
    EXPECT_FALSE(marker->getValue(2));
    const osg::Vec4f colours[3] = {{1, 1, 1, 0.4f}, {0.52f, 0.52f, 0.52f, 0.4f}, {0, 1, 0, 0.4f}};
    for (unsigned c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        const osg::Sphere& sphere = shapeOf<osg::Sphere>(*marker, c);
        EXPECT_EQ(sphere.getCenter(), centre);
        EXPECT_EQ(sphere.getRadius(), 25.0f);
        EXPECT_EQ(drawable(*marker, c).getColor(), colours[c]);
    }
    // Each colour has a sphere of its own.
    EXPECT_NE(drawable(*marker, 0).getShape(), drawable(*marker, 1).getShape());
    expectBlended(*marker);
}

TEST(MakeRouteLeg, ThousandMetreLegStopsShortOfBothSpheres) {
    const osg::Vec3f from = anchor();
    const osg::Vec3f to = from + osg::Vec3f(600.0f, 0.0f, 800.0f);
    osg::ref_ptr<osg::Switch> leg = makeRouteLeg(from, to, 25.0f, 1.0f);
    ASSERT_EQ(leg->getNumChildren(), 3u);
    EXPECT_TRUE(leg->getValue(0));
    EXPECT_FALSE(leg->getValue(1));
    EXPECT_FALSE(leg->getValue(2));

    const osg::Cylinder& rod = shapeOf<osg::Cylinder>(*leg, 0);
    EXPECT_NEAR(rod.getHeight(), 949.4f, 1e-4f);
    EXPECT_EQ(rod.getRadius(), 1.0f);
    EXPECT_EQ(rod.getCenter(), from + osg::Vec3f(300.0f, 0.0f, 400.0f));
    // The cylinder's own axis is turned onto the line between the waypoints.
    const osg::Vec3d axis = rod.getRotation() * osg::Vec3d(0, 0, 1);
    EXPECT_NEAR(axis.x(), -0.6, 1e-6);
    EXPECT_NEAR(axis.y(), 0.0, 1e-6);
    EXPECT_NEAR(axis.z(), -0.8, 1e-6);

    // One cylinder under all three colours; the grey of a leg has a blue of 0.51.
    const osg::Vec4f colours[3] = {{1, 1, 1, 0.4f}, {0.52f, 0.52f, 0.51f, 0.4f}, {0, 1, 0, 0.4f}};
    for (unsigned c = 0; c < 3; ++c) {
        EXPECT_EQ(drawable(*leg, c).getShape(), &rod);
        EXPECT_EQ(drawable(*leg, c).getColor(), colours[c]);
    }
    expectBlended(*leg);
}

TEST(MakeRouteLeg, RotationFollowsAnyDirection) {
    const osg::Vec3f from = anchor();
    const std::vector<osg::Vec3f> offsets = {
        {1000, 0, 0}, {0, -1000, 0}, {-300, 400, -1200}, {50, 20, 5000}, {700, -700, 100}};
    for (const osg::Vec3f& offset : offsets) {
        SCOPED_TRACE(testing::Message() << offset.x() << " " << offset.y() << " " << offset.z());
        osg::ref_ptr<osg::Switch> leg = makeRouteLeg(from, from + offset, 25.0f, 1.0f);
        const osg::Cylinder& rod = shapeOf<osg::Cylinder>(*leg, 0);
        osg::Vec3d expected = -offset;
        expected.normalize();
        const osg::Vec3d axis = rod.getRotation() * osg::Vec3d(0, 0, 1);
        // The angle comes out of a single-precision arc cosine.
        EXPECT_NEAR(axis.x(), expected.x(), 1e-5);
        EXPECT_NEAR(axis.y(), expected.y(), 1e-5);
        EXPECT_NEAR(axis.z(), expected.z(), 1e-5);
        EXPECT_NEAR(rod.getHeight(), offset.length() - 50.6f, 1e-3f);
    }
}

TEST(MakeRouteLeg, VerticalLegsHaveTheIdentityRotation) {
    const osg::Vec3f pole(0.0f, 0.0f, 6356752.0f);
    for (float dz : {1000.0f, -1000.0f}) {
        osg::ref_ptr<osg::Switch> leg = makeRouteLeg(pole, pole + osg::Vec3f(0, 0, dz), 25, 1);
        const osg::Quat rotation = shapeOf<osg::Cylinder>(*leg, 0).getRotation();
        EXPECT_TRUE(rotation.zeroRotation()) << dz;
        EXPECT_FALSE(std::isnan(rotation.w()));
    }
}

TEST(MakeRouteLeg, CloseWaypointsGiveANonPositiveHeight) {
    const osg::Vec3f from = anchor();
    osg::ref_ptr<osg::Switch> leg = makeRouteLeg(from, from + osg::Vec3f(40, 0, 0), 25, 1);
    EXPECT_NEAR(shapeOf<osg::Cylinder>(*leg, 0).getHeight(), -10.6f, 1e-4f);
}

TEST(MakeRouteLegs, OneLegBetweenEachPairOfWaypoints) {
    osg::ref_ptr<osg::Vec3Array> waypoints = new osg::Vec3Array;
    for (int i = 0; i < 5; ++i) {
        waypoints->push_back(anchor() + osg::Vec3f(1000.0f * i, 0.0f, 0.0f));
    }
    osg::ref_ptr<osg::Group> legs = makeRouteLegs(*waypoints, 25.0f, 1.0f);
    osg::ref_ptr<osg::Group> markers = makeWaypointMarkers(*waypoints, 25.0f);
    ASSERT_EQ(markers->getNumChildren(), 5u);
    ASSERT_EQ(legs->getNumChildren(), 4u);
    for (unsigned i = 0; i < 5; ++i) {
        const osg::Switch& marker = *markers->getChild(i)->asSwitch();
        EXPECT_EQ(shapeOf<osg::Sphere>(marker, 0).getCenter(), (*waypoints)[i]);
    }
    for (unsigned i = 0; i < 4; ++i) {
        const osg::Cylinder& rod = shapeOf<osg::Cylinder>(*legs->getChild(i)->asSwitch(), 0);
        EXPECT_EQ(rod.getCenter(), ((*waypoints)[i] + (*waypoints)[i + 1]) / 2.0f);
        EXPECT_NEAR(rod.getHeight(), 949.4f, 1e-4f);
    }
    EXPECT_EQ(test::stateTable(*markers), "NNNNN");
    EXPECT_EQ(test::stateTable(*legs), "NNNN");

    osg::ref_ptr<osg::Vec3Array> one = new osg::Vec3Array(1, &(*waypoints)[0]);
    EXPECT_EQ(makeWaypointMarkers(*one, 25.0f)->getNumChildren(), 1u);
    EXPECT_EQ(makeRouteLegs(*one, 25.0f, 1.0f)->getNumChildren(), 0u);
    osg::ref_ptr<osg::Vec3Array> none = new osg::Vec3Array;
    EXPECT_EQ(makeRouteLegs(*none, 25.0f, 1.0f)->getNumChildren(), 0u);
}

TEST(MakeTargetMarker, BoxConnectorAndSphereInThatOrder) {
    const osg::Vec3f target = anchor();
    const osg::Vec3f reference = target + osg::Vec3f(0.0f, 0.0f, 1200.0f);
    osg::ref_ptr<osg::Group> marker = makeTargetMarker(target, reference);
    ASSERT_EQ(marker->getNumChildren(), 3u);
    expectBlended(*marker);

    const osg::Switch& box = *marker->getChild(0)->asSwitch();
    ASSERT_EQ(box.getNumChildren(), 1u);
    EXPECT_TRUE(box.getValue(0));
    EXPECT_EQ(shapeOf<osg::Box>(box, 0).getCenter(), reference);
    EXPECT_EQ(shapeOf<osg::Box>(box, 0).getHalfLengths(), osg::Vec3f(15, 15, 15));
    EXPECT_TRUE(shapeOf<osg::Box>(box, 0).zeroRotation());
    EXPECT_EQ(drawable(box, 0).getColor(), osg::Vec4f(0, 0, 1, 1));
    expectNotBlended(box);

    const osg::Switch& connector = *marker->getChild(1)->asSwitch();
    ASSERT_EQ(connector.getNumChildren(), 1u);
    EXPECT_TRUE(connector.getValue(0));
    const osg::Cylinder& rod = shapeOf<osg::Cylinder>(connector, 0);
    EXPECT_EQ(rod.getCenter(), target + osg::Vec3f(0.0f, 0.0f, 600.0f));
    EXPECT_EQ(rod.getRadius(), 5.0f);
    EXPECT_EQ(rod.getHeight(), 1200.0f);
    EXPECT_TRUE(rod.getRotation().zeroRotation()); // from reference down to target along z
    EXPECT_EQ(drawable(connector, 0).getColor(), osg::Vec4f(0, 0, 1, 0.3f));
    expectBlended(connector);

    const osg::Switch& sphere = *marker->getChild(2)->asSwitch();
    ASSERT_EQ(sphere.getNumChildren(), 1u);
    EXPECT_TRUE(sphere.getValue(0));
    EXPECT_EQ(shapeOf<osg::Sphere>(sphere, 0).getCenter(), target);
    EXPECT_EQ(shapeOf<osg::Sphere>(sphere, 0).getRadius(), 120.0f);
    EXPECT_EQ(drawable(sphere, 0).getColor(), osg::Vec4f(1, 0, 0, 0.1f));
    expectBlended(sphere);
}

TEST(MakeTargetMarker, TargetAtTheReferenceHeightHasAZeroConnector) {
    const osg::Vec3f point = anchor();
    osg::ref_ptr<osg::Group> marker = makeTargetMarker(point, point);
    const osg::Switch& connector = *marker->getChild(1)->asSwitch();
    const osg::Cylinder& rod = shapeOf<osg::Cylinder>(connector, 0);
    EXPECT_EQ(rod.getHeight(), 0.0f);
    EXPECT_EQ(rod.getCenter(), point);
    EXPECT_FALSE(std::isnan(rod.getRotation().w()));
    // The sphere (radius 120) encloses the 30 m cube (half diagonal about 26 m).
    EXPECT_LT(osg::Vec3f(15, 15, 15).length(), 120.0f);
}

TEST(MakeTargetsNode, OneMarkerPerTargetInOrder) {
    osg::ref_ptr<osg::Vec3Array> targets = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> references = new osg::Vec3Array;
    for (int i = 0; i < 3; ++i) {
        targets->push_back(anchor() + osg::Vec3f(500.0f * i, 0, 0));
        references->push_back(anchor() + osg::Vec3f(500.0f * i, 0, 1000));
    }
    osg::ref_ptr<osg::Group> node = makeTargetsNode(*targets, *references);
    ASSERT_EQ(node->getNumChildren(), 3u);
    for (unsigned i = 0; i < 3; ++i) {
        const osg::Group& marker = *node->getChild(i)->asGroup();
        EXPECT_EQ(shapeOf<osg::Box>(*marker.getChild(0)->asSwitch(), 0).getCenter(),
                  (*references)[i]);
        EXPECT_EQ(shapeOf<osg::Sphere>(*marker.getChild(2)->asSwitch(), 0).getCenter(),
                  (*targets)[i]);
    }
    osg::ref_ptr<osg::Vec3Array> none = new osg::Vec3Array;
    EXPECT_EQ(makeTargetsNode(*none, *none)->getNumChildren(), 0u);
    references->pop_back();
    EXPECT_THROW(makeTargetsNode(*targets, *references), std::invalid_argument);
}

} // namespace
} // namespace skyframe
