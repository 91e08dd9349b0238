#include "FlightTelemetry.h"

#include "camera/Geoid.h"

#include "camera/Geodesy.h"
#include "telemetry/Klv.h"
#include "telemetry/KlvEncoder.h"
#include "telemetry/KlvPacket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <vector>

namespace skyframe {
namespace {

KlvRecord sampleRecord() {
    KlvRecord r;
    r.timestamp = kFlightEpochMicroseconds + 1234567.0;
    r.platformHeading = 137.87;
    r.sensorLatitude = 33.523445;
    r.sensorLongitude = -115.925016;
    r.sensorAltitude = 3500.0;
    r.horizontalFov = 30.0;
    r.verticalFov = 17.1428;
    r.sensorAzimuth = 251.3;
    r.sensorElevation = -37.25;
    r.frameCenterLatitude = 33.5;
    r.frameCenterLongitude = -115.9;
    r.frameCenterElevation = -8.0;
    return r;
}

// The tags of a packet's items, walked independently of the item parser: one-byte tags and
// one-byte short-form lengths, which is all this encoder writes for them.
std::set<int> itemTags(const KlvPacket& p) {
    std::set<int> tags;
    const unsigned char* v = p.value();
    for (size_t i = 0; i + 1 < p.valueLength; i += 2 + v[i + 1]) {
        tags.insert(v[i]);
    }
    return tags;
}

TEST(VerticalFov, FollowsTheAspectRatioOfSquarePixels) {
    EXPECT_NEAR(verticalFovFor(30.0, 1280, 720), 17.142372262, 1e-8);
    EXPECT_NEAR(verticalFovFor(90.0, 640, 640), 90.0, 1e-12);
    EXPECT_NEAR(verticalFovFor(60.0, 320, 180), 35.983397771, 1e-8);
}

TEST(EncodeFlightPacket, WritesACompleteLocalSetInTheOneByteLongForm) {
    for (bool withCentre : {true, false}) {
        SCOPED_TRACE(withCentre ? "with frame centre" : "without frame centre");
        KlvRecord r = sampleRecord();
        if (!withCentre) {
            r.frameCenterLatitude = r.frameCenterLongitude = r.frameCenterElevation =
                std::numeric_limits<double>::quiet_NaN();
        }
        const std::vector<unsigned char> bytes = encodeFlightPacket(r);
        ASSERT_GT(bytes.size(), 18u);
        EXPECT_TRUE(std::equal(kUasLocalSetKey.begin(), kUasLocalSetKey.end(), bytes.begin()));
        EXPECT_EQ(bytes[16], 0x81);
        EXPECT_EQ(bytes[17], bytes.size() - 18);
        EXPECT_GE(bytes[17], 128);
        KlvPacket p;
        ASSERT_TRUE(frameKlvPacket(bytes.data(), bytes.size(), p));
        EXPECT_EQ(p.size, bytes.size());
        EXPECT_EQ(verifyChecksum(p), ChecksumStatus::Ok);
        std::set<int> expected = {1, 2, 3, 5, 6, 7, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 65};
        if (withCentre) {
            expected.insert({23, 24, 25});
        }
        EXPECT_EQ(itemTags(p), expected);
        // The checksum is the last item.
        EXPECT_EQ(bytes[bytes.size() - 4], 0x01);
    }
}

TEST(EncodeFlightPacket, DecodesToTheValuesWithinTheirStoredResolution) {
    const KlvRecord r = sampleRecord();
    const std::vector<unsigned char> bytes = encodeFlightPacket(r);
    KlvRecord back;
    ASSERT_EQ(parseItems(back, bytes.data() + 18, bytes[17]), kKlvOk);
    EXPECT_EQ(back.timestamp, r.timestamp);
    EXPECT_NEAR(back.platformHeading, r.platformHeading, 360.0 / 65535);
    EXPECT_EQ(back.platformPitch, 0.0);
    EXPECT_EQ(back.platformRoll, 0.0);
    EXPECT_NEAR(back.sensorLatitude, r.sensorLatitude, 90.0 / 2147483647);
    EXPECT_NEAR(back.sensorLongitude, r.sensorLongitude, 180.0 / 2147483647);
    EXPECT_NEAR(back.sensorAltitude, r.sensorAltitude, 19900.0 / 65535);
    EXPECT_NEAR(back.horizontalFov, r.horizontalFov, 180.0 / 65535);
    EXPECT_NEAR(back.verticalFov, r.verticalFov, 180.0 / 65535);
    EXPECT_NEAR(back.sensorAzimuth, r.sensorAzimuth, 360.0 / 4294967295.0);
    EXPECT_NEAR(back.sensorElevation, r.sensorElevation, 180.0 / 2147483647);
    EXPECT_EQ(back.sensorRoll, 0.0);
    EXPECT_NEAR(back.frameCenterLatitude, r.frameCenterLatitude, 90.0 / 2147483647);
    EXPECT_NEAR(back.frameCenterElevation, r.frameCenterElevation, 19900.0 / 65535);
}

TEST(CameraFromPacket, IsTheCameraOfTheDecodedValues) {
    const std::vector<unsigned char> bytes = encodeFlightPacket(sampleRecord());
    const Camera c = cameraFromPacket(bytes, 1280, 720);
    KlvRecord back;
    parseItems(back, bytes.data() + 18, bytes[17]);
    const double fov[2] = {back.horizontalFov, back.verticalFov};
    // The viewer's height rule: tag 75, else tag 15 (mean sea level) plus the geoid.
    const double height =
        back.carries(&KlvRecord::sensorEllipsoidHeight)
            ? back.sensorEllipsoidHeight
            : back.sensorAltitude + geoidHeightEgm96(back.sensorLatitude, back.sensorLongitude);
    const double position[3] = {back.sensorLatitude, back.sensorLongitude, height};
    const double sensor[3] = {back.sensorAzimuth, back.sensorElevation, back.sensorRoll};
    const double platform[3] = {back.platformHeading, back.platformPitch, back.platformRoll};
    Camera expected(1280, 720);
    expected.updatePose(fov, position, sensor, platform);
    // Bit for bit: the viewer must draw its overlay with exactly this pose.
    EXPECT_EQ(c.intrinsics, expected.intrinsics);
    EXPECT_EQ(c.rotation, expected.rotation);
    EXPECT_EQ(c.position, expected.position);
    EXPECT_EQ(c.imageWidth, 1280.0);
    EXPECT_THROW(cameraFromPacket({1, 2, 3}, 1280, 720), std::invalid_argument);
}

TEST(FlightTelemetry, DescribesAHoverLookingDown) {
    const HoverTrajectory hover({33.4, -115.7, 2500.0}, 250.0);
    const PlainGround ground(-40.0);
    SensorPlan sensor;
    sensor.horizontalFov = 30.0;
    sensor.verticalFov = 17.0;
    const FlightTelemetry telemetry(hover, sensor, ground, 30);
    const KlvRecord r = telemetry.at(45);
    EXPECT_EQ(r.timestamp, kFlightEpochMicroseconds + 1500000.0);
    EXPECT_EQ(telemetry.secondsOf(45), 1.5);
    EXPECT_EQ(r.sensorLatitude, 33.4);
    EXPECT_EQ(r.sensorLongitude, -115.7);
    // Tag 15 above mean sea level, tag 75 above the ellipsoid.
    const double geoid = geoidHeightEgm96(33.4, -115.7);
    EXPECT_LT(geoid, -30.0); // about -34 m over the Salton basin
    EXPECT_DOUBLE_EQ(r.sensorAltitude, 2500.0 - geoid);
    EXPECT_EQ(r.sensorEllipsoidHeight, 2500.0);
    EXPECT_TRUE(r.carries(&KlvRecord::sensorEllipsoidHeight));
    EXPECT_EQ(r.platformHeading, 250.0);
    EXPECT_EQ(r.sensorAzimuth, 0.0);
    EXPECT_EQ(r.sensorElevation, -90.0);
    EXPECT_EQ(r.horizontalFov, 30.0);
    EXPECT_EQ(r.verticalFov, 17.0);
    // Straight down: the frame centre is the point below, on the ground.
    EXPECT_NEAR(r.frameCenterLatitude, 33.4, 1e-9);
    EXPECT_NEAR(r.frameCenterLongitude, -115.7, 1e-9);
    EXPECT_NEAR(r.frameCenterElevation, -40.0 - geoid, 1e-3);
    // The corners of a picture looking straight down lie symmetrically about the point below:
    // north and south of it by the same angle, the right half east of a heading of 250.
    ASSERT_TRUE(r.hasCorners);
    EXPECT_NEAR(r.cornerLatitude[0] + r.cornerLatitude[2], 2 * 33.4, 1e-6);
    EXPECT_NEAR(r.cornerLongitude[1] + r.cornerLongitude[3], 2 * -115.7, 1e-6);
    EXPECT_EQ(telemetry.at(-30).timestamp, kFlightEpochMicroseconds - 1e6);
}

TEST(FlightTelemetry, LooksAtTheTargetAndCentresTheFrameOnIt) {
    const HoverTrajectory hover({33.4, -115.7, 2500.0}, 30.0);
    const PlainGround ground(-8.0);
    SensorPlan sensor;
    sensor.horizontalFov = 30.0;
    sensor.verticalFov = 17.0;
    sensor.target = geodeticToEcef(33.41, -115.72, -8.0);
    const FlightTelemetry telemetry(hover, sensor, ground, 25);
    const KlvRecord r = telemetry.at(3);
    EXPECT_NEAR(r.frameCenterLatitude, 33.41, 1e-8);
    EXPECT_NEAR(r.frameCenterLongitude, -115.72, 1e-8);
    EXPECT_NEAR(r.frameCenterElevation, -8.0 - geoidHeightEgm96(33.41, -115.72), 1e-3);
    const Camera c = cameraFromPacket(encodeFlightPacket(r), 640, 360);
    const Eigen::Vector2d uv = c.projectGeodetic(33.41, -115.72, -8.0);
    // Through the stored resolution of the angles and the height: within a tenth of a pixel.
    EXPECT_NEAR(uv.x(), 320.0, 0.1);
    EXPECT_NEAR(uv.y(), 180.0, 0.1);
}

TEST(FlightTelemetry, LooksAheadBelowTheHorizon) {
    const HoverTrajectory hover({33.4, -115.7, 2500.0}, 90.0); // heading east
    const PlainGround ground(0.0);
    SensorPlan sensor;
    sensor.depression = 30.0;
    const FlightTelemetry telemetry(hover, sensor, ground, 30);
    const KlvRecord r = telemetry.at(0);
    EXPECT_EQ(r.sensorAzimuth, 0.0);
    EXPECT_EQ(r.sensorElevation, -30.0);
    // The frame centre lies due east, 2500 / tan 30 degrees away over the ground (flat
    // within a few metres over 4.3 km).
    EXPECT_NEAR(r.frameCenterLatitude, 33.4, 1e-4);
    EXPECT_GT(r.frameCenterLongitude, -115.7);
    const double distance = (geodeticToEcef(r.frameCenterLatitude, r.frameCenterLongitude, 0.0) -
                             geodeticToEcef(33.4, -115.7, 0.0))
                                .norm();
    EXPECT_NEAR(distance, 2500.0 / std::tan(30.0 * kDegToRad), 10.0);
}

TEST(FlightTelemetry, LeavesOutTheFrameCentreWhenTheSensorSeesNoGround) {
    const HoverTrajectory hover({33.4, -115.7, 2500.0}, 0.0);
    const PlainGround ground(0.0);
    SensorPlan sensor;
    sensor.target = geodeticToEcef(33.4, -115.7, 9000.0); // straight up
    const FlightTelemetry telemetry(hover, sensor, ground, 30);
    const KlvRecord r = telemetry.at(0);
    EXPECT_NEAR(r.sensorElevation, 90.0, 1e-9);
    EXPECT_TRUE(std::isnan(r.frameCenterLatitude));
    const std::vector<unsigned char> bytes = encodeFlightPacket(r);
    KlvPacket p;
    ASSERT_TRUE(frameKlvPacket(bytes.data(), bytes.size(), p));
    EXPECT_EQ(itemTags(p).count(23), 0u);
}

} // namespace
} // namespace skyframe
