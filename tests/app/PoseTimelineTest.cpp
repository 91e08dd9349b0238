#include "app/PoseTimeline.h"

#include "camera/Geodesy.h"
#include "telemetry/KlvTally.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace skyframe {
namespace {

CameraInputs pose(double lat, double lon, double alt, double heading = 0.0) {
    CameraInputs in;
    in.sensorPosition[0] = lat;
    in.sensorPosition[1] = lon;
    in.sensorPosition[2] = alt;
    in.platformAngles[0] = heading;
    in.fov[0] = 30.0;
    in.fov[1] = 20.0;
    return in;
}

// Distance between two angles on the circle, degrees.
double arc(double a, double b) {
    return std::abs(std::remainder(a - b, 360.0));
}

TEST(PoseInterpolation, PositionMovesAlongTheStraightLineBetweenEarthCentredPoints) {
    const CameraInputs a = pose(33.0, -116.0, 3000.0);
    const CameraInputs b = pose(33.3, -115.2, 9000.0);
    const Eigen::Vector3d pa = geodeticToEcef(33.0, -116.0, 3000.0);
    const Eigen::Vector3d pb = geodeticToEcef(33.3, -115.2, 9000.0);
    for (double f : {0.0, 0.25, 0.5, 0.9, 1.0}) {
        const CameraInputs m = interpolateInputs(a, b, f);
        const Eigen::Vector3d p =
            geodeticToEcef(m.sensorPosition[0], m.sensorPosition[1], m.sensorPosition[2]);
        EXPECT_LT((p - (pa + f * (pb - pa))).norm(), 1e-4) << f;
    }
    // Midway the chord runs below the arc: lower than the mean of the two heights.
    EXPECT_LT(interpolateInputs(a, b, 0.5).sensorPosition[2], 6000.0);
}

TEST(PoseInterpolation, AnglesTakeTheShorterArc) {
    struct Case {
        double a, b, f, expected;
    };
    // Heading (0..360) across north, and back the other way.
    const std::vector<Case> headings = {
        {350, 10, 0.5, 0}, {350, 10, 0.25, 355}, {10, 350, 0.75, 355}, {90, 180, 0.5, 135}};
    for (const Case& c : headings) {
        CameraInputs a = pose(33, -116, 3000), b = a;
        a.platformAngles[0] = c.a;
        b.platformAngles[0] = c.b;
        const double h = interpolateInputs(a, b, c.f).platformAngles[0];
        EXPECT_LT(arc(h, c.expected), 1e-9) << c.a << " to " << c.b;
        EXPECT_GE(h, 0.0);
        EXPECT_LT(h, 360.0);
    }
    // Roll and elevation (-180..180) across +-180.
    CameraInputs a = pose(33, -116, 3000), b = a;
    a.platformAngles[2] = 170;
    b.platformAngles[2] = -170;
    a.sensorAngles[1] = -175;
    b.sensorAngles[1] = 165;
    const CameraInputs m = interpolateInputs(a, b, 0.5);
    EXPECT_LT(arc(m.platformAngles[2], 180), 1e-9);
    EXPECT_LT(arc(m.sensorAngles[1], 175), 1e-9);
    // Fields of view: linear.
    b.fov[0] = 40.0;
    EXPECT_DOUBLE_EQ(interpolateInputs(a, b, 0.5).fov[0], 35.0);
}

TEST(PoseTimeline, PicksAndInterpolatesTheBracketingRecords) {
    PoseTimeline t(2.0);
    EXPECT_FALSE(t.at(1.0).valid);
    // Added out of order: kept in time order.
    t.add(2.0, pose(33.2, -116, 3000, 20));
    t.add(1.0, pose(33.1, -116, 3000, 10));
    t.add(6.0, pose(33.6, -116, 3000, 60)); // 4 s after the one before: a gap
    struct Case {
        double time;
        double heading;
        bool stale;
        double recordTime;
    };
    const std::vector<Case> cases = {
        {0.5, 10, false, 1.0}, // before the first: the first
        {1.0, 10, false, 1.0}, // on a record
        {1.25, 12.5, false, 1.0}, {1.75, 17.5, false, 1.0},
        {3.0, 20, false, 2.0}, // inside the gap: the last pose before it stays
        {4.5, 20, true, 2.0},  // more than 2 s past it: stale
        {6.0, 60, false, 6.0},    {7.9, 60, false, 6.0}, // after the last, within the gap allowed
        {8.5, 60, true, 6.0},
    };
    for (const Case& c : cases) {
        const TimedPose p = t.at(c.time);
        ASSERT_TRUE(p.valid);
        EXPECT_NEAR(p.inputs.platformAngles[0], c.heading, 1e-9) << c.time;
        EXPECT_EQ(p.stale, c.stale) << c.time;
        EXPECT_EQ(p.recordTime, c.recordTime) << c.time;
    }
    EXPECT_FALSE(t.at(std::numeric_limits<double>::quiet_NaN()).valid);
}

TEST(PoseTimeline, ASingleRecordPosesEveryPictureWithinTheGap) {
    PoseTimeline t(2.0);
    t.add(10.0, pose(33, -116, 3000, 45));
    EXPECT_FALSE(t.at(8.5).stale);
    EXPECT_TRUE(t.at(7.5).stale);
    EXPECT_FALSE(t.at(11.9).stale);
    EXPECT_TRUE(t.at(12.1).stale);
    EXPECT_EQ(t.at(12.1).inputs.platformAngles[0], 45.0);
}

TEST(PoseTimeline, ForgetsOldRecordsButKeepsTheOneInUse) {
    PoseTimeline t(2.0);
    for (int i = 0; i < 100; ++i) {
        t.add(i, pose(33, -116, 3000, i));
    }
    t.forgetBefore(90.5, 30.0);
    EXPECT_EQ(t.size(), 40u); // 60 .. 99
    t.forgetBefore(200.0, 30.0);
    EXPECT_EQ(t.size(), 1u);
    EXPECT_EQ(t.at(200.0).inputs.platformAngles[0], 99.0);
}

KlvRecord goodRecord() {
    KlvRecord r;
    r.sensorLatitude = 33.0;
    r.sensorLongitude = -116.0;
    r.sensorAltitude = 3000.0;
    r.horizontalFov = 30.0;
    r.verticalFov = 20.0;
    for (double KlvRecord::*f :
         {&KlvRecord::sensorLatitude, &KlvRecord::sensorLongitude, &KlvRecord::sensorAltitude,
          &KlvRecord::horizontalFov, &KlvRecord::verticalFov}) {
        r.markPresent(f);
    }
    return r;
}

TEST(UsableForPose, OnlyWholeFiniteCameraRecords) {
    EXPECT_TRUE(usableForPose(goodRecord()));
    struct Case {
        const char* what;
        void (*spoil)(KlvRecord&);
    };
    const std::vector<Case> spoiled = {
        {"wrong length", [](KlvRecord& r) { r.status = -2; }},
        {"cut", [](KlvRecord& r) { r.status = -3; }},
        {"no latitude", [](KlvRecord& r) { r.present = 0; }},
        {"no fov",
         [](KlvRecord& r) {
             r = KlvRecord{};
             r.sensorLatitude = 1;
         }},
        {"fov 0", [](KlvRecord& r) { r.horizontalFov = 0.0; }},
        {"fov 180", [](KlvRecord& r) { r.verticalFov = 180.0; }},
        {"NaN heading", [](KlvRecord& r) { r.platformHeading = std::nan(""); }},
        {"infinite altitude",
         [](KlvRecord& r) { r.sensorAltitude = std::numeric_limits<double>::infinity(); }},
    };
    for (const Case& c : spoiled) {
        KlvRecord r = goodRecord();
        c.spoil(r);
        EXPECT_FALSE(usableForPose(r)) << c.what;
    }
    KlvRecord outOfRange = goodRecord();
    outOfRange.status = -1; // one field left out by its marker: the rest still poses
    EXPECT_TRUE(usableForPose(outOfRange));
}

} // namespace
} // namespace skyframe
